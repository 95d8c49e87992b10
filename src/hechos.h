// What the judgement of a datagram needs to know, gathered before it: the file in progress it
// goes to, whether its file is stored and agrees with it, whether a part taken before came
// again the same. The one step that asks the disk for a datagram, and owns the caches that
// spare it asking again within a batch.
#ifndef HECHOS_H
#define HECHOS_H

#include "entrada.h"
#include "ficheros.h"
#include "juicio.h"

/// Gathers the facts for the datagram; asks the disk nothing for one that JuzgarSinAlmacen
/// refuses. Keeps the file found for the next datagrams of its identity and sender in the batch.
Hechos ReunirHechos(AlmacenFicheros &almacen, const DatagramaActual &actual,
                    const Paquete &paquete);

/// The datagram's file in progress, as the batch's shortcut or the table say; -1 when none.
int FicheroDelDatagrama(const AlmacenFicheros &almacen, const DatagramaActual &actual,
                        const sockaddr_storage *origen);

/// The missing count that the summary line shows: that of the datagram's own file when it is in
/// progress, of the file touched last otherwise, even once it left the table.
int32_t FaltanParaResumen(const AlmacenFicheros &almacen, const DatagramaActual &actual,
                          const sockaddr_storage *origen);

#endif
