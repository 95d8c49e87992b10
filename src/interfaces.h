// The interface that a membership is asked for, found by its name, its IPv4 address or its
// index, and the host's own addresses.
#ifndef INTERFACES_H
#define INTERFACES_H

#include <netinet/in.h>

/// The address is one of this host's: a socket can be bound to it. No listing of the interfaces
/// needed (a sandbox may forbid the netlink sockets that list them). False otherwise, with errno.
bool DireccionPropia(in_addr_t direccion);

/// The interface with that name, or for a group of familia AF_INET that has that IPv4 address,
/// or for AF_INET6 that index, as its index. When the interfaces cannot be listed, an IPv4
/// address of this host stands for its interface, as direccion, with the index 0: the kernel
/// finds the interface from it. False when there is none, with errno saying which is missing.
bool BuscarInterfaz(int familia, const char *interfaz, unsigned &indice, in_addr_t &direccion);

#endif
