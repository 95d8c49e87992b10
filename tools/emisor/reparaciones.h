// Repair datagrams (--fec K:M): after each send of a file's parts, M repair rows of every block
// of K parts, on the side channel, so that a receiver that lost up to M of a block's K + M
// datagrams rebuilds them without the next pass (lateral.h lays out the blocks and the rows).
#ifndef EMISOR_REPARACIONES_H
#define EMISOR_REPARACIONES_H

#include <netinet/in.h>

#include <vector>

#include "borrado.h"
#include "estado_envio.h"
#include "ficheros.h"
#include "opciones.h"
#include "reparacion.h"

/// Blocks of a window: a burst of lost datagrams up to this many times M is rebuilt.
inline constexpr int kEntrelazado = 16;

/// The repairer of a run.
struct Reparador {
  Codigo codigo;                      // the code of --fec, kEntrelazado blocks a window
  CodigoBorrado borrado;              // its matrix and tables
  sockaddr_storage destino = {};      // the group and the side channel's port
  std::vector<unsigned char> partes;  // a window's parts, each padded with zeros to the part size
  std::vector<unsigned char> filas;   // its blocks' repair rows, by block
  unsigned char datagrama[kTamMaxPaquete];
};

/// A repair datagram carries kTamFijoReparacion bytes and the name before its row: more than a
/// data datagram's header once the name passes 14 bytes. Without -p, shortens the part so that
/// the repair datagrams of the longest name go unfragmented over Ethernet, as data datagrams do;
/// with -p, tells on standard error when they would not.
void AjustarParteAReparaciones(Opciones &opciones, const std::vector<Fichero> &ficheros);

/// Makes the code of --fec and sets where repair datagrams go; ends the sender, the problem
/// named, when a file's repair datagram would not fit one datagram or it has more parts than
/// they can name.
void PrepararReparador(Reparador &reparador, const Opciones &opciones,
                       const std::vector<Fichero> &ficheros);

/// Sends the repair rows of the opened file, window by window, each window's rows taken in turn
/// from its blocks, each datagram in its turn of the pace. Returns kSenal when a signal asks to
/// stop, kCompleto otherwise: a file that cannot be read now goes without them.
Fin MandarReparaciones(Envio &envio, Reparador &reparador, const Opciones &opciones,
                       const Fichero &fichero);

#endif
