// The two reference receive loops that client is measured against: recvfrom and nothing else,
// or recvfrom and one pwrite of the content at the part's offset.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "formato.h"

static constexpr int kTamCola = 8 << 20;  // as the client asks

struct Opciones {
  const char *grupo;
  uint16_t puerto;
  bool grabar;          // pwrite each part; otherwise discard it
  const char *fichero;  // where the parts go
  long long maximo;     // datagrams to receive before ending; 0: no count limit
  unsigned segundos;    // ends after this long in any case
};

static volatile sig_atomic_t g_parar = 0;

static void AlRecibirSenal(int) {
  g_parar = 1;
}

// No SA_RESTART: a blocked recvfrom returns at once with EINTR.
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

static Opciones LeerOpciones(int argc, char **argv) {
  if (argc < 4 || (strcmp(argv[3], "descartar") != 0 && strcmp(argv[3], "pwrite") != 0)) {
    fprintf(stderr,
            "Uso: %s <IP Multicast> <Puerto> descartar|pwrite [fichero] [maximo] [segundos]\n",
            argv[0]);
    exit(2);
  }
  Opciones opciones;
  opciones.grupo = argv[1];
  opciones.puerto = static_cast<uint16_t>(atoi(argv[2]));
  opciones.grabar = strcmp(argv[3], "pwrite") == 0;
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

// The part index, kept inside the largest file so that a stray datagram cannot seek far.
static uint32_t ParteAcotada(const unsigned char *datagrama) {
  return static_cast<uint32_t>(IndiceDeParte(datagrama)) % MAX_TROZOS;
}

static long long Recibir(int sock, int fd, const Opciones &opciones) {
  unsigned char datagrama[kTamMaxPaquete];
  long long recibidos = 0;
  while (g_parar == 0 && (opciones.maximo == 0 || recibidos < opciones.maximo)) {
    ssize_t n = recvfrom(sock, datagrama, sizeof datagrama, 0, nullptr, nullptr);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fallar("recvfrom");
    }
    ++recibidos;
    if (fd < 0 || n <= TamCabecera) continue;
    off_t posicion = static_cast<off_t>(ParteAcotada(datagrama)) * kTamMaxParte;
    if (pwrite(fd, datagrama + TamCabecera, static_cast<size_t>(n - TamCabecera), posicion) < 0)
      Fallar("pwrite");
  }
  return recibidos;
}

int main(int argc, char **argv) {
  Opciones opciones = LeerOpciones(argc, argv);
  InstalarSenales();
  alarm(opciones.segundos);
  int sock = AbrirSocket(opciones);
  int fd = -1;
  if (opciones.grabar) {
    fd = open(opciones.fichero, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) Fallar("open");
  }
  long long recibidos = Recibir(sock, fd, opciones);
  if (fd >= 0) close(fd);
  close(sock);
  fprintf(stderr, "recibidos=%lld\n", recibidos);
  return 0;
}
