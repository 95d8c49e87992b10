// Handing datagrams to the kernel: the pace's turn, the pauses that redraw the progress line,
// and the retries of a full queue or of a network that is out.
#ifndef EMISOR_MANDO_H
#define EMISOR_MANDO_H

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>

#include "estado_envio.h"
#include "ficheros.h"
#include "opciones.h"

/// Sleeps ns, redrawing the progress line meanwhile; a signal ends it early.
void Pausar(Envio &envio, int64_t ns);

/// Waits until the next datagram is due; false when a signal asks to stop.
bool EsperarTurno(Envio &envio);

/// Sends the total bytes of envio.datagrama, cuantos datagrams from parte on: a full queue is
/// waited out a few times and then counted as not sent; in a carrusel, a network that is out is
/// told once and tried again until it comes back. Returns kCompleto, kSenal, or kError once it
/// has said the error.
Fin Mandar(Envio &envio, const Opciones &opciones, std::size_t total, uint64_t cuantos,
           const Fichero &fichero, uint32_t parte);

/// Sends one datagram of the side channel to destino, its full queue waited out a few times;
/// false when it did not leave (any failure but a full queue is the data's to tell).
bool MandarLateral(Envio &envio, const sockaddr_storage &destino, const unsigned char *datos,
                   std::size_t largo);

#endif
