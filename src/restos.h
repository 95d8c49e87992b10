// Leftovers of files no longer in progress: temporary files and records that an earlier run
// left and no sender has completed since. Listed for the status file, and removed once they
// have not changed for the time asked.
#ifndef RESTOS_H
#define RESTOS_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "ficheros.h"

/// Leftovers, and files in progress that stopped growing, are looked at again this often, besides
/// at the start.
inline constexpr int64_t kMsEntreRepasos = 60 * 1000;

/// In the working directory: lists in almacen.restos the temporary files and records of files
/// not in progress, and, when almacen.opciones.caducar_s is set, removes those that have not
/// changed for that long, each told in one line as a file dropped is; so are the files in progress
/// without a new part for that long, dropped with everything they keep on disk. ahora_ms is the
/// monotonic clock's, kept to tell when the next look is due.
void RepasarRestos(AlmacenFicheros &almacen, int64_t ahora_ms, FILE *salida);

/// The same, once kMsEntreRepasos have passed since the last look, or half the time to age out
/// when that is shorter (a second at least).
void RepasarRestosSiToca(AlmacenFicheros &almacen, int64_t ahora_ms, FILE *salida);

/// A stored file needs no temporary file nor record: an earlier run that ended between the
/// rename and the record's removal, or a file that came by other means, leaves them, and so may
/// the version of the datagram's sender origen (nullptr: not known). Removes them, side copies
/// included, once for each among the last few, unless the file is in progress or, with new
/// versions taken, they are a new version an earlier run left to resume.
void LimpiarRestos(AlmacenFicheros &almacen, const std::string &identidad,
                   const sockaddr_storage *origen);

#endif
