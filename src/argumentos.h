// The receiver's command line: the options before the three arguments, and the arguments.
#ifndef ARGUMENTOS_H
#define ARGUMENTOS_H

#include <sys/socket.h>

#include <cstdint>
#include <vector>

#include "claves.h"
#include "entrada.h"
#include "ficheros.h"

/// What the command line asks for, fixed for the run.
struct Argumentos {
  const char *grupo;                   // multicast group address, as given
  int familia = AF_INET;               // its family, which the senders take: AF_INET6 for an
                                       // IPv6 multicast address, AF_INET for any other text
  uint16_t puerto;                     // UDP port, cut to 16 bits
  int modo;                            // 0 dump, 2 store files, any other the summary line
  OpcionesAlmacen almacen;             // how files are kept
  OpcionesEntrada entrada;             // where the group is joined, and whose datagrams count
  const char *directorio = nullptr;    // where files are rebuilt; nullptr: the working one
  const char *al_completar = nullptr;  // program run on each completed file; nullptr: none
  const char *estado = nullptr;        // status file kept up to date; nullptr: none
  std::vector<ClavePublica> claves;    // whose signed descriptions parts are checked against;
                                       // none: no check, no side channel
  uint16_t puerto_lateral = 0;         // the side channel's port; 0 until the data port's
  bool reparar = false;                // mode 2 takes the side channel's repair datagrams
};

/// Reads the options before the three arguments, then converts those as atoi would. With fewer
/// than three arguments, writes the usage text to standard error and ends the process with
/// kSalidaUso. --help and --version print on standard output and end it with 0. A wrong option
/// or value, or a port that reads as 0, is named on standard error and ends it with kSalidaUso.
Argumentos LeerArgumentos(int argc, char **argv);

#endif
