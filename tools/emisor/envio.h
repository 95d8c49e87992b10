// The send: the passes over the files, and each datagram paced, built, and handed
// to the kernel until it takes it.
#ifndef EMISOR_ENVIO_H
#define EMISOR_ENVIO_H

#include <vector>

#include "estado_envio.h"
#include "ficheros.h"
#include "opciones.h"

/// Seeds the draws, counts the datagrams of the run, and starts the schedule and the line.
void PrepararEnvio(Envio &envio, const Opciones &opciones, const std::vector<Fichero> &ficheros);

/// Sends every pass over the files, each file opciones.repeticiones times in a row and opened
/// afresh for each send. Returns kCompleto, kSenal, or kError once it has said the error: a
/// file that cannot be sent as it is now, or a datagram that fails for a reason other than a
/// full queue. A carrusel leaves such a file for its next send instead, says each problem once
/// while it lasts, and tries a datagram again while the network is out, until it leaves.
Fin EnviarTodo(Envio &envio, const Opciones &opciones, std::vector<Fichero> &ficheros);

#endif
