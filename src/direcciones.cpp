#include "direcciones.h"

#include <arpa/inet.h>

#include <cstddef>
#include <cstring>

// The address within a socket address of its family, and its length: the port and the rest
// are left out. Read and written through bytes, as the storage is no sockaddr_in6.
static std::size_t LargoDentro(const sockaddr_storage &direccion) {
  return direccion.ss_family == AF_INET6 ? sizeof(in6_addr) : sizeof(in_addr);
}

static unsigned char *Dentro(sockaddr_storage &direccion) {
  return reinterpret_cast<unsigned char *>(&direccion) + (direccion.ss_family == AF_INET6
                                                              ? offsetof(sockaddr_in6, sin6_addr)
                                                              : offsetof(sockaddr_in, sin_addr));
}

static const unsigned char *Dentro(const sockaddr_storage &direccion) {
  return Dentro(const_cast<sockaddr_storage &>(direccion));
}

// The port sits at the same place in both families.
void PonerPuerto(sockaddr_storage &direccion, uint16_t puerto) {
  uint16_t red = htons(puerto);
  memcpy(reinterpret_cast<unsigned char *>(&direccion) + offsetof(sockaddr_in, sin_port), &red,
         sizeof red);
}

bool LeerGrupoIpv6(const char *texto, uint16_t puerto, sockaddr_storage &grupo) {
  in6_addr direccion;
  if (inet_pton(AF_INET6, texto, &direccion) != 1 || !IN6_IS_ADDR_MULTICAST(&direccion))
    return false;
  grupo = {};
  grupo.ss_family = AF_INET6;
  memcpy(Dentro(grupo), &direccion, sizeof direccion);
  PonerPuerto(grupo, puerto);
  return true;
}

sockaddr_storage LeerGrupo(const char *texto, uint16_t puerto) {
  sockaddr_storage grupo{};
  if (LeerGrupoIpv6(texto, puerto, grupo)) return grupo;
  grupo.ss_family = AF_INET;
  in_addr_t direccion = inet_addr(texto);
  memcpy(Dentro(grupo), &direccion, sizeof direccion);
  PonerPuerto(grupo, puerto);
  return grupo;
}

bool LeerDireccion(const char *texto, int familia, sockaddr_storage &direccion) {
  direccion = {};
  direccion.ss_family = static_cast<sa_family_t>(familia);
  return inet_pton(familia, texto, Dentro(direccion)) == 1;
}

int NivelIp(const sockaddr_storage &direccion) {
  return direccion.ss_family == AF_INET6 ? IPPROTO_IPV6 : IPPROTO_IP;
}

socklen_t LargoDireccion(const sockaddr_storage &direccion) {
  return direccion.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

std::string TextoDeEmisor(const sockaddr_storage *origen) {
  return origen != nullptr ? TextoDeDireccion(*origen) : "";
}

bool MismaDireccion(const sockaddr_storage &a, const sockaddr_storage &b) {
  if (a.ss_family != b.ss_family) return false;
  return memcmp(Dentro(a), Dentro(b), LargoDentro(a)) == 0;
}

// A group that the kernel binds only with an interface (IPv6's interface and link scopes), or
// no group: the socket takes the port on every address of the family.
static bool SinDireccionLocal(const sockaddr_storage &grupo) {
  const unsigned char *direccion = Dentro(grupo);
  if (grupo.ss_family != AF_INET6) {
    in_addr_t ipv4;
    memcpy(&ipv4, direccion, sizeof ipv4);
    return !IN_MULTICAST(ntohl(ipv4));
  }
  in6_addr ipv6;
  memcpy(&ipv6, direccion, sizeof ipv6);
  return IN6_IS_ADDR_MC_NODELOCAL(&ipv6) || IN6_IS_ADDR_MC_LINKLOCAL(&ipv6);
}

sockaddr_storage DireccionLocal(const sockaddr_storage &grupo) {
  sockaddr_storage local = grupo;
  // the any address is all zeros in both families
  if (SinDireccionLocal(grupo)) memset(Dentro(local), 0, LargoDentro(local));
  return local;
}

std::string TextoDeDireccion(const sockaddr_storage &direccion) {
  char texto[INET6_ADDRSTRLEN] = "";
  const void *bytes =
      direccion.ss_family == AF_INET6
          ? static_cast<const void *>(&reinterpret_cast<const sockaddr_in6 &>(direccion).sin6_addr)
          : static_cast<const void *>(&reinterpret_cast<const sockaddr_in &>(direccion).sin_addr);
  if (direccion.ss_family != AF_INET && direccion.ss_family != AF_INET6) return "";
  inet_ntop(direccion.ss_family, bytes, texto, sizeof texto);
  return texto;
}
