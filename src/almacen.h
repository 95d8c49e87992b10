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

/// Handles one datagram in mode 2: the facts its judgement needs are gathered (ReunirHechos),
/// it is judged (Juzgar), and the verdict's plan is carried out: a refusal with its line, the
/// answer of a stored file, a start (dropping the oldest file when too many are in progress),
/// a part taken into its file's write buffer, a file started afresh when a part it holds comes
/// again with other bytes, and, once no part is missing, the file completed. A start judges the
/// datagram again, against the file started. tamparte is the loop's part size. Ends the process
/// through DieWithError when a temporary file cannot be created.
void AlmacenarParte(AlmacenFicheros &almacen, const DatagramaActual &actual, const Paquete &paquete,
                    int32_t tamparte, FILE *salida);

/// A datagram refused as the verdict v says, with its line; one of another layout than its file
/// offers that layout.
void Rehusar(AlmacenFicheros &almacen, const struct Veredicto &v, const DatagramaActual &actual,
             const Paquete &paquete, FILE *salida);

#endif
