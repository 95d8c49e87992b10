#include "interfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

bool DireccionPropia(in_addr_t direccion) {
  // any address binds, and is no interface's
  if (direccion == htonl(INADDR_ANY)) {
    errno = EADDRNOTAVAIL;
    return false;
  }
  int sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (sock < 0) return false;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = direccion;
  bool propia = bind(sock, reinterpret_cast<sockaddr *>(&local), sizeof local) == 0;
  int error = errno;
  close(sock);
  errno = error;
  return propia;
}

// An interface given by its index, as the kernel numbers it (ip link shows it).
static bool PorIndice(const char *interfaz, unsigned &indice) {
  char *fin, nombre[IF_NAMESIZE];
  unsigned long numero = strtoul(interfaz, &fin, 10);
  if (interfaz[0] < '0' || interfaz[0] > '9' || *fin != '\0' || numero > UINT_MAX ||
      if_indextoname(static_cast<unsigned>(numero), nombre) == nullptr)
    return false;
  indice = static_cast<unsigned>(numero);
  return true;
}

// An IPv6 membership's interface, by its name or its index; ENODEV when there is none.
static bool BuscarInterfazIpv6(const char *interfaz, unsigned &indice) {
  if ((indice = if_nametoindex(interfaz)) != 0 || PorIndice(interfaz, indice)) return true;
  errno = ENODEV;
  return false;
}

bool BuscarInterfaz(int familia, const char *interfaz, unsigned &indice, in_addr_t &direccion) {
  in_addr pedida;
  indice = 0;
  direccion = 0;
  if (familia == AF_INET6) return BuscarInterfazIpv6(interfaz, indice);
  // an unknown name leaves ENODEV; the name is looked up without listing
  if (inet_pton(AF_INET, interfaz, &pedida) != 1) return (indice = if_nametoindex(interfaz)) != 0;
  ifaddrs *lista = nullptr;
  if (getifaddrs(&lista) != 0) {
    if (!DireccionPropia(pedida.s_addr)) return false;
    direccion = pedida.s_addr;
    return true;
  }
  for (const ifaddrs *i = lista; i != nullptr && indice == 0; i = i->ifa_next)
    if (i->ifa_addr != nullptr && i->ifa_addr->sa_family == AF_INET &&
        reinterpret_cast<const sockaddr_in *>(i->ifa_addr)->sin_addr.s_addr == pedida.s_addr)
      indice = if_nametoindex(i->ifa_name);
  freeifaddrs(lista);
  if (indice == 0) errno = EADDRNOTAVAIL;
  return indice != 0;
}
