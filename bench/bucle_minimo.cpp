// The reference receive loops that client is measured against: recvfrom and nothing else;
// recvfrom and one pwrite of the content at the part's offset; or the floor with the receiver's
// own receive and file handling (recvmmsg of merged runs, content gathered into whole-page
// writes), without anything else the receiver does.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/udp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "entrada.h"
#include "escritura.h"
#include "formato.h"

static constexpr int kTamCola = 8 << 20;  // as the client asks

enum class Modo { kDescartar, kPwrite, kBloques };

struct Opciones {
  const char *grupo;
  uint16_t puerto;
  Modo modo;
  const char *fichero;  // where the parts go; each further file sent gets its name after it
  long long maximo;     // datagrams to receive before ending; 0: no count limit
  unsigned segundos;    // ends after this long in any case
};

/// The file being written: one per name seen, in turn, as the receiver takes them.
struct Salida {
  int fd = -1;
  unsigned char nombre[kTamCampoNombre] = {};  // the name field of its datagrams
  int ficheros = 0;                            // files opened so far
  int64_t tamparte = 0;  // content bytes of a part that is not the last, from the first one
  // bloques: the window of the file held in memory, as the receiver's write buffer
  std::unique_ptr<unsigned char[]> ventana;
  int64_t base = 0;   // file offset of the window's first byte, on a page
  int64_t lleno = 0;  // bytes of the window filled from its start
};

/// What the loop counts, printed at the end.
struct Cuentas {
  long long recibidos = 0;    // datagrams
  long long mensajes = 0;     // messages, each a datagram or a merged run
  long long recepciones = 0;  // receive calls that brought something
  long long escrituras = 0;   // write calls to the file
};

static volatile sig_atomic_t g_parar = 0;

static void AlRecibirSenal(int) {
  g_parar = 1;
}

// No SA_RESTART: a blocked receive returns at once with EINTR.
static void InstalarSenales() {
  struct sigaction accion = {};
  accion.sa_handler = AlRecibirSenal;
  sigemptyset(&accion.sa_mask);
  sigaction(SIGTERM, &accion, nullptr);
  sigaction(SIGINT, &accion, nullptr);
  sigaction(SIGALRM, &accion, nullptr);
}

[[noreturn]] static void Fallar(const char *paso) {
  fprintf(stderr, "%s: %s\n", paso, strerror(errno));
  exit(1);
}

static Modo LeerModo(int argc, char **argv) {
  if (argc >= 4 && strcmp(argv[3], "descartar") == 0) return Modo::kDescartar;
  if (argc >= 4 && strcmp(argv[3], "pwrite") == 0) return Modo::kPwrite;
  if (argc >= 4 && strcmp(argv[3], "bloques") == 0) return Modo::kBloques;
  fprintf(stderr,
          "Uso: %s <IP Multicast> <Puerto> descartar|pwrite|bloques [fichero] [maximo] "
          "[segundos]\n",
          argv[0]);
  exit(2);
}

static Opciones LeerOpciones(int argc, char **argv) {
  Opciones opciones;
  opciones.modo = LeerModo(argc, argv);
  opciones.grupo = argv[1];
  opciones.puerto = static_cast<uint16_t>(atoi(argv[2]));
  opciones.fichero = argc > 4 ? argv[4] : "bucle_minimo.dat";
  opciones.maximo = argc > 5 ? atoll(argv[5]) : 0;
  opciones.segundos = argc > 6 ? static_cast<unsigned>(atoi(argv[6])) : 120;
  return opciones;
}

static int AbrirSocket(const Opciones &opciones) {
  int sock = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (sock < 0) Fallar("socket");
  int cola = kTamCola;
  setsockopt(sock, SOL_SOCKET, SO_RCVBUF, &cola, sizeof cola);
  // the floor takes merged runs as the receiver does
  int si = 1;
  if (opciones.modo == Modo::kBloques) setsockopt(sock, SOL_UDP, UDP_GRO, &si, sizeof si);
  sockaddr_in local = {};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  local.sin_port = htons(opciones.puerto);
  if (bind(sock, reinterpret_cast<sockaddr *>(&local), sizeof local) < 0) Fallar("bind");
  ip_mreq peticion = {};
  peticion.imr_multiaddr.s_addr = inet_addr(opciones.grupo);
  peticion.imr_interface.s_addr = htonl(INADDR_ANY);
  if (setsockopt(sock, IPPROTO_IP, IP_ADD_MEMBERSHIP, &peticion, sizeof peticion) < 0)
    Fallar("IP_ADD_MEMBERSHIP");
  return sock;
}

static void Grabar(Salida &s, Cuentas &c, const unsigned char *datos, int64_t largo,
                   int64_t posicion) {
  if (largo <= 0) return;
  if (pwrite(s.fd, datos, static_cast<size_t>(largo), posicion) != largo) Fallar("pwrite");
  ++c.escrituras;
}

// Writes what the window holds; the partial page at its end stays in memory for what follows.
static void VaciarVentana(Salida &s, Cuentas &c, bool todo) {
  int64_t hasta = todo ? s.lleno : s.lleno / kTamPagina * kTamPagina;
  Grabar(s, c, s.ventana.get(), hasta, s.base);
  memmove(s.ventana.get(), s.ventana.get() + hasta, static_cast<size_t>(s.lleno - hasta));
  s.base += hasta;
  s.lleno -= hasta;
}

// Parts in order fill the window; one out of order empties it and is written alone.
static void Guardar(Salida &s, Cuentas &c, const unsigned char *datos, int64_t largo,
                    int64_t posicion) {
  if (!s.ventana) {
    Grabar(s, c, datos, largo, posicion);
    return;
  }
  if (posicion != s.base + s.lleno) {
    VaciarVentana(s, c, true);
    Grabar(s, c, datos, largo, posicion);
    s.base = posicion + largo;
    return;
  }
  if (s.lleno + largo > kTamBuffer) VaciarVentana(s, c, false);
  memcpy(s.ventana.get() + s.lleno, datos, static_cast<size_t>(largo));
  s.lleno += largo;
}

static void CerrarFichero(Salida &s, Cuentas &c) {
  if (s.fd < 0) return;
  if (s.ventana) VaciarVentana(s, c, true);
  close(s.fd);
  s.fd = -1;
}

// A datagram with another name starts the next file: the first keeps the name given, the
// next ones get ".2", ".3"... after it.
static void ElegirFichero(Salida &s, Cuentas &c, const Opciones &o, const unsigned char *d) {
  const unsigned char *nombre = d + offsetof(Cabecera, nombre);
  if (s.fd >= 0 && memcmp(nombre, s.nombre, sizeof s.nombre) == 0) return;
  CerrarFichero(s, c);
  memcpy(s.nombre, nombre, sizeof s.nombre);
  std::string ruta = o.fichero;
  if (++s.ficheros > 1) ruta += "." + std::to_string(s.ficheros);
  s.fd = open(ruta.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (s.fd < 0) Fallar("open");
  s.tamparte = 0;
  s.base = s.lleno = 0;
}

// The content at its place in the file: the part size comes from the first part that is not
// the last, as the receiver takes it, so that the file is the one sent.
static void TomarParte(Salida &s, Cuentas &c, const Opciones &o, const unsigned char *d,
                       int largo) {
  if (largo <= TamCabecera) return;
  ElegirFichero(s, c, o, d);
  int64_t contenido = largo - TamCabecera;
  int64_t indice = IndiceDeParte(d) % MAX_TROZOS;
  uint32_t total;
  memcpy(&total, d + offsetof(Cabecera, totpartes), sizeof total);
  if (s.tamparte == 0 && (indice + 1 < ntohl(total) || indice == 0)) s.tamparte = contenido;
  int64_t tamparte = s.tamparte != 0 ? s.tamparte : kTamMaxParte;
  Guardar(s, c, d + TamCabecera, contenido, indice * tamparte);
}

static void RecibirUnoAUno(int sock, Salida &s, Cuentas &c, const Opciones &o) {
  unsigned char datagrama[kTamMaxPaquete];
  while (g_parar == 0 && (o.maximo == 0 || c.recibidos < o.maximo)) {
    ssize_t n = recvfrom(sock, datagrama, sizeof datagrama, 0, nullptr, nullptr);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fallar("recvfrom");
    }
    ++c.recibidos;
    ++c.mensajes;
    ++c.recepciones;
    if (o.modo == Modo::kPwrite) TomarParte(s, c, o, datagrama, static_cast<int>(n));
  }
}

// The receiver's own receive: its batch of messages, merged runs cut by their datagram size.
static void RecibirEnBloques(int sock, Salida &s, Cuentas &c, const Opciones &o) {
  std::unique_ptr<Receptor> receptor(new Receptor);
  Membresia membresia;
  membresia.sock = sock;
  AbrirReceptor(*receptor, membresia);
  while (g_parar == 0 && (o.maximo == 0 || c.recibidos < o.maximo)) {
    int recibidos = RecibirLote(*receptor, true);
    if (recibidos == 0) continue;
    ++c.recepciones;
    c.mensajes += receptor->ultimos_mensajes;
    for (int i = 0; i < recibidos; ++i, ++c.recibidos) {
      Paquete paquete = PaqueteDelLote(*receptor, i);
      TomarParte(s, c, o, paquete.datos, paquete.tampaquete);
    }
    TerminarLote(*receptor);
  }
}

int main(int argc, char **argv) {
  Opciones opciones = LeerOpciones(argc, argv);
  InstalarSenales();
  alarm(opciones.segundos);
  int sock = AbrirSocket(opciones);
  Salida salida;
  Cuentas cuentas;
  if (opciones.modo == Modo::kBloques) {
    salida.ventana.reset(new unsigned char[kTamBuffer]);
    RecibirEnBloques(sock, salida, cuentas, opciones);
  } else {
    RecibirUnoAUno(sock, salida, cuentas, opciones);
  }
  CerrarFichero(salida, cuentas);
  close(sock);
  fprintf(stderr, "recibidos=%lld mensajes=%lld recepciones=%lld escrituras=%lld ficheros=%d\n",
          cuentas.recibidos, cuentas.mensajes, cuentas.recepciones, cuentas.escrituras,
          salida.ficheros);
  return 0;
}
