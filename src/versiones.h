// Files already stored: the probe of a final name, once per batch, the answer to a datagram of
// a stored file, and, when new versions are asked for, whether a datagram agrees with the file.
#ifndef VERSIONES_H
#define VERSIONES_H

#include <cstdio>
#include <string>

#include "entrada.h"
#include "ficheros.h"

/// Starts a batch of datagrams: final names are probed afresh, once each for the batch.
void EmpezarLote(AlmacenFicheros &almacen);

/// Whether the final file of the identity is stored: it can be read. Asked of the disk once per
/// batch; primero says whether this was that time.
bool YaGrabado(AlmacenFicheros &almacen, const std::string &identidad, bool &primero);

/// A stored file needs no temporary file nor record: an earlier run that ended between the
/// rename and the record's removal, or a file that came by other means, leaves them, and so may
/// the version of the datagram's sender origen (nullptr: not known). Removes them, side copies
/// included, once for each among the last few, unless the file is in progress or, with new
/// versions taken, they are a new version an earlier run left to resume.
void LimpiarRestos(AlmacenFicheros &almacen, const std::string &identidad,
                   const sockaddr_storage *origen);

/// A file completed within the batch is stored for the rest of it, in its new version; the quiet
/// log names it again when its datagrams come again.
void AnotarGrabado(AlmacenFicheros &almacen, const std::string &identidad);

/// "Ya grabado antes...": for every datagram of a stored file, or on the quiet log once per run
/// and file, "<identidad>: Ya grabado antes...".
void DecirYaGrabado(AlmacenFicheros &almacen, const std::string &identidad, FILE *salida);

/// Whether the datagram could belong to the stored file of its identity as it is: its layout
/// (part count, part size, the last part's length) fits the stored length, and its content is
/// what the file holds at its offset. Costs one read of one part, mostly from the page cache.
/// A final name that is no plain file, or that cannot be opened, agrees with everything: it is
/// never replaced.
bool IgualQueElGrabado(AlmacenFicheros &almacen, const DatagramaActual &actual,
                       const Paquete &paquete);

#endif
