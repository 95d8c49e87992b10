#include "envio.h"

#include <arpa/inet.h>
#include <netinet/udp.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "fallo.h"

// A full queue (ENOBUFS) is waited out with pauses that double from the first one; after the
// last retry, about a tenth of a second in all, the datagram is counted as not sent.
static constexpr int64_t kPrimeraPausaNs = 100000;
static constexpr int kReintentos = 10;

// Sets the loss draws apart from the shuffles, so that --perdida leaves the order of a seed
// as it was.
static constexpr uint64_t kSalPerdidas = 0x9e3779b97f4a7c15;

static volatile sig_atomic_t g_parar = 0;

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

static void AlRecibirSenal(int) {
  g_parar = 1;
}

// No SA_RESTART, so that a sleep ends at once; SA_RESETHAND, so that a second signal ends the
// process if the first one is not heard.
void InstalarSenales() {
  struct sigaction accion = {};
  accion.sa_handler = AlRecibirSenal;
  accion.sa_flags = SA_RESETHAND;
  sigemptyset(&accion.sa_mask);
  sigaction(SIGINT, &accion, nullptr);
  sigaction(SIGTERM, &accion, nullptr);
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

// Waits until the next datagram is due, waking for the redraws of the line meanwhile. Returns
// false when a signal asks to stop.
static bool EsperarTurno(Envio &envio) {
  while (g_parar == 0) {
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

// A run that the interface cannot take in segments (an MTU below them, no checksum offload)
// is refused as a whole: said in the option's words.
[[noreturn]] static void FallarEnvio(const Opciones &opciones, const Fichero &fichero,
                                     uint32_t parte, int error) {
  if (opciones.gso && (error == EINVAL || error == EIO || error == EMSGSIZE))
    Rechazar("La interfaz no admite el envio en tandas (--gso) de datagramas de %d bytes: %s\n",
             TamCabecera + opciones.tamparte, strerror(error));
  Rechazar("Error al enviar la parte %u/%u de %s: %s\n", parte, fichero.totpartes, fichero.ruta,
           strerror(error));
}

// ENOBUFS: a queue on the way out was full and dropped the datagrams, so the same ones go again
// after a pause. A signal during the pauses leaves them uncounted: the send is stopping anyway.
static void Mandar(Envio &envio, const Opciones &opciones, std::size_t total, uint64_t cuantos,
                   const Fichero &fichero, uint32_t parte) {
  const sockaddr *destino = reinterpret_cast<const sockaddr *>(&opciones.destino);
  int64_t pausa = kPrimeraPausaNs;
  for (int intento = 0; g_parar == 0; ++intento) {
    if (sendto(envio.sock, envio.datagrama, total, 0, destino, sizeof opciones.destino) >= 0) {
      envio.cuentas.enviados += cuantos;
      envio.cuentas.bytes += total;
      return;
    }
    if (errno == EINTR) continue;
    if (errno != ENOBUFS) FallarEnvio(opciones, fichero, parte, errno);
    if (intento == kReintentos) {
      envio.cuentas.sin_enviar += cuantos;
      return;
    }
    Dormir(pausa);
    pausa *= 2;
    MostrarProgreso(envio.progreso, envio.cuentas, envio.posicion, AhoraNs());
  }
}

// One independent draw per datagram, from 53 random bits, as a share of 1.
static bool Omitir(Envio &envio, double perdida) {
  if (perdida <= 0) return false;
  return static_cast<double>(envio.perdidas() >> 11) * 0x1.0p-53 < perdida;
}

// Returns false when a signal stopped the send before this part's turn.
static bool EnviarParte(Envio &envio, const Opciones &opciones, const Fichero &fichero,
                        uint32_t indice) {
  if (!EsperarTurno(envio)) return false;
  std::size_t total = TamCabecera + LargoDeParte(fichero, opciones.tamparte, indice);
  // a datagram left out takes its turn, as one lost on the way would have
  ContarDatagrama(envio.ritmo, total);
  if (Omitir(envio, opciones.perdida)) {
    envio.cuentas.omitidos += 1;
    return true;
  }
  CamposCabecera campos{opciones.tipo, opciones.subtipo, indice + 1, fichero.totpartes,
                        fichero.nombre};
  CodificarCabecera(campos, envio.datagrama);
  LeerParte(fichero, opciones.tamparte, indice, envio.datagrama + TamCabecera);
  Mandar(envio, opciones, total, 1, fichero, indice + 1);
  return true;
}

// Datagrams that one call may carry: all of one size, within the limit of a UDP datagram.
static std::size_t PartesPorTanda(const Opciones &opciones) {
  return std::min<std::size_t>(kMaxPartesTanda, kTamMaxTanda / (TamCabecera + opciones.tamparte));
}

// A run of the parts from desde on, in the order of the send: a burst when the first one is
// due, each counted against the schedule. A part shorter than the others (the file's last)
// ends it. Returns where the run ended, or 0 when a signal stopped the send first.
static std::size_t EnviarTanda(Envio &envio, const Opciones &opciones, const Fichero &fichero,
                               std::size_t desde) {
  if (!EsperarTurno(envio)) return 0;
  std::size_t hasta = desde, total = 0, limite = std::min(envio.orden.size(),
                                                          desde + PartesPorTanda(opciones));
  uint64_t cuantos = 0;
  bool corta = false;
  for (; hasta < limite && !corta; ++hasta) {
    uint32_t indice = envio.orden[hasta];
    std::size_t largo = LargoDeParte(fichero, opciones.tamparte, indice);
    corta = largo < static_cast<std::size_t>(opciones.tamparte);
    ContarDatagrama(envio.ritmo, TamCabecera + largo);
    if (Omitir(envio, opciones.perdida)) {
      envio.cuentas.omitidos += 1;
      continue;
    }
    unsigned char *datagrama = envio.datagrama + total;
    CodificarCabecera({opciones.tipo, opciones.subtipo, indice + 1, fichero.totpartes,
                       fichero.nombre},
                      datagrama);
    LeerParte(fichero, opciones.tamparte, indice, datagrama + TamCabecera);
    total += TamCabecera + largo;
    ++cuantos;
  }
  if (cuantos > 0) Mandar(envio, opciones, total, cuantos, fichero, envio.orden[desde] + 1);
  return hasta;
}

// Unbiased draw in [0, n): draws at or past the last whole multiple of n are thrown away.
static uint64_t AlAzar(std::mt19937_64 &azar, uint64_t n) {
  uint64_t limite = UINT64_MAX - UINT64_MAX % n;
  uint64_t valor;
  do valor = azar();
  while (valor >= limite);
  return valor % n;
}

// Fisher-Yates by hand: std::shuffle may differ between libraries, and a seed must give the
// same order wherever the sender was built.
static void OrdenarPartes(Envio &envio, Orden orden, uint32_t totpartes) {
  std::vector<uint32_t> &partes = envio.orden;
  partes.resize(totpartes);
  for (uint32_t i = 0; i < totpartes; ++i)
    partes[i] = orden == Orden::kInverso ? totpartes - 1 - i : i;
  if (orden != Orden::kAleatorio) return;
  for (std::size_t i = partes.size(); i > 1; --i)
    std::swap(partes[i - 1], partes[AlAzar(envio.barajas, i)]);
}

static bool EnviarFichero(Envio &envio, const Opciones &opciones, const Fichero &fichero) {
  OrdenarPartes(envio, opciones.orden, fichero.totpartes);
  if (opciones.gso) {
    for (std::size_t desde = 0; desde < envio.orden.size();)
      if ((desde = EnviarTanda(envio, opciones, fichero, desde)) == 0) return false;
    return true;
  }
  for (uint32_t indice : envio.orden)
    if (!EnviarParte(envio, opciones, fichero, indice)) return false;
  return true;
}

bool EnviarTodo(Envio &envio, const Opciones &opciones, const std::vector<Fichero> &ficheros) {
  Posicion &posicion = envio.posicion;
  for (posicion.pasada = 1; opciones.carrusel || posicion.pasada <= opciones.vueltas;
       ++posicion.pasada)
    for (const Fichero &fichero : ficheros) {
      posicion.nombre = fichero.nombre.c_str();
      for (posicion.repeticion = 1; posicion.repeticion <= opciones.repeticiones;
           ++posicion.repeticion)
        if (!EnviarFichero(envio, opciones, fichero)) return false;
    }
  return true;
}
