// Program frame: the command line, the loop state and the pass that every datagram takes.
#ifndef MARCO_H
#define MARCO_H

#include <cstdint>
#include <cstdio>

#include "almacen.h"
#include "entrada.h"

/// What the command line asks for, fixed for the run.
struct Argumentos {
  const char *grupo;        // multicast group address, as given
  uint16_t puerto;          // UDP port, cut to 16 bits
  int modo;                 // 0 dump, 2 store files, any other value the summary line alone
  OpcionesAlmacen almacen;  // the options before the three arguments
};

/// State of the receive loop, living for the whole run.
struct EstadoBucle {
  int modo = 1;          // the mode from the command line
  int32_t tamparte = 0;  // content length of the latest datagram that was not a last part
  int32_t faltan = 0;    // parts still missing of the file in progress (mode 2 only)
};

/// Reads the options before the three arguments, then converts those as atoi would. With fewer
/// than three arguments, writes the usage text to standard error and ends the process with
/// kSalidaUso; a wrong option or value is named on standard error and ends it with kSalidaUso.
Argumentos LeerArgumentos(int argc, char **argv);

/// The whole pass of one datagram: decoding, the part-count limit, the part size, the summary
/// line, the identity, then the dump (mode 0) or the file store (mode 2). A count over
/// MAX_TROZOS ends the process with kSalidaMaxTrozos, once the files in progress are saved.
void ProcesarPaquete(const Paquete &paquete, EstadoBucle &estado, DatagramaActual &actual,
                     AlmacenFicheros &almacen, FILE *salida);

/// The pass over the datagrams of the receptor's current batch, one after another, each exactly
/// as if it had come alone. Ends the batch.
void ProcesarLote(Receptor &receptor, EstadoBucle &estado, DatagramaActual &actual,
                  AlmacenFicheros &almacen, FILE *salida);

#endif
