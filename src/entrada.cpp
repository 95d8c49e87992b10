#include "entrada.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/udp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "fatal.h"

static constexpr int kTamColaSocket = 8 << 20;
// A wait for the first datagram ends after this, so that a signal that came just before it
// is seen; the kernel rounds it up to its tick.
static constexpr long kEsperaEnReposo = 1'000'000;  // microseconds

static void PrepararLote(Receptor &receptor) {
  for (int i = 0; i < kTamLote; ++i)
    receptor.vectores[i] = {receptor.mensajes_datos[i], kTamMensaje};
  receptor.vistas.reserve(kTamLote);
}

// The control data is given back at every receive: each message's is set again before it.
static void PrepararControles(Receptor &receptor) {
  for (int i = 0; i < kTamLote; ++i) {
    msghdr &cabecera = receptor.mensajes[i].msg_hdr;
    cabecera = {};
    cabecera.msg_iov = &receptor.vectores[i];
    cabecera.msg_iovlen = 1;
    cabecera.msg_control = receptor.controles[i];
    cabecera.msg_controllen = sizeof receptor.controles[i];
  }
}

// Bound to the group itself, the socket takes neither unicast datagrams sent to the port nor
// those of other groups joined on the host. Anything else is bound to every address, so that
// the join reports it.
static in_addr_t DireccionLocal(in_addr_t grupo) {
  return IN_MULTICAST(ntohl(grupo)) ? grupo : htonl(INADDR_ANY);
}

void AbrirReceptor(Receptor &receptor, const char *grupo, uint16_t puerto) {
  receptor.sock = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (receptor.sock < 0) DieWithError("1Error al crear  el socket()");
  // The default queue holds about a hundred datagrams, a millisecond at line rate; ask for
  // more. The kernel caps it at net.core.rmem_max, and a refusal leaves the default.
  int tamano_cola = kTamColaSocket;
  setsockopt(receptor.sock, SOL_SOCKET, SO_RCVBUF, &tamano_cola, sizeof tamano_cola);
  // Runs of datagrams from a sender that segments them on this host, or that the network card
  // merged, come as one message each; a kernel without it hands them over one by one.
  int si = 1;
  setsockopt(receptor.sock, SOL_UDP, UDP_GRO, &si, sizeof si);

  // Receivers of one group on one host share the port; a holder that does not share it
  // still makes the bind fail.
  setsockopt(receptor.sock, SOL_SOCKET, SO_REUSEADDR, &si, sizeof si);

  sockaddr_in local;
  memset(&local, 0, sizeof local);
  local.sin_family = AF_INET;
  in_addr_t direccion_grupo = inet_addr(grupo);
  local.sin_addr.s_addr = DireccionLocal(direccion_grupo);
  local.sin_port = htons(puerto);
  if (bind(receptor.sock, reinterpret_cast<sockaddr *>(&local), sizeof local) < 0)
    DieWithError("2Error al crear  el socket()");

  ip_mreq peticion;
  peticion.imr_multiaddr.s_addr = direccion_grupo;
  peticion.imr_interface.s_addr = htonl(INADDR_ANY);
  if (setsockopt(receptor.sock, IPPROTO_IP, IP_ADD_MEMBERSHIP, &peticion, sizeof peticion) < 0)
    DieWithError("3Error al crear  el socket()");

  timeval plazo{kEsperaEnReposo / 1'000'000, kEsperaEnReposo % 1'000'000};
  if (setsockopt(receptor.sock, SOL_SOCKET, SO_RCVTIMEO, &plazo, sizeof plazo) < 0)
    DieWithError("4Error al crear  el socket()");
  PrepararLote(receptor);
}

// The size of the datagrams of a merged run, from the message's control data; 0 when the
// message is a single datagram.
static int SegmentoDe(const msghdr &mensaje) {
  for (const cmsghdr *c = CMSG_FIRSTHDR(&mensaje); c != nullptr;
       c = CMSG_NXTHDR(const_cast<msghdr *>(&mensaje), const_cast<cmsghdr *>(c)))
    if (c->cmsg_level == SOL_UDP && c->cmsg_type == UDP_GRO) {
      int tamano;
      memcpy(&tamano, CMSG_DATA(c), sizeof tamano);
      return tamano;
    }
  return 0;
}

// One call per wake-up: it takes the first datagram and every other one already waiting.
static int Recibir(Receptor &receptor, int banderas) {
  receptor.vistas.clear();
  PrepararControles(receptor);
  int mensajes = recvmmsg(receptor.sock, receptor.mensajes, kTamLote, banderas, nullptr);
  receptor.lleno = mensajes == kTamLote;
  if (mensajes < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
    DieWithError("4Error al crear  el socket()");
  }
  for (int i = 0; i < mensajes; ++i) receptor.segmento[i] = SegmentoDe(receptor.mensajes[i].msg_hdr);
  return SepararDatagramas(receptor, mensajes);
}

int RecibirLote(Receptor &receptor, bool esperar) {
  return Recibir(receptor, esperar ? MSG_WAITFORONE : MSG_DONTWAIT);
}

// A full batch leaves more waiting: asked for at once. Otherwise the queue is likely empty, and
// the wait is a poll, whose time-out is not rounded to the kernel's tick.
int RecibirAntesDe(Receptor &receptor, int64_t nanosegundos) {
  if (receptor.lleno) {
    int recibidos = Recibir(receptor, MSG_DONTWAIT);
    if (recibidos > 0) return recibidos;
  }
  pollfd entrada = {receptor.sock, POLLIN, 0};
  timespec plazo = {static_cast<time_t>(nanosegundos / 1'000'000'000),
                    static_cast<long>(nanosegundos % 1'000'000'000)};
  int listos = ppoll(&entrada, 1, &plazo, nullptr);
  if (listos < 0 && errno != EINTR) DieWithError("4Error al crear  el socket()");
  receptor.vistas.clear();
  receptor.lleno = false;
  return listos > 0 ? Recibir(receptor, MSG_DONTWAIT) : 0;
}

// Each datagram of a message, cut as a receive of kTamMaxPaquete bytes would cut it alone.
static void AnadirVista(Receptor &receptor, const unsigned char *datos, int largo) {
  receptor.vistas.push_back({datos, std::min(largo, kTamMaxPaquete), largo > kTamMaxPaquete});
}

int SepararDatagramas(Receptor &receptor, int mensajes) {
  receptor.vistas.clear();
  receptor.copiados = 0;
  for (int i = 0; i < mensajes; ++i) {
    const unsigned char *datos = receptor.mensajes_datos[i];
    int largo = static_cast<int>(receptor.mensajes[i].msg_len);
    int segmento = receptor.segmento[i];
    if (segmento <= 0 || segmento >= largo) {
      AnadirVista(receptor, datos, largo);
      continue;
    }
    for (int desde = 0; desde < largo; desde += segmento)
      AnadirVista(receptor, datos + desde, std::min(segmento, largo - desde));
  }
  return static_cast<int>(receptor.vistas.size());
}

// Brings paquete up to date with the batch's datagrams before hasta. Walking backwards, each
// datagram supplies only the bytes that no later one covers, and the NUL that a receive
// stores after it, so a batch of full datagrams costs a single copy.
static void CopiarHasta(Receptor &receptor, int hasta) {
  int cubierto = 0;
  for (int i = hasta - 1; i >= receptor.copiados; --i) {
    const Vista &vista = receptor.vistas[static_cast<std::size_t>(i)];
    if (vista.largo + 1 <= cubierto) continue;
    if (vista.largo > cubierto)
      memcpy(receptor.paquete + cubierto, vista.datos + cubierto,
             static_cast<std::size_t>(vista.largo - cubierto));
    receptor.paquete[vista.largo] = '\0';
    cubierto = vista.largo + 1;
  }
  if (hasta > receptor.copiados) receptor.copiados = hasta;
}

Paquete PaqueteDelLote(Receptor &receptor, int i) {
  const Vista &vista = receptor.vistas[static_cast<std::size_t>(i)];
  // a long datagram's name ends at its last byte at the latest, as at the NUL after it
  if (vista.largo >= kTamVistaCabecera) return {vista.datos, vista.largo, vista.largo, vista.truncado};
  // a short datagram shows what earlier ones left after it
  CopiarHasta(receptor, i + 1);
  return {receptor.paquete, vista.largo, kTamRanura, vista.truncado};
}

void TerminarLote(Receptor &receptor) {
  CopiarHasta(receptor, static_cast<int>(receptor.vistas.size()));
}
