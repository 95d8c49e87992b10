#include "envio.h"

#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "fallo.h"
#include "sorteo.h"

// A full queue (ENOBUFS) is waited out with pauses that double from the first one; after the
// last retry, about a tenth of a second in all, the datagram is counted as not sent.
static constexpr int64_t kPrimeraPausaNs = 100000;
static constexpr int kReintentos = 10;

// A network that a carrusel waits out (a route or an address gone for a while) is tried again
// after pauses that double from the first one up to the last, until the datagram leaves.
static constexpr int64_t kPrimeraPausaRedNs = 10000000;
static constexpr int64_t kMaxPausaRedNs = 1000000000;

// A carrusel pass in which no file could be opened waits this long before the next one, so
// that a set of missing files does not spin.
static constexpr int64_t kPausaSinFicherosNs = 1000000000;

// Sets the loss draws apart from the shuffles, so that --perdida leaves the order of a seed
// as it was.
static constexpr uint64_t kSalPerdidas = 0x9e3779b97f4a7c15;

int64_t AhoraNs() {
  timespec ahora;
  clock_gettime(CLOCK_MONOTONIC, &ahora);
  return static_cast<int64_t>(ahora.tv_sec) * 1000000000 + ahora.tv_nsec;
}

// An early return on a signal is fine: the caller looks at the clock and the flag again.
static void Dormir(int64_t ns) {
  timespec pausa = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
  clock_nanosleep(CLOCK_MONOTONIC, 0, &pausa, nullptr);
}

// a*b, or the largest count when it would not fit: a carrusel-like run has no end to show.
static uint64_t Multiplicar(uint64_t a, uint64_t b) {
  uint64_t producto;
  return __builtin_mul_overflow(a, b, &producto) ? UINT64_MAX : producto;
}

void PrepararEnvio(Envio &envio, const Opciones &opciones, const std::vector<Fichero> &ficheros) {
  uint64_t semilla = opciones.semilla;
  if (!opciones.con_semilla) {
    std::random_device dispositivo;
    semilla = (static_cast<uint64_t>(dispositivo()) << 32) | dispositivo();
  }
  envio.barajas.seed(semilla);
  envio.perdidas.seed(semilla ^ kSalPerdidas);
  uint64_t partes = 0;
  for (const Fichero &fichero : ficheros) partes += fichero.totpartes;
  uint64_t veces = Multiplicar(opciones.vueltas, opciones.repeticiones);
  envio.cuentas.previstos = opciones.carrusel ? 0 : Multiplicar(partes, veces);
  envio.posicion.pasadas = opciones.carrusel ? 0 : opciones.vueltas;
  envio.posicion.repeticiones = opciones.repeticiones;
  envio.ritmo.por_segundo = opciones.ritmo;
  envio.ritmo.en_bits = opciones.ritmo_en_bits;
  envio.progreso.en_terminal = isatty(STDERR_FILENO) != 0;
  envio.inicio = envio.ritmo.origen = AhoraNs();
  IniciarProgreso(envio.progreso, envio.inicio);
}

// Sleeps ns, redrawing the line meanwhile. A signal ends it early.
static void Pausar(Envio &envio, int64_t ns) {
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
static bool EsperarTurno(Envio &envio) {
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
static Fin Mandar(Envio &envio, const Opciones &opciones, std::size_t total, uint64_t cuantos,
                  const Fichero &fichero, uint32_t parte) {
  const sockaddr *destino = reinterpret_cast<const sockaddr *>(&opciones.destino);
  int64_t pausa = kPrimeraPausaNs, pausa_red = kPrimeraPausaRedNs;
  for (int intento = 0; !ParadaPedida();) {
    if (sendto(envio.sock, envio.datagrama, total, 0, destino, sizeof opciones.destino) >= 0) {
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

// A file that cannot be sent as it is now: outside a carrusel the run ends; in one, the file
// is left for this send, and a problem that lasts is said once, until the file comes back.
static Fin Dejar(Envio &envio, const Opciones &opciones, Fichero &fichero, Problema problema) {
  CerrarFichero(fichero);
  bool dicho =
      opciones.carrusel && problema == fichero.aviso && problema.que != Problema::kEncogido;
  if (!dicho)
    Avisar(envio.progreso, "%s", DecirProblema(fichero, problema, opciones.tamparte).c_str());
  fichero.aviso = problema;
  return opciones.carrusel ? Fin::kDejado : Fin::kError;
}

// The header and the content of the part indice, at destino.
static Problema Componer(const Opciones &opciones, const Fichero &fichero, uint32_t indice,
                         unsigned char *destino) {
  CodificarCabecera(
      {opciones.tipo, opciones.subtipo, indice + 1, fichero.totpartes, fichero.nombre}, destino);
  return LeerParte(fichero, opciones.tamparte, indice, destino + TamCabecera);
}

static Fin EnviarParte(Envio &envio, const Opciones &opciones, Fichero &fichero, uint32_t indice) {
  if (!EsperarTurno(envio)) return Fin::kSenal;
  std::size_t total = TamCabecera + LargoDeParte(fichero, opciones.tamparte, indice);
  // a datagram left out takes its turn, as one lost on the way would have
  ContarDatagrama(envio.ritmo, total);
  if (Omitir(envio.perdidas, opciones.perdida)) {
    envio.cuentas.omitidos += 1;
    return Fin::kCompleto;
  }
  Problema problema = Componer(opciones, fichero, indice, envio.datagrama);
  if (problema.que != Problema::kNinguno) return Dejar(envio, opciones, fichero, problema);
  return Mandar(envio, opciones, total, 1, fichero, indice + 1);
}

// Datagrams that one call may carry: all of one size, within the limit of a UDP datagram.
static std::size_t PartesPorTanda(const Opciones &opciones) {
  return std::min<std::size_t>(kMaxPartesTanda, kTamMaxTanda / (TamCabecera + opciones.tamparte));
}

// A run of the parts from desde on, in the order of the send: a burst when the first one is
// due, each counted against the schedule. A part shorter than the others (the file's last)
// ends it. Leaves desde where the run ended.
static Fin EnviarTanda(Envio &envio, const Opciones &opciones, Fichero &fichero,
                       std::size_t &desde) {
  if (!EsperarTurno(envio)) return Fin::kSenal;
  std::size_t primera = desde, total = 0;
  std::size_t limite = std::min(envio.orden.size(), desde + PartesPorTanda(opciones));
  uint64_t cuantos = 0;
  bool corta = false;
  for (; desde < limite && !corta; ++desde) {
    uint32_t indice = envio.orden[desde];
    std::size_t largo = LargoDeParte(fichero, opciones.tamparte, indice);
    corta = largo < static_cast<std::size_t>(opciones.tamparte);
    ContarDatagrama(envio.ritmo, TamCabecera + largo);
    if (Omitir(envio.perdidas, opciones.perdida)) {
      envio.cuentas.omitidos += 1;
      continue;
    }
    Problema problema = Componer(opciones, fichero, indice, envio.datagrama + total);
    if (problema.que != Problema::kNinguno) return Dejar(envio, opciones, fichero, problema);
    total += TamCabecera + largo;
    ++cuantos;
  }
  if (cuantos == 0) return Fin::kCompleto;
  return Mandar(envio, opciones, total, cuantos, fichero, envio.orden[primera] + 1);
}

static Fin EnviarPartes(Envio &envio, const Opciones &opciones, Fichero &fichero) {
  OrdenarPartes(envio.barajas, opciones.orden, fichero.totpartes, envio.orden);
  Fin fin = Fin::kCompleto;
  if (opciones.gso) {
    for (std::size_t desde = 0; desde < envio.orden.size() && fin == Fin::kCompleto;)
      fin = EnviarTanda(envio, opciones, fichero, desde);
    return fin;
  }
  for (std::size_t i = 0; i < envio.orden.size() && fin == Fin::kCompleto; ++i)
    fin = EnviarParte(envio, opciones, fichero, envio.orden[i]);
  return fin;
}

// One send of a file, opened by its name for it alone: a file replaced or rewritten goes as it
// is now, and thousands of files never hold more than one descriptor.
static Fin EnviarFichero(Envio &envio, const Opciones &opciones, Fichero &fichero) {
  Problema problema = AbrirFichero(fichero, opciones.tamparte);
  if (problema.que != Problema::kNinguno) return Dejar(envio, opciones, fichero, problema);
  if (fichero.aviso.que != Problema::kNinguno && fichero.aviso.que != Problema::kEncogido)
    Avisar(envio.progreso, "El fichero %s vuelve a enviarse\n", fichero.ruta);
  fichero.aviso = {};
  Fin fin = EnviarPartes(envio, opciones, fichero);
  CerrarFichero(fichero);
  return fin;
}

// Each file opciones.repeticiones times in a row; one that a carrusel cannot send now is left
// for its next send.
static Fin EnviarPasada(Envio &envio, const Opciones &opciones, std::vector<Fichero> &ficheros) {
  Posicion &posicion = envio.posicion;
  for (Fichero &fichero : ficheros) {
    posicion.nombre = fichero.nombre.c_str();
    for (posicion.repeticion = 1; posicion.repeticion <= opciones.repeticiones;
         ++posicion.repeticion) {
      if (ParadaPedida()) return Fin::kSenal;
      Fin fin = EnviarFichero(envio, opciones, fichero);
      if (fin == Fin::kSenal || fin == Fin::kError) return fin;
    }
  }
  return Fin::kCompleto;
}

Fin EnviarTodo(Envio &envio, const Opciones &opciones, std::vector<Fichero> &ficheros) {
  Posicion &posicion = envio.posicion;
  for (posicion.pasada = 1; opciones.carrusel || posicion.pasada <= opciones.vueltas;
       ++posicion.pasada) {
    uint64_t antes = Hechos(envio.cuentas);
    Fin fin = EnviarPasada(envio, opciones, ficheros);
    if (fin != Fin::kCompleto) return fin;
    if (Hechos(envio.cuentas) == antes) Pausar(envio, kPausaSinFicherosNs);
  }
  return Fin::kCompleto;
}
