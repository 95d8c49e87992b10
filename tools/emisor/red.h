// The sending socket: where the datagrams leave, how far they go, and how runs are cut.
#ifndef EMISOR_RED_H
#define EMISOR_RED_H

#include "opciones.h"

/// Opens the socket that sends to the group in its family, IPv4 or IPv6, with its TTL (IPv6's
/// hop limit) and interface, and with --gso the
/// size of each datagram of a run. Ends the sender on failure.
int AbrirEmisor(const Opciones &opciones);

#endif
