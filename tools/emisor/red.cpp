#include "red.h"

#include <netinet/in.h>
#include <netinet/udp.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "direcciones.h"
#include "fallo.h"

// The hop limit, the error reports and the interface, each in its family's option: IPv6
// chooses the interface by its index alone.
static void AjustarFamilia(int sock, const Opciones &opciones) {
  bool ipv6 = opciones.destino.ss_family == AF_INET6;
  int nivel = NivelIp(opciones.destino), ttl = opciones.ttl, si = 1;
  if (setsockopt(sock, nivel, ipv6 ? IPV6_MULTICAST_HOPS : IP_MULTICAST_TTL, &ttl, sizeof ttl) < 0)
    Rechazar("Error al fijar el TTL: %s\n", strerror(errno));
  if (setsockopt(sock, nivel, ipv6 ? IPV6_RECVERR : IP_RECVERR, &si, sizeof si) < 0)
    Rechazar("Error al crear el socket: %s\n", strerror(errno));
  if (opciones.interfaz == nullptr) return;
  // an address with the index 0 is taken as the bare address would be
  const ip_mreqn &elegida = opciones.interfaz_elegida;
  int indice = elegida.imr_ifindex;
  if ((ipv6 ? setsockopt(sock, nivel, IPV6_MULTICAST_IF, &indice, sizeof indice)
            : setsockopt(sock, nivel, IP_MULTICAST_IF, &elegida, sizeof elegida)) < 0)
    Rechazar("Error al elegir la interfaz %s: %s\n", opciones.interfaz, strerror(errno));
}

// IP_RECVERR makes the kernel tell this socket when a queue below it drops a datagram; without
// it the drop is silent and sendto reports success.
int AbrirEmisor(const Opciones &opciones) {
  int sock = socket(opciones.destino.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (sock < 0) Rechazar("Error al crear el socket: %s\n", strerror(errno));
  AjustarFamilia(sock, opciones);
  // the kernel cuts each run it is handed into datagrams of this size, the last one shorter
  int segmento = TamCabecera + opciones.tamparte;
  if (opciones.gso && setsockopt(sock, SOL_UDP, UDP_SEGMENT, &segmento, sizeof segmento) < 0)
    Rechazar("El nucleo no admite el envio en tandas (--gso): %s\n", strerror(errno));
  return sock;
}
