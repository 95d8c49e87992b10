// Sends files on a UDP multicast group as numbered parts, one part per datagram, laid out as
// the receiver rebuilds them.
#include <arpa/inet.h>
#include <fcntl.h>
#include <getopt.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

// The receiver's layout (src/entrada.h): a 44-byte header, then the content, 1500 bytes at most.
static constexpr int kTamCabecera = 44;
static constexpr int kTamMaxDatagrama = 1500;
static constexpr int kTamParteMax = kTamMaxDatagrama - kTamCabecera;
static constexpr uint32_t kMaxPartes = 50000;  // the receiver rebuilds no file of more
static constexpr std::size_t kMaxNombre = 31;  // the 32-byte name field keeps its NUL

// Behind schedule by more than this (a stall, a slow disk), the pace starts afresh instead of
// catching up in one long burst that the receivers would drop.
static constexpr int64_t kMaxRetraso = 5000000;         // ns
static constexpr int64_t kPeriodoProgreso = 250000000;  // ns between redraws of the line

static constexpr int kOpcionTtl = 256;
static constexpr int kOpcionSinLimite = 257;
static constexpr int kOpcionSemilla = 258;

enum class Orden { kDirecto, kInverso, kAleatorio };

/// What the command line asks for, fixed for the run.
struct Opciones {
  unsigned char tipo[2] = {0x00, 0x01};     // type, sent as given
  unsigned char subtipo[2] = {0x00, 0x02};  // subtype, sent as given
  const char *nombre = nullptr;     // name for the only file; nullptr: each file's base name
  int tamparte = kTamParteMax;      // content bytes of every part but the last
  int ttl = 1;                      // multicast time-to-live
  bool con_interfaz = false;        // interfaz was given
  in_addr interfaz = {};            // address of the outgoing interface
  double ritmo = 100e6;             // limit per second; 0: no limit
  bool ritmo_en_bits = true;        // ritmo counts bits of datagram, otherwise datagrams
  long long vueltas = 1;            // passes over the file set
  bool carrusel = false;            // passes go on until SIGINT or SIGTERM
  Orden orden = Orden::kDirecto;    // order of a file's parts within a pass
  bool con_semilla = false;         // semilla was given, so the shuffles repeat run after run
  uint64_t semilla = 0;             // seed of the shuffles
  sockaddr_in destino = {};         // group and port
  std::vector<const char *> rutas;  // files, in the order given
};

/// One file, read whole before the first datagram leaves.
struct Fichero {
  const char *ruta = nullptr;        // path as given
  std::string nombre;                // name carried in the header
  std::vector<unsigned char> datos;  // the content
  uint32_t totpartes = 0;            // parts it goes in, 1 at least
};

/// State of the send, living for the whole run.
struct Envio {
  int sock = -1;                              // the sending socket
  unsigned char datagrama[kTamMaxDatagrama];  // rebuilt for every part
  int64_t inicio = 0;                         // ns on CLOCK_MONOTONIC when sending began
  int64_t origen = 0;                         // ns when the pace counted 0 units
  uint64_t unidades = 0;                      // datagrams or bits counted by the pace
  uint64_t enviados = 0;                      // datagrams sent
  uint64_t bytes = 0;                         // their bytes
  uint64_t previstos = 0;                     // datagrams of the whole run; 0 in carrusel
  bool progreso = false;                      // stderr is a terminal: draw the line
  bool linea = false;                         // the line is drawn and not yet ended
  int64_t proximo_progreso = 0;               // ns when the line is redrawn
  std::mt19937_64 azar;                       // draws of the shuffles
  std::vector<uint32_t> orden;                // part indices of the file being sent
};

static volatile sig_atomic_t g_parar = 0;

static const char kUso[] =
    "Uso: emisor [opciones] <IP Multicast> <Puerto> <fichero>...\n"
    "Envia cada fichero al grupo multicast en partes numeradas, una por datagrama.\n"
    "\n"
    "Opciones:\n"
    "  -t, --tipo HHHH         tipo, 4 cifras hexadecimales (por defecto 0001)\n"
    "  -s, --subtipo HHHH      subtipo, 4 cifras hexadecimales (por defecto 0002)\n"
    "  -n, --nombre NOMBRE     nombre enviado, hasta 31 bytes y sin '/'; solo con un\n"
    "                          fichero (por defecto, el nombre base del fichero)\n"
    "  -p, --tamparte N        bytes de contenido por parte, de 1 a 1456 (por defecto 1456)\n"
    "      --ttl N             TTL de los datagramas, de 0 a 255 (por defecto 1)\n"
    "  -i, --interfaz A.B.C.D  direccion de la interfaz de salida\n"
    "  -r, --ritmo R           limite de ritmo: datagramas por segundo, o bits por segundo\n"
    "                          con sufijo k, M o G; cuenta los bytes de cada datagrama\n"
    "                          (por defecto 100M, 100 Mbit/s; 0: sin limite)\n"
    "      --sin-limite        enviar tan rapido como se pueda, igual que -r 0\n"
    "  -v, --vueltas N         pasadas sobre el conjunto de ficheros (por defecto 1)\n"
    "  -c, --carrusel          repetir las pasadas hasta recibir SIGINT o SIGTERM\n"
    "  -o, --orden ORDEN       orden de las partes en cada pasada: directo (por defecto),\n"
    "                          inverso o aleatorio\n"
    "      --semilla N         semilla del orden aleatorio (por defecto, una al azar)\n"
    "  -h, --help              mostrar esta ayuda y salir\n";

[[noreturn]] static void Rechazar(const char *formato, ...) {
  va_list argumentos;
  va_start(argumentos, formato);
  vfprintf(stderr, formato, argumentos);
  va_end(argumentos);
  exit(1);
}

// A bad command line names what is wrong, then shows how it should look.
[[noreturn]] static void ErrorDeUso(const char *formato, ...) {
  va_list argumentos;
  va_start(argumentos, formato);
  vfprintf(stderr, formato, argumentos);
  va_end(argumentos);
  fputs(kUso, stderr);
  exit(1);
}

// Digits only: strtoll alone would take spaces, signs and an empty text.
static bool LeerEntero(const char *texto, long long minimo, long long maximo, long long &valor) {
  if (!isdigit(static_cast<unsigned char>(texto[0]))) return false;
  errno = 0;
  char *fin;
  long long leido = strtoll(texto, &fin, 10);
  if (errno != 0 || *fin != '\0' || leido < minimo || leido > maximo) return false;
  valor = leido;
  return true;
}

static bool LeerSemilla(const char *texto, uint64_t &semilla) {
  if (!isdigit(static_cast<unsigned char>(texto[0]))) return false;
  errno = 0;
  char *fin;
  unsigned long long leida = strtoull(texto, &fin, 10);
  if (errno != 0 || *fin != '\0') return false;
  semilla = leida;
  return true;
}

static bool LeerHex4(const char *texto, unsigned char destino[2]) {
  if (strlen(texto) != 4 || strspn(texto, "0123456789abcdefABCDEF") != 4) return false;
  unsigned long valor = strtoul(texto, nullptr, 16);
  destino[0] = static_cast<unsigned char>(valor >> 8);
  destino[1] = static_cast<unsigned char>(valor & 0xff);
  return true;
}

// A plain number counts datagrams; a k, M or G after it makes it bits, as links are rated.
static bool LeerRitmo(const char *texto, Opciones &opciones) {
  if (!isdigit(static_cast<unsigned char>(texto[0]))) return false;
  errno = 0;
  char *fin;
  double valor = strtod(texto, &fin);
  if (errno != 0 || !std::isfinite(valor) || valor < 0) return false;
  double factor = 1;
  if (strcmp(fin, "k") == 0)
    factor = 1e3;
  else if (strcmp(fin, "M") == 0)
    factor = 1e6;
  else if (strcmp(fin, "G") == 0)
    factor = 1e9;
  else if (*fin != '\0')
    return false;
  // 0 is no limit; a rate near 0 would make the schedule outgrow the nanosecond clock
  if (valor != 0 && valor * factor < 1e-3) return false;
  opciones.ritmo = valor * factor;
  opciones.ritmo_en_bits = *fin != '\0';
  return true;
}

static Orden LeerOrden(const char *texto) {
  if (strcmp(texto, "directo") == 0) return Orden::kDirecto;
  if (strcmp(texto, "inverso") == 0) return Orden::kInverso;
  if (strcmp(texto, "aleatorio") == 0) return Orden::kAleatorio;
  ErrorDeUso("Orden no valido: %s\n", texto);
}

// What goes in the datagrams. Each Aplicar* returns whether the option was its own.
static bool AplicarOpcionDeCabecera(int opcion, const char *valor, Opciones &opciones) {
  long long numero = 0;
  if (opcion == 't' && !LeerHex4(valor, opciones.tipo)) ErrorDeUso("Tipo no valido: %s\n", valor);
  if (opcion == 's' && !LeerHex4(valor, opciones.subtipo))
    ErrorDeUso("Subtipo no valido: %s\n", valor);
  if (opcion == 'n') opciones.nombre = valor;
  if (opcion == 'p') {
    if (!LeerEntero(valor, 1, kTamParteMax, numero))
      ErrorDeUso("Tamano de parte no valido: %s\n", valor);
    opciones.tamparte = static_cast<int>(numero);
  }
  return opcion == 't' || opcion == 's' || opcion == 'n' || opcion == 'p';
}

// How the datagrams leave.
static bool AplicarOpcionDeRed(int opcion, const char *valor, Opciones &opciones) {
  long long numero = 0;
  if (opcion == kOpcionTtl) {
    if (!LeerEntero(valor, 0, 255, numero)) ErrorDeUso("TTL no valido: %s\n", valor);
    opciones.ttl = static_cast<int>(numero);
  }
  if (opcion == 'i') {
    if (inet_pton(AF_INET, valor, &opciones.interfaz) != 1)
      ErrorDeUso("Direccion de interfaz no valida: %s\n", valor);
    opciones.con_interfaz = true;
  }
  if (opcion == 'r' && !LeerRitmo(valor, opciones)) ErrorDeUso("Ritmo no valido: %s\n", valor);
  if (opcion == kOpcionSinLimite) opciones.ritmo = 0;
  return opcion == kOpcionTtl || opcion == 'i' || opcion == 'r' || opcion == kOpcionSinLimite;
}

// How many passes, and the order of the parts in each.
static void AplicarOpcionDePasadas(int opcion, const char *valor, Opciones &opciones) {
  if (opcion == 'v' && !LeerEntero(valor, 1, 1000000000, opciones.vueltas))
    ErrorDeUso("Numero de vueltas no valido: %s\n", valor);
  if (opcion == 'c') opciones.carrusel = true;
  if (opcion == 'o') opciones.orden = LeerOrden(valor);
  if (opcion == kOpcionSemilla) {
    if (!LeerSemilla(valor, opciones.semilla)) ErrorDeUso("Semilla no valida: %s\n", valor);
    opciones.con_semilla = true;
  }
}

static const option kOpcionesLargas[] = {
    {"tipo", required_argument, nullptr, 't'},
    {"subtipo", required_argument, nullptr, 's'},
    {"nombre", required_argument, nullptr, 'n'},
    {"tamparte", required_argument, nullptr, 'p'},
    {"ttl", required_argument, nullptr, kOpcionTtl},
    {"interfaz", required_argument, nullptr, 'i'},
    {"ritmo", required_argument, nullptr, 'r'},
    {"sin-limite", no_argument, nullptr, kOpcionSinLimite},
    {"vueltas", required_argument, nullptr, 'v'},
    {"carrusel", no_argument, nullptr, 'c'},
    {"orden", required_argument, nullptr, 'o'},
    {"semilla", required_argument, nullptr, kOpcionSemilla},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

// getopt's own messages would come in English; it stays quiet and the error is ours.
static void LeerOpcionesSueltas(int argc, char **argv, Opciones &opciones) {
  opterr = 0;
  int opcion;
  while ((opcion = getopt_long(argc, argv, ":t:s:n:p:i:r:v:co:h", kOpcionesLargas, nullptr)) !=
         -1) {
    if (opcion == 'h') {
      fputs(kUso, stdout);
      exit(0);
    }
    if (opcion == ':') ErrorDeUso("Falta el valor de la opcion %s\n", argv[optind - 1]);
    if (opcion == '?' && optopt != 0) ErrorDeUso("Opcion no valida: -%c\n", optopt);
    if (opcion == '?') ErrorDeUso("Opcion no valida: %s\n", argv[optind - 1]);
    if (!AplicarOpcionDeCabecera(opcion, optarg, opciones) &&
        !AplicarOpcionDeRed(opcion, optarg, opciones))
      AplicarOpcionDePasadas(opcion, optarg, opciones);
  }
}

static void LeerDestino(const char *grupo, const char *puerto, Opciones &opciones) {
  sockaddr_in &destino = opciones.destino;
  destino.sin_family = AF_INET;
  if (inet_pton(AF_INET, grupo, &destino.sin_addr) != 1 ||
      !IN_MULTICAST(ntohl(destino.sin_addr.s_addr)))
    ErrorDeUso("IP multicast no valida: %s\n", grupo);
  long long numero = 0;
  if (!LeerEntero(puerto, 1, 65535, numero)) ErrorDeUso("Puerto no valido: %s\n", puerto);
  destino.sin_port = htons(static_cast<uint16_t>(numero));
}

static void LeerOpciones(int argc, char **argv, Opciones &opciones) {
  LeerOpcionesSueltas(argc, argv, opciones);
  if (argc - optind < 3) ErrorDeUso("Faltan argumentos\n");
  LeerDestino(argv[optind], argv[optind + 1], opciones);
  opciones.rutas.assign(argv + optind + 2, argv + argc);
  if (opciones.nombre != nullptr && opciones.rutas.size() > 1)
    ErrorDeUso("La opcion --nombre solo vale con un unico fichero\n");
}

static std::string NombreBase(const char *ruta) {
  const char *barra = strrchr(ruta, '/');
  return barra != nullptr ? barra + 1 : ruta;
}

static void ComprobarNombre(const Fichero &fichero) {
  const std::string &nombre = fichero.nombre;
  if (nombre.empty()) Rechazar("El nombre de %s esta vacio\n", fichero.ruta);
  if (nombre.find('/') != std::string::npos)
    Rechazar("El nombre \"%s\" contiene '/'\n", nombre.c_str());
  if (nombre.size() > kMaxNombre)
    Rechazar("El nombre \"%s\" tiene %zu bytes; el maximo es %zu\n", nombre.c_str(), nombre.size(),
             kMaxNombre);
}

// Two files of the same name would be taken by the receiver for parts of one.
static void ComprobarRepetidos(const std::vector<Fichero> &ficheros) {
  for (std::size_t i = 0; i < ficheros.size(); ++i)
    for (std::size_t j = 0; j < i; ++j)
      if (ficheros[i].nombre == ficheros[j].nombre)
        Rechazar("El nombre \"%s\" se repite en %s y %s\n", ficheros[i].nombre.c_str(),
                 ficheros[j].ruta, ficheros[i].ruta);
}

[[noreturn]] static void RechazarTamano(const Fichero &fichero, int tamparte) {
  Rechazar("El fichero %s no cabe en %u partes de %d bytes\n", fichero.ruta, kMaxPartes, tamparte);
}

// Reads at most one byte past what fits, so that a pipe or a device without end is refused
// rather than swallowed.
static void LeerContenido(int fd, Fichero &fichero, std::size_t limite) {
  std::vector<unsigned char> &datos = fichero.datos;
  std::size_t leidos = 0;
  for (;;) {
    std::size_t pedir = std::min<std::size_t>(1 << 16, limite + 1 - leidos);
    if (pedir == 0) break;
    datos.resize(leidos + pedir);
    ssize_t n = read(fd, datos.data() + leidos, pedir);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Rechazar("Error al leer el fichero %s: %s\n", fichero.ruta, strerror(errno));
    if (n == 0) break;
    leidos += static_cast<std::size_t>(n);
  }
  datos.resize(leidos);
}

static void CargarFichero(Fichero &fichero, int tamparte) {
  int fd = open(fichero.ruta, O_RDONLY | O_CLOEXEC);
  if (fd < 0) Rechazar("Error al abrir el fichero %s: %s\n", fichero.ruta, strerror(errno));
  std::size_t limite = static_cast<std::size_t>(kMaxPartes) * tamparte;
  struct stat estado;
  if (fstat(fd, &estado) == 0 && S_ISREG(estado.st_mode)) {
    if (static_cast<std::size_t>(estado.st_size) > limite) RechazarTamano(fichero, tamparte);
    fichero.datos.reserve(static_cast<std::size_t>(estado.st_size));
  }
  LeerContenido(fd, fichero, limite);
  close(fd);
  if (fichero.datos.size() > limite) RechazarTamano(fichero, tamparte);
  // an empty file still goes as one part, so that the receivers create it
  std::size_t partes = (fichero.datos.size() + tamparte - 1) / tamparte;
  fichero.totpartes = static_cast<uint32_t>(std::max<std::size_t>(partes, 1));
}

// Every file is named and read before anything is sent: a refusal never follows a partial send.
static std::vector<Fichero> CargarFicheros(const Opciones &opciones) {
  std::vector<Fichero> ficheros(opciones.rutas.size());
  for (std::size_t i = 0; i < ficheros.size(); ++i) {
    Fichero &fichero = ficheros[i];
    fichero.ruta = opciones.rutas[i];
    fichero.nombre = opciones.nombre != nullptr ? opciones.nombre : NombreBase(fichero.ruta);
    ComprobarNombre(fichero);
  }
  ComprobarRepetidos(ficheros);
  for (Fichero &fichero : ficheros) CargarFichero(fichero, opciones.tamparte);
  return ficheros;
}

static int AbrirEmisor(const Opciones &opciones) {
  int sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (sock < 0) Rechazar("Error al crear el socket: %s\n", strerror(errno));
  int ttl = opciones.ttl;
  if (setsockopt(sock, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) < 0)
    Rechazar("Error al fijar el TTL: %s\n", strerror(errno));
  if (opciones.con_interfaz && setsockopt(sock, IPPROTO_IP, IP_MULTICAST_IF, &opciones.interfaz,
                                          sizeof opciones.interfaz) < 0) {
    char texto[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &opciones.interfaz, texto, sizeof texto);
    Rechazar("Error al elegir la interfaz %s: %s\n", texto, strerror(errno));
  }
  return sock;
}

static void AlRecibirSenal(int) {
  g_parar = 1;
}

// No SA_RESTART, so that a sleep ends at once; SA_RESETHAND, so that a second signal ends the
// process if the first one is not heard.
static void InstalarSenales() {
  struct sigaction accion = {};
  accion.sa_handler = AlRecibirSenal;
  accion.sa_flags = SA_RESETHAND;
  sigemptyset(&accion.sa_mask);
  sigaction(SIGINT, &accion, nullptr);
  sigaction(SIGTERM, &accion, nullptr);
}

static int64_t AhoraNs() {
  timespec ahora;
  clock_gettime(CLOCK_MONOTONIC, &ahora);
  return static_cast<int64_t>(ahora.tv_sec) * 1000000000 + ahora.tv_nsec;
}

static void DormirHasta(int64_t instante) {
  timespec hasta = {static_cast<time_t>(instante / 1000000000), instante % 1000000000};
  // an early return on a signal is fine: the caller looks at the clock and the flag again
  clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &hasta, nullptr);
}

// Waits until the next datagram is due. Whatever is due by now goes out at once, so at high
// rates datagrams leave in small bursts between sleeps, never one sleep each. Returns false
// when a signal asks to stop.
static bool EsperarTurno(Envio &envio, const Opciones &opciones) {
  while (g_parar == 0) {
    if (opciones.ritmo <= 0) return true;
    long double segundos = static_cast<long double>(envio.unidades) / opciones.ritmo;
    int64_t debido = envio.origen + static_cast<int64_t>(segundos * 1e9L);
    int64_t ahora = AhoraNs();
    if (ahora >= debido) {
      if (ahora - debido > kMaxRetraso) envio.origen += ahora - debido;
      return true;
    }
    DormirHasta(debido);
  }
  return false;
}

// "1234/5000" and the time left at the rate so far; in carrusel there is no end to count to.
static void FormatearAvance(const Envio &envio, double por_segundo, char *texto, std::size_t tam) {
  auto enviados = static_cast<unsigned long long>(envio.enviados);
  if (envio.previstos == 0 || por_segundo <= 0) {
    snprintf(texto, tam, "%llu", enviados);
    return;
  }
  auto previstos = static_cast<unsigned long long>(envio.previstos);
  long long quedan = std::llround(static_cast<double>(previstos - enviados) / por_segundo);
  snprintf(texto, tam, "%llu/%llu  quedan %lld:%02lld:%02lld", enviados, previstos, quedan / 3600,
           quedan / 60 % 60, quedan % 60);
}

static void DibujarProgreso(Envio &envio, int64_t ahora) {
  double segundos = static_cast<double>(ahora - envio.inicio) / 1e9;
  double por_segundo = segundos > 0 ? static_cast<double>(envio.enviados) / segundos : 0;
  double mbits = segundos > 0 ? static_cast<double>(envio.bytes) * 8 / segundos / 1e6 : 0;
  char avance[96];
  FormatearAvance(envio, por_segundo, avance, sizeof avance);
  char linea[192];
  snprintf(linea, sizeof linea, "Partes enviadas: %s  %.0f datagramas/s  %.1f Mbit/s", avance,
           por_segundo, mbits);
  // padded, so that a shorter line covers what the previous one left
  fprintf(stderr, "\r%-79s", linea);
  envio.linea = true;
}

static void MostrarProgreso(Envio &envio) {
  if (!envio.progreso) return;
  int64_t ahora = AhoraNs();
  if (ahora < envio.proximo_progreso) return;
  envio.proximo_progreso = ahora + kPeriodoProgreso;
  DibujarProgreso(envio, ahora);
}

// The last state of the line, kept on the screen as the run's summary.
static void TerminarProgreso(Envio &envio) {
  if (!envio.progreso) return;
  DibujarProgreso(envio, AhoraNs());
  fputc('\n', stderr);
  envio.linea = false;
}

[[noreturn]] static void FallarEnvio(Envio &envio, const Fichero &fichero, uint32_t parte,
                                     int error) {
  if (envio.linea) fputc('\n', stderr);
  Rechazar("Error al enviar la parte %u/%u de %s: %s\n", parte, fichero.totpartes, fichero.ruta,
           strerror(error));
}

static void PonerBigEndian(unsigned char *destino, uint32_t valor) {
  destino[0] = static_cast<unsigned char>(valor >> 24);
  destino[1] = static_cast<unsigned char>(valor >> 16);
  destino[2] = static_cast<unsigned char>(valor >> 8);
  destino[3] = static_cast<unsigned char>(valor);
}

// What every part of the file shares; EnviarParte fills in the number and the content.
static void PrepararCabecera(Envio &envio, const Opciones &opciones, const Fichero &fichero) {
  unsigned char *cabecera = envio.datagrama;
  memset(cabecera, 0, kTamCabecera);
  memcpy(cabecera, opciones.tipo, 2);
  memcpy(cabecera + 2, opciones.subtipo, 2);
  PonerBigEndian(cabecera + 8, fichero.totpartes);
  memcpy(cabecera + 12, fichero.nombre.data(), fichero.nombre.size());
}

// Returns false when a signal stopped the send before this part left.
static bool EnviarParte(Envio &envio, const Opciones &opciones, const Fichero &fichero,
                        uint32_t indice) {
  std::size_t desde = static_cast<std::size_t>(indice) * opciones.tamparte;
  std::size_t largo = std::min<std::size_t>(opciones.tamparte, fichero.datos.size() - desde);
  PonerBigEndian(envio.datagrama + 4, indice + 1);
  if (largo > 0) memcpy(envio.datagrama + kTamCabecera, fichero.datos.data() + desde, largo);
  std::size_t total = kTamCabecera + largo;
  const sockaddr *destino = reinterpret_cast<const sockaddr *>(&opciones.destino);
  while (sendto(envio.sock, envio.datagrama, total, 0, destino, sizeof opciones.destino) < 0) {
    if (errno != EINTR) FallarEnvio(envio, fichero, indice + 1, errno);
    if (g_parar != 0) return false;
  }
  envio.enviados += 1;
  envio.bytes += total;
  envio.unidades += opciones.ritmo_en_bits ? 8 * total : 1;
  return true;
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
static void Barajar(std::vector<uint32_t> &partes, std::mt19937_64 &azar) {
  for (std::size_t i = partes.size(); i > 1; --i) std::swap(partes[i - 1], partes[AlAzar(azar, i)]);
}

static void OrdenarPartes(Envio &envio, Orden orden, uint32_t totpartes) {
  envio.orden.resize(totpartes);
  for (uint32_t i = 0; i < totpartes; ++i)
    envio.orden[i] = orden == Orden::kInverso ? totpartes - 1 - i : i;
  if (orden == Orden::kAleatorio) Barajar(envio.orden, envio.azar);
}

static bool EnviarFichero(Envio &envio, const Opciones &opciones, const Fichero &fichero) {
  PrepararCabecera(envio, opciones, fichero);
  OrdenarPartes(envio, opciones.orden, fichero.totpartes);
  for (uint32_t indice : envio.orden) {
    if (!EsperarTurno(envio, opciones) || !EnviarParte(envio, opciones, fichero, indice))
      return false;
    MostrarProgreso(envio);
  }
  return true;
}

static bool EnviarVueltas(Envio &envio, const Opciones &opciones,
                          const std::vector<Fichero> &ficheros) {
  for (long long vuelta = 0; opciones.carrusel || vuelta < opciones.vueltas; ++vuelta)
    for (const Fichero &fichero : ficheros)
      if (!EnviarFichero(envio, opciones, fichero)) return false;
  return true;
}

static void PrepararEnvio(Envio &envio, const Opciones &opciones,
                          const std::vector<Fichero> &ficheros) {
  uint64_t semilla = opciones.semilla;
  if (!opciones.con_semilla) {
    std::random_device dispositivo;
    semilla = (static_cast<uint64_t>(dispositivo()) << 32) | dispositivo();
  }
  envio.azar.seed(semilla);
  if (!opciones.carrusel)
    for (const Fichero &fichero : ficheros)
      envio.previstos += fichero.totpartes * static_cast<uint64_t>(opciones.vueltas);
  envio.progreso = isatty(STDERR_FILENO) != 0;
  envio.inicio = envio.origen = AhoraNs();
}

int main(int argc, char **argv) {
  Opciones opciones;
  LeerOpciones(argc, argv, opciones);
  std::vector<Fichero> ficheros = CargarFicheros(opciones);
  Envio envio;
  envio.sock = AbrirEmisor(opciones);
  InstalarSenales();
  PrepararEnvio(envio, opciones, ficheros);
  bool completo = EnviarVueltas(envio, opciones, ficheros);
  TerminarProgreso(envio);
  close(envio.sock);
  // in carrusel a signal is the way to end; otherwise it leaves the set half sent
  if (!completo && !opciones.carrusel)
    Rechazar("Envio interrumpido: %llu de %llu datagramas enviados\n",
             (unsigned long long)envio.enviados, (unsigned long long)envio.previstos);
  return 0;
}
