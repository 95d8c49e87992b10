#include "grupo.h"

#include <cstring>

#include "direcciones.h"

// The group's IPv4 address, for the calls that only IPv4 has.
static in_addr_t Ipv4(const sockaddr_storage &grupo) {
  sockaddr_in ipv4;
  memcpy(&ipv4, &grupo, sizeof ipv4);
  return ipv4.sin_addr.s_addr;
}

// A join or a leave of the whole group, with all its senders, on the interface of that index.
static bool Grupo(int sock, const sockaddr_storage &grupo, int orden, unsigned indice) {
  group_req peticion{};
  peticion.gr_interface = indice;
  peticion.gr_group = grupo;
  return setsockopt(sock, NivelIp(grupo), orden, &peticion, sizeof peticion) == 0;
}

// A join or a leave of the whole group on the interface that has that address, or with 0 on the
// one the routing table gives.
static bool GrupoPorDireccion(int sock, const sockaddr_storage &grupo, int orden,
                              in_addr_t interfaz) {
  ip_mreqn peticion{};
  peticion.imr_multiaddr.s_addr = Ipv4(grupo);
  peticion.imr_address.s_addr = interfaz;
  return setsockopt(sock, IPPROTO_IP, orden, &peticion, sizeof peticion) == 0;
}

// Each sender alone, on the interface that has that address.
static bool FuentesPorDireccion(int sock, const sockaddr_storage &grupo,
                                const std::vector<sockaddr_storage> &fuentes, in_addr_t interfaz) {
  for (const sockaddr_storage &fuente : fuentes) {
    ip_mreq_source peticion{};
    sockaddr_in ipv4;
    memcpy(&ipv4, &fuente, sizeof ipv4);
    peticion.imr_multiaddr.s_addr = Ipv4(grupo);
    peticion.imr_interface.s_addr = interfaz;
    peticion.imr_sourceaddr = ipv4.sin_addr;
    if (setsockopt(sock, IPPROTO_IP, IP_ADD_SOURCE_MEMBERSHIP, &peticion, sizeof peticion) < 0)
      return false;
  }
  return true;
}

bool UnirseAlGrupo(int sock, const sockaddr_storage &grupo,
                   const std::vector<sockaddr_storage> &fuentes, unsigned indice,
                   in_addr_t direccion) {
  bool ipv4 = grupo.ss_family == AF_INET;
  if (indice == 0 && !fuentes.empty() && direccion != 0)
    return FuentesPorDireccion(sock, grupo, fuentes, direccion);
  if (indice == 0 && fuentes.empty() && ipv4)
    return GrupoPorDireccion(sock, grupo, IP_ADD_MEMBERSHIP, direccion);
  if (fuentes.empty()) return Grupo(sock, grupo, MCAST_JOIN_GROUP, indice);
  for (const sockaddr_storage &fuente : fuentes) {
    group_source_req peticion{};
    peticion.gsr_interface = indice;
    peticion.gsr_group = grupo;
    peticion.gsr_source = fuente;
    if (setsockopt(sock, NivelIp(grupo), MCAST_JOIN_SOURCE_GROUP, &peticion,
                   sizeof peticion) < 0)
      return false;
  }
  return true;
}

bool DejarElGrupo(int sock, const sockaddr_storage &grupo, unsigned indice,
                  in_addr_t direccion) {
  if (indice == 0 && direccion != 0)
    return GrupoPorDireccion(sock, grupo, IP_DROP_MEMBERSHIP, direccion);
  return indice != 0 && Grupo(sock, grupo, MCAST_LEAVE_GROUP, indice);
}

bool MembresiaSostenida(int sock, const sockaddr_storage &grupo, unsigned indice) {
  group_filter filtro{};
  filtro.gf_interface = indice;
  filtro.gf_group = grupo;
  socklen_t largo = sizeof filtro;
  return getsockopt(sock, NivelIp(grupo), MCAST_MSFILTER, &filtro, &largo) == 0;
}
