// Completing a file: from its last part to its final name, in one sequence, and the
// announcement of the files whose new name waits for the directory to reach the disk.
#ifndef COMPLETAR_H
#define COMPLETAR_H

#include <cstddef>
#include <cstdio>

#include "ficheros.h"

/// Once no part is missing: writes the file out, puts a last part that came early in its place,
/// cuts the file to its length, syncs it when resuming is asked, marks its hand-off when a
/// program takes completed files, and renames it once every part is known to be in it. A
/// failure on the way leaves it in progress with the parts concerned missing again; a failed
/// rename leaves it out of progress. With resume asked, the directory is synced after the
/// rename; when that fails, the file keeps its final name and waits in sin_anunciar for
/// AnunciarSiEstanEnDisco. Returns whether it took its final name for good, announced only then.
bool CompletarFichero(AlmacenFicheros &almacen, std::size_t cual, FILE *salida);

/// Announces the completed files whose new name waits for a sync of the directory, once one
/// succeeds.
void AnunciarSiEstanEnDisco(AlmacenFicheros &almacen, FILE *salida);

#endif
