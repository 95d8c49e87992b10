// Program frame: the command line, the loop state and the pass that every datagram takes.
#ifndef MARCO_H
#define MARCO_H

#include <cstdint>
#include <cstdio>

#include "entrada.h"
#include "ficheros.h"

/// State of the receive loop, living for the whole run.
struct EstadoBucle {
  int modo = 1;              // the mode from the command line
  int32_t tamparte = 0;      // content length of the latest datagram that was not a last part
  int32_t faltan = 0;        // parts still missing of the file in progress (mode 2 only)
  uint64_t datagramas = 0;   // datagrams taken since the start
  uint32_t descartados = 0;  // datagrams the kernel dropped for lack of room, so far
  struct FicheroEstado *informe = nullptr;  // the status file kept up to date, if asked for
  struct AlCompletar *hijos = nullptr;      // the program run on completed files, if asked for
};

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
