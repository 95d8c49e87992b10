#include "red.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/udp.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "fallo.h"

// IP_RECVERR makes the kernel tell this socket when a queue below it drops a datagram; without
// it the drop is silent and sendto reports success.
int AbrirEmisor(const Opciones &opciones) {
  int sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (sock < 0) Rechazar("Error al crear el socket: %s\n", strerror(errno));
  int ttl = opciones.ttl, si = 1;
  if (setsockopt(sock, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) < 0)
    Rechazar("Error al fijar el TTL: %s\n", strerror(errno));
  if (setsockopt(sock, IPPROTO_IP, IP_RECVERR, &si, sizeof si) < 0)
    Rechazar("Error al crear el socket: %s\n", strerror(errno));
  if (opciones.con_interfaz && setsockopt(sock, IPPROTO_IP, IP_MULTICAST_IF, &opciones.interfaz,
                                          sizeof opciones.interfaz) < 0) {
    char texto[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &opciones.interfaz, texto, sizeof texto);
    Rechazar("Error al elegir la interfaz %s: %s\n", texto, strerror(errno));
  }
  // the kernel cuts each run it is handed into datagrams of this size, the last one shorter
  int segmento = TamCabecera + opciones.tamparte;
  if (opciones.gso && setsockopt(sock, SOL_UDP, UDP_SEGMENT, &segmento, sizeof segmento) < 0)
    Rechazar("El nucleo no admite el envio en tandas (--gso): %s\n", strerror(errno));
  return sock;
}
