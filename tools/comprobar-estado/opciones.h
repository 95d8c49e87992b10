// The check's command line: the status file, the limit of silence, the memory and the format.
#ifndef COMPROBAR_OPCIONES_H
#define COMPROBAR_OPCIONES_H

#include <cstdint>

/// What the command line asks for.
struct Opciones {
  const char *fichero = nullptr;  // the receiver's status file
  int64_t silencio_s = -1;        // longest time without a datagram; -1: only unjoined is deaf
  const char *memoria = nullptr;  // where the drops seen are kept between checks; nullptr none
  bool prometheus = false;        // the Prometheus text format instead of the plugin's line
};

/// Reads the command line into opciones. --help and --version print on standard output and end
/// with 0; a wrong option or value, or a missing or extra file, is named in one line on standard
/// error with a pointer to --help, and ends with kDesconocido, as monitoring plugins do.
void LeerOpciones(int argc, char **argv, Opciones &opciones);

#endif
