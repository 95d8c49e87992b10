// The kernel's requests on a multicast group for a socket: join, leave, and whether a membership
// is held on an interface.
#ifndef GRUPO_H
#define GRUPO_H

#include <netinet/in.h>
#include <sys/socket.h>

#include <vector>

/// Joins grupo on the interface of that index, or of that address (index 0, IPv4), or with
/// neither on the one the routing table gives; with senders (fuentes) asked for, once for each
/// of them alone, so that the network does not even bring the others. False, with errno set,
/// when a join is refused.
bool UnirseAlGrupo(int sock, const sockaddr_storage &grupo,
                   const std::vector<sockaddr_storage> &fuentes, unsigned indice,
                   in_addr_t direccion);

/// Leaves the membership on the interface of that index, also when the interface is gone, or by
/// the address it was joined with (index 0); false when the socket held none there.
bool DejarElGrupo(int sock, const sockaddr_storage &grupo, unsigned indice, in_addr_t direccion);

/// Whether the socket holds a membership of grupo on the interface of that index: the kernel
/// answers for a socket's filter only there.
bool MembresiaSostenida(int sock, const sockaddr_storage &grupo, unsigned indice);

#endif
