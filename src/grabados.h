// Files already stored: the probe of a final name, once per batch, and, when new versions are
// asked for, whether a datagram agrees with the stored file, through files kept open for it.
// Asked by the gathering of facts alone, which these caches serve.
#ifndef GRABADOS_H
#define GRABADOS_H

#include <string>

#include "entrada.h"
#include "ficheros.h"

/// Starts a batch of datagrams: final names are probed afresh, once each for the batch, and
/// stored files not compared for a while are closed.
void EmpezarLote(AlmacenFicheros &almacen);

/// Whether the final file of the identity is stored: it can be read. Asked of the disk once per
/// batch; primero says whether this was that time.
bool YaGrabado(AlmacenFicheros &almacen, const std::string &identidad, bool &primero);

/// A file completed within the batch is stored for the rest of it, in its new version; the quiet
/// log names it again when its datagrams come again.
void AnotarGrabado(AlmacenFicheros &almacen, const std::string &identidad);

/// Whether the datagram could belong to the stored file of its identity as it is: its layout
/// (part count, part size, the last part's length) fits the stored length, and its content is
/// what the file holds at its offset. Costs one read of one part, mostly from the page cache.
/// A final name that is no plain file, or that cannot be opened, agrees with everything: it is
/// never replaced.
bool IgualQueElGrabado(AlmacenFicheros &almacen, const DatagramaActual &actual,
                       const Paquete &paquete);

#endif
