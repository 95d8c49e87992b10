// The state of the receive loop, fields only: what the pass over each datagram keeps between
// datagrams, and what the status file reads of it.
#ifndef BUCLE_H
#define BUCLE_H

#include <cstdint>
#include <string>

/// The parts of the summary line that stay the same while the datagrams of one file follow one
/// another, kept from one line to the next: only the part number and the missing count change.
struct PrincipioDeResumen {
  uint64_t identidad = 0;   // the identity's number the start was built for; 0 before the first
  bool a_terminal = false;  // whether the name was shown without its control bytes
  std::string texto;        // the start, "T:0001|S:0002|Nom:datos|"
  int32_t totpartes = -1;   // the part count the middle was built for
  int32_t tamparte = -1;    // and the part size; -1 before the first
  std::string medio;        // the middle, "/300|MxPrt:1456|Fltn:"
};

/// State of the receive loop, living for the whole run.
struct Bucle {
  int modo = 1;                  // the mode from the command line
  int32_t tamparte = 0;          // content length of the latest datagram that was not a last part
  uint64_t datagramas = 0;       // datagrams taken since the start
  uint32_t descartados = 0;      // datagrams the kernel dropped for lack of room, so far
  int32_t excedido = 0;          // a part count over the limit, which asks the run to end; 0 none
  PrincipioDeResumen principio;  // the fixed parts of the latest summary line
};

#endif
