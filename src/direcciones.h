// Addresses of either family, IPv4 or IPv6, as the socket calls take them: the group, the
// senders, where the socket is bound. Shared by the receiver and the sender.
#ifndef DIRECCIONES_H
#define DIRECCIONES_H

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <string>

/// True when texto reads as an IPv6 multicast address (ff00::/8), stored with the port in grupo
/// as AF_INET6; grupo is left alone otherwise.
bool LeerGrupoIpv6(const char *texto, uint16_t puerto, sockaddr_storage &grupo);

/// The group and port the receiver binds and joins: an IPv6 multicast address as AF_INET6, any
/// other text as AF_INET, read as inet_addr reads it (a text that is no address, all ones).
sockaddr_storage LeerGrupo(const char *texto, uint16_t puerto);

/// Sets the port of an address of either family.
void PonerPuerto(sockaddr_storage &direccion, uint16_t puerto);

/// Reads a sender's address of the family given; false when texto is none.
bool LeerDireccion(const char *texto, int familia, sockaddr_storage &direccion);

/// The socket options' level of the address's family: IPPROTO_IP or IPPROTO_IPV6.
int NivelIp(const sockaddr_storage &direccion);

/// How many bytes of the storage the family's address takes.
socklen_t LargoDireccion(const sockaddr_storage &direccion);

/// The address as inet_ntop writes it, without the port; "" for a family that is neither.
std::string TextoDeDireccion(const sockaddr_storage &direccion);

/// A datagram's sender as TextoDeDireccion writes it; "" when it is not known (nullptr).
std::string TextoDeEmisor(const sockaddr_storage *origen);

/// Both hold the same address of the same family, whatever their ports.
bool MismaDireccion(const sockaddr_storage &a, const sockaddr_storage &b);

/// Where the receiver binds its socket for the group: the group itself, so that it takes
/// neither unicast datagrams sent to the port nor those of other groups joined on the host; any
/// address of the family for a group that is not multicast, so that the join reports it, or
/// that the kernel binds only with an interface (IPv6 link and node scopes).
sockaddr_storage DireccionLocal(const sockaddr_storage &grupo);

#endif
