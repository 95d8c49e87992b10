// The file store of mode 2: what becomes of each datagram (refused, answered as stored, or taken
// into its file in progress, started when needed), and the files in progress written out and
// saved at every end and every few seconds.
#ifndef ALMACEN_H
#define ALMACEN_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "entrada.h"
#include "ficheros.h"

/// Handles one datagram in mode 2: refuses impossible ones, and those that do not fit their file
/// in progress, with a report line; answers those of an already stored file, starts a new file
/// (dropping the oldest when too many are in progress), takes a new part into its file's write
/// buffer, starts the file afresh when a part it holds comes again with other bytes, and once
/// no part is missing writes the file out and renames it, after which that file is no longer in
/// progress. tamparte is the loop's part size; faltan is left with the missing count of the file
/// touched last. Ends the process through DieWithError when a temporary file cannot be created.
void AlmacenarParte(AlmacenFicheros &almacen, const DatagramaActual &actual, const Paquete &paquete,
                    int32_t tamparte, int32_t &faltan, FILE *salida);

/// The missing count that the summary line shows: that of the datagram's own file when it is in
/// progress, of the file touched last otherwise (faltan, as the store left it).
int32_t FaltanParaResumen(const AlmacenFicheros &almacen, const DatagramaActual &actual,
                          const sockaddr_storage *origen, int32_t faltan);

/// Writes out the parts that wait in write buffers, as before output is shown while idle.
void VolcarFicheros(AlmacenFicheros &almacen, FILE *salida);

/// At any end: writes out every file in progress and, with reanudar, syncs it to disk and
/// writes its record, so that a later run resumes it.
void GuardarFicherosEnCurso(AlmacenFicheros &almacen, FILE *salida);

/// With reanudar, every few seconds (ahora in monotonic seconds): saves the files in progress as
/// at an end, so that a process killed without warning loses only those seconds.
void GuardarSiToca(AlmacenFicheros &almacen, int64_t ahora, FILE *salida);

#endif
