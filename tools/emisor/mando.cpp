#include "mando.h"

#include <sys/socket.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "direcciones.h"
#include "fallo.h"
#include "reloj.h"

// A full queue (ENOBUFS) is waited out with pauses that double from the first one; after the
// last retry, about a tenth of a second in all, the datagram is counted as not sent.
static constexpr int64_t kPrimeraPausaNs = 100000;
static constexpr int kReintentos = 10;

// A network that a carrusel waits out (a route or an address gone for a while) is tried again
// after pauses that double from the first one up to the last, until the datagram leaves.
static constexpr int64_t kPrimeraPausaRedNs = 10000000;
static constexpr int64_t kMaxPausaRedNs = 1000000000;

// An early return on a signal is fine: the caller looks at the clock and the flag again.
static void Dormir(int64_t ns) {
  timespec pausa = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
  clock_nanosleep(CLOCK_MONOTONIC, 0, &pausa, nullptr);
}

// Sleeps ns, redrawing the line meanwhile. A signal ends it early.
void Pausar(Envio &envio, int64_t ns) {
  int64_t fin = AhoraNs() + ns;
  for (int64_t ahora = AhoraNs(); ahora < fin && !ParadaPedida(); ahora = AhoraNs()) {
    MostrarProgreso(envio.progreso, envio.cuentas, envio.posicion, ahora);
    int64_t espera = fin - ahora;
    if (envio.progreso.en_terminal) espera = std::min(espera, envio.progreso.proximo - ahora);
    Dormir(std::max<int64_t>(espera, 1));
  }
}

// Waits until the next datagram is due, waking for the redraws of the line meanwhile. Returns
// false when a signal asks to stop.
bool EsperarTurno(Envio &envio) {
  while (!ParadaPedida()) {
    if (envio.ritmo.por_segundo <= 0 && !envio.progreso.en_terminal) return true;
    int64_t ahora = AhoraNs();
    MostrarProgreso(envio.progreso, envio.cuentas, envio.posicion, ahora);
    int64_t espera = EsperaHastaTurno(envio.ritmo, ahora);
    if (espera == 0) return true;
    if (envio.progreso.en_terminal) espera = std::min(espera, envio.progreso.proximo - ahora);
    Dormir(std::max<int64_t>(espera, 1));
  }
  return false;
}

// What the network may fix by itself: a route, an interface or an address that comes back, a
// firewall rule that is replaced.
static bool Pasajero(int error) {
  for (int pasajero : {ENETUNREACH, EHOSTUNREACH, ENETDOWN, EHOSTDOWN, ENODEV, ENXIO, EADDRNOTAVAIL,
                       EPERM, ECONNREFUSED})
    if (error == pasajero) return true;
  return false;
}

// A run that the interface cannot take in segments (an MTU below them, no checksum offload)
// is refused as a whole: said in the option's words.
static Fin FallarEnvio(Envio &envio, const Opciones &opciones, const Fichero &fichero,
                       uint32_t parte, int error) {
  if (opciones.gso && (error == EINVAL || error == EIO || error == EMSGSIZE))
    Avisar(envio.progreso,
           "La interfaz no admite el envio en tandas (--gso) de datagramas de %d bytes: %s\n",
           TamCabecera + opciones.tamparte, strerror(error));
  else
    Avisar(envio.progreso, "Error al enviar la parte %u/%u de %s: %s\n", parte, fichero.totpartes,
           fichero.ruta, strerror(error));
  return Fin::kError;
}

// Each kind of error is said once while the network is out, and its end once.
static void AnotarFalloDeRed(Envio &envio, const Fichero &fichero, uint32_t parte, int error) {
  std::vector<int> &dichos = envio.fallos_de_red;
  if (std::find(dichos.begin(), dichos.end(), error) != dichos.end()) return;
  dichos.push_back(error);
  Avisar(envio.progreso, "Error al enviar la parte %u/%u de %s: %s\n", parte, fichero.totpartes,
         fichero.ruta, strerror(error));
}

static void AnotarSalida(Envio &envio, std::size_t total, uint64_t cuantos, const Fichero &fichero,
                         uint32_t parte) {
  envio.cuentas.enviados += cuantos;
  envio.cuentas.bytes += total;
  if (envio.fallos_de_red.empty()) return;
  envio.fallos_de_red.clear();
  Avisar(envio.progreso, "Envio reanudado en la parte %u/%u de %s\n", parte, fichero.totpartes,
         fichero.ruta);
}

// ENOBUFS: a queue on the way out was full and dropped the datagrams, so the same ones go again
// after a pause. A signal during the pauses leaves them uncounted: the send is stopping anyway.
Fin Mandar(Envio &envio, const Opciones &opciones, std::size_t total, uint64_t cuantos,
           const Fichero &fichero, uint32_t parte) {
  const sockaddr *destino = reinterpret_cast<const sockaddr *>(&opciones.destino);
  int64_t pausa = kPrimeraPausaNs, pausa_red = kPrimeraPausaRedNs;
  for (int intento = 0; !ParadaPedida();) {
    if (sendto(envio.sock, envio.datagrama, total, 0, destino, LargoDireccion(opciones.destino)) >=
        0) {
      AnotarSalida(envio, total, cuantos, fichero, parte);
      return Fin::kCompleto;
    }
    int error = errno;
    if (error == EINTR) continue;
    if (error == ENOBUFS) {
      if (intento++ == kReintentos) break;
      Pausar(envio, pausa);
      pausa *= 2;
    } else if (opciones.carrusel && Pasajero(error)) {
      AnotarFalloDeRed(envio, fichero, parte, error);
      Pausar(envio, pausa_red);
      pausa_red = std::min(pausa_red * 2, kMaxPausaRedNs);
    } else {
      return FallarEnvio(envio, opciones, fichero, parte, error);
    }
  }
  if (ParadaPedida()) return Fin::kSenal;
  envio.cuentas.sin_enviar += cuantos;
  return Fin::kCompleto;
}

bool MandarLateral(Envio &envio, const sockaddr_storage &destino, const unsigned char *datos,
                   std::size_t largo) {
  const sockaddr *a = reinterpret_cast<const sockaddr *>(&destino);
  int64_t pausa = kPrimeraPausaNs;
  for (int intento = 0; intento <= kReintentos; ++intento, pausa *= 2) {
    if (sendto(envio.sock, datos, largo, 0, a, LargoDireccion(destino)) >= 0) return true;
    if (errno != ENOBUFS && errno != EAGAIN && errno != EINTR) return false;
    Pausar(envio, pausa);
    if (ParadaPedida()) return false;
  }
  return false;
}
