// What of a file in progress is known to be on disk: the sync of its temporary file, and what
// a sync that fails takes away.
#ifndef SINCRONIA_H
#define SINCRONIA_H

#include <cstdio>

#include "ficheros.h"

/// Syncs the file's temporary file, whose buffer is already written out: true once every part
/// taken is on disk, which is then known of each. A failed sync is told on the error stream and
/// leaves no record; every part not known to be on disk is missing again, and the file goes on
/// in a new temporary file holding those that are, since the kernel tells a failed write-back
/// once and may not write back again what is written anew over it. When no new temporary file
/// can be made, the next sync tries again first, and fails until one can.
bool SincronizarTemporal(AlmacenFicheros &almacen, FicheroEnCurso &fichero, FILE *salida);

#endif
