// Starting a file in progress: room made for it, the names it goes by on disk and in the log,
// and its temporary file, resumed from an earlier run's record or made anew.
#ifndef EMPEZAR_H
#define EMPEZAR_H

#include <cstdint>
#include <cstdio>

#include "ficheros.h"
#include "formato.h"

/// Most versions of one file from different senders in progress at once.
inline constexpr int kMaxVersiones = 4;

/// Starts the file of the datagram, whose content is largo bytes and whose sender is origen
/// (nullptr: not known), after making room for it: resumed from its record when asked and
/// possible, otherwise in a new temporary file, with its record removed; with versions told
/// apart, named with its sender while another's is in progress (see ElegirRaiz). Returns its
/// index. Ends the process through DieWithError when the temporary
/// file cannot be created.
int EmpezarFichero(AlmacenFicheros &almacen, const DatagramaActual &actual,
                   const sockaddr_storage *origen, int32_t tamparte, int32_t largo, FILE *salida);

#endif
