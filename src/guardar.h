// Saving the files in progress: written out at every end and, with resume asked, synced with
// their records every few seconds, so that a later run resumes them.
#ifndef GUARDAR_H
#define GUARDAR_H

#include <cstdint>
#include <cstdio>

#include "ficheros.h"

/// Writes out the parts that wait in write buffers, as before output is shown while idle.
void VolcarFicheros(AlmacenFicheros &almacen, FILE *salida);

/// At any end: writes out every file in progress and, with reanudar, syncs it to disk and
/// writes its record, so that a later run resumes it.
void GuardarFicherosEnCurso(AlmacenFicheros &almacen, FILE *salida);

/// With reanudar, every few seconds (ahora in monotonic seconds): saves the files in progress as
/// at an end, so that a process killed without warning loses only those seconds.
void GuardarSiToca(AlmacenFicheros &almacen, int64_t ahora, FILE *salida);

#endif
