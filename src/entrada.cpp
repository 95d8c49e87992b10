#include "entrada.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "fatal.h"

static constexpr int kTamColaSocket = 8 << 20;

static void PrepararLote(Receptor &receptor) {
  for (int i = 0; i < kTamLote; ++i) {
    receptor.vectores[i] = {receptor.ranuras[i], kTamMaxPaquete};
    msghdr &cabecera = receptor.mensajes[i].msg_hdr;
    cabecera = {};
    cabecera.msg_iov = &receptor.vectores[i];
    cabecera.msg_iovlen = 1;
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

  // Receivers of one group on one host share the port; a holder that does not share it
  // still makes the bind fail.
  int si = 1;
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

  PrepararLote(receptor);
}

int RecibirLote(Receptor &receptor, bool esperar) {
  receptor.recibidos = 0;
  receptor.copiados = 0;
  // one call per wake-up: it blocks for the first datagram and takes the rest already waiting
  int recibidos = recvmmsg(receptor.sock, receptor.mensajes, kTamLote,
                           esperar ? MSG_WAITFORONE : MSG_DONTWAIT, nullptr);
  if (recibidos < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
    DieWithError("4Error al crear  el socket()");
  }
  for (int i = 0; i < recibidos; ++i) receptor.ranuras[i][receptor.mensajes[i].msg_len] = '\0';
  receptor.recibidos = recibidos;
  return recibidos;
}

void FijarEspera(Receptor &receptor, long microsegundos) {
  if (receptor.espera == microsegundos) return;
  timeval plazo{microsegundos / 1'000'000, microsegundos % 1'000'000};
  if (setsockopt(receptor.sock, SOL_SOCKET, SO_RCVTIMEO, &plazo, sizeof plazo) < 0)
    DieWithError("4Error al crear  el socket()");
  receptor.espera = microsegundos;
}

// Brings paquete up to date with the batch's datagrams before hasta. Walking backwards, each
// datagram supplies only the bytes that no later one covers, so a batch of full datagrams
// costs a single copy.
static void CopiarHasta(Receptor &receptor, int hasta) {
  std::size_t cubierto = 0;
  for (int i = hasta - 1; i >= receptor.copiados; --i) {
    std::size_t fin = receptor.mensajes[i].msg_len + 1;  // the stored NUL too
    if (fin > cubierto) {
      memcpy(receptor.paquete + cubierto, receptor.ranuras[i] + cubierto, fin - cubierto);
      cubierto = fin;
    }
  }
  if (hasta > receptor.copiados) receptor.copiados = hasta;
}

// The datagram as it lies in its own buffer, without what earlier ones left.
static Paquete RanuraDelLote(const Receptor &receptor, int i) {
  const mmsghdr &mensaje = receptor.mensajes[i];
  int largo = static_cast<int>(mensaje.msg_len);
  return {receptor.ranuras[i], largo, largo + 1, (mensaje.msg_hdr.msg_flags & MSG_TRUNC) != 0};
}

Paquete PaqueteDelLote(Receptor &receptor, int i) {
  Paquete paquete = RanuraDelLote(receptor, i);
  if (paquete.tampaquete < kTamVistaCabecera) {
    // a short datagram shows what earlier ones left after it
    CopiarHasta(receptor, i + 1);
    paquete.datos = receptor.paquete;
    paquete.legibles = kTamRanura;
  }
  return paquete;
}

void TerminarLote(Receptor &receptor) {
  CopiarHasta(receptor, receptor.recibidos);
}
