#include "entrada.h"

#include <netinet/in.h>
#include <netinet/udp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "direcciones.h"
#include "fatal.h"
#include "salida.h"
#include "reloj.h"

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
    cabecera.msg_name = &receptor.origenes[i];
    cabecera.msg_namelen = sizeof receptor.origenes[i];
  }
}

void AbrirReceptor(Receptor &receptor, const Membresia &membresia) {
  receptor.sock = membresia.sock;
  receptor.fuentes = membresia.opciones.fuentes;
  receptor.reloj = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (receptor.reloj < 0) DieWithError("4Error al crear  el socket()");
  timeval plazo{kEsperaEnReposo / 1'000'000, kEsperaEnReposo % 1'000'000};
  if (setsockopt(receptor.sock, SOL_SOCKET, SO_RCVTIMEO, &plazo, sizeof plazo) < 0)
    DieWithError("4Error al crear  el socket()");
  PrepararLote(receptor);
}

// From a message's control data: the size of the datagrams of a merged run (0 when the message
// is a single datagram), and the kernel's count of drops, which only grows.
static int LeerControl(Receptor &receptor, msghdr &mensaje) {
  int segmento = 0;
  for (cmsghdr *c = CMSG_FIRSTHDR(&mensaje); c != nullptr; c = CMSG_NXTHDR(&mensaje, c)) {
    if (c->cmsg_level == SOL_UDP && c->cmsg_type == UDP_GRO)
      memcpy(&segmento, CMSG_DATA(c), sizeof segmento);
    uint32_t descartados;
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL) {
      memcpy(&descartados, CMSG_DATA(c), sizeof descartados);
      receptor.descartados = std::max(receptor.descartados, descartados);
    }
  }
  return segmento;
}

// One call per wake-up: it takes the first datagram and every other one already waiting.
static int Recibir(Receptor &receptor, int banderas) {
  // a receive that takes nothing leaves an empty batch, not the last one
  receptor.vistas.clear();
  PrepararControles(receptor);
  int mensajes = recvmmsg(receptor.sock, receptor.mensajes, kTamLote, banderas, nullptr);
  receptor.lleno = mensajes == kTamLote;
  receptor.ultimos_mensajes = std::max(mensajes, 0);
  if (mensajes < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
    DieWithError("4Error al crear  el socket()");
  }
  for (int i = 0; i < mensajes; ++i)
    receptor.segmento[i] = LeerControl(receptor, receptor.mensajes[i].msg_hdr);
  return SepararDatagramas(receptor, mensajes);
}

int RecibirLote(Receptor &receptor, bool esperar) {
  return Recibir(receptor, esperar ? MSG_WAITFORONE : MSG_DONTWAIT);
}

// The timer is set once for each time output begins to wait, not for every wait: a short
// time-out given to each poll costs more than the receive itself on some machines.
static void ArmarReloj(Receptor &receptor, int64_t momento) {
  if (receptor.armado == momento) return;
  itimerspec plazo = {};
  plazo.it_value = {static_cast<time_t>(momento / 1'000'000'000),
                    static_cast<long>(momento % 1'000'000'000)};
  if (timerfd_settime(receptor.reloj, TFD_TIMER_ABSTIME, &plazo, nullptr) < 0)
    DieWithError("4Error al crear  el socket()");
  receptor.armado = momento;
}

// A full batch leaves more waiting: asked for at once. Otherwise the queue is likely empty, and
// the wait is a poll on the socket and the timer, which is not rounded to the kernel's tick.
int RecibirAntesDe(Receptor &receptor, int64_t momento) {
  if (receptor.lleno) {
    int recibidos = Recibir(receptor, MSG_DONTWAIT);
    if (recibidos > 0) return recibidos;
  }
  ArmarReloj(receptor, momento);
  receptor.vistas.clear();
  receptor.lleno = false;
  pollfd esperas[2] = {{receptor.sock, POLLIN, 0}, {receptor.reloj, POLLIN, 0}};
  // an expiry left from an earlier wait, whose output was shown meanwhile, is not this one
  while (AhoraNs() < momento) {
    int listos = ppoll(esperas, 2, nullptr, nullptr);
    if (listos < 0 && errno != EINTR) DieWithError("4Error al crear  el socket()");
    if (listos <= 0) return 0;
    if (esperas[0].revents != 0) return Recibir(receptor, MSG_DONTWAIT);
    uint64_t vencidos;
    if (read(receptor.reloj, &vencidos, sizeof vencidos) < 0 && errno != EAGAIN)
      DieWithError("4Error al crear  el socket()");
  }
  return 0;
}

// Each datagram of a message, cut as a receive of kTamMaxPaquete bytes would cut it alone.
static void AnadirVista(Receptor &receptor, const unsigned char *datos, int largo, int mensaje) {
  receptor.vistas.push_back({datos, std::min(largo, kTamMaxPaquete), largo > kTamMaxPaquete,
                             &receptor.origenes[mensaje]});
}

// A sender not asked for is left out as if it had sent nothing; the join already keeps most
// of them away.
static bool FuenteAceptada(const Receptor &receptor, int i) {
  if (receptor.fuentes.empty()) return true;
  const sockaddr_storage &origen = receptor.origenes[i];
  return std::any_of(receptor.fuentes.begin(), receptor.fuentes.end(),
                     [&](const sockaddr_storage &f) { return MismaDireccion(f, origen); });
}

int SepararDatagramas(Receptor &receptor, int mensajes) {
  receptor.vistas.clear();
  receptor.copiados = 0;
  for (int i = 0; i < mensajes; ++i) {
    if (!FuenteAceptada(receptor, i)) continue;
    const unsigned char *datos = receptor.mensajes_datos[i];
    int largo = static_cast<int>(receptor.mensajes[i].msg_len);
    int segmento = receptor.segmento[i];
    if (segmento <= 0 || segmento >= largo) {
      AnadirVista(receptor, datos, largo, i);
      continue;
    }
    for (int desde = 0; desde < largo; desde += segmento)
      AnadirVista(receptor, datos + desde, std::min(segmento, largo - desde), i);
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
  if (vista.largo >= kTamVistaCabecera)
    return {vista.datos, vista.largo, vista.largo, vista.truncado, vista.origen};
  // a short datagram shows what earlier ones left after it
  CopiarHasta(receptor, i + 1);
  return {receptor.paquete, vista.largo, kTamRanura, vista.truncado, vista.origen};
}

void TerminarLote(Receptor &receptor) {
  CopiarHasta(receptor, static_cast<int>(receptor.vistas.size()));
}
