// The layout of a file in progress (its part count and part size): whether a datagram fits it,
// and the file following a sender that changed it.
#ifndef DISPOSICION_H
#define DISPOSICION_H

#include <cstdint>
#include <cstdio>

#include "ficheros.h"
#include "formato.h"

/// A datagram of another layout than its file in progress (or than the record of a file just
/// resumed) is refused, with one line. When the next datagram of the file brings that layout
/// again, the sender changed the file: it starts afresh in the new layout, with one line. Late
/// datagrams of the layout left behind are refused, so that they cannot make it start once more.
/// The file started afresh keeps the first datagram of its new layout (parte_propuesta), to be
/// taken before this one. contenido and largo are the datagram's content, tamparte the loop's
/// part size. Returns the file's index, or -1 when the datagram is refused.
int SeguirLaDisposicion(AlmacenFicheros &almacen, int cual, const DatagramaActual &actual,
                        int32_t tamparte, const unsigned char *contenido, int32_t largo,
                        FILE *salida);

#endif
