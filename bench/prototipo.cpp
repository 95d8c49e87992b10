// Mode 2 with another wait, for measurement only: the receiver's own modules (membership, batch,
// pass, write buffer, output) driven by a loop that makes one system call per wake-up, and that
// may pause between receives while datagrams keep coming, so that each wake-up takes more.
//   una:   a blocking recvmmsg per wake-up, nothing else; output shown when a receive brings
//          nothing (after the socket's 1 s time-out: not a receiver to ship)
//   pausa: the same for the first datagram; then, while receives bring datagrams, a sleep of the
//          pause given before each receive that does not wait; output shown as soon as one brings
//          nothing, so a lone datagram's line waits about one pause
// Ends on SIGTERM or SIGINT once what was received is written.
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "almacen.h"
#include "entrada.h"
#include "guardar.h"
#include "paso.h"
#include "membresia.h"
#include "salida.h"

/// What the loop owns, as the receiver's main owns it.
struct Prototipo {
  Bucle estado;                   // the pass's state between datagrams
  DatagramaActual actual;               // the current datagram's header
  AlmacenFicheros almacen;              // the files in progress
  Membresia membresia;                  // the socket and its join
  std::unique_ptr<Receptor> receptor;   // the batch
  Vaciado vaciado;                      // output waiting to be shown
  long pausa_us = 0;                    // pause between receives while datagrams come; 0: una
  long long esperas = 0;                // receives that blocked
  long long pausas = 0;                 // pauses taken
};

static volatile sig_atomic_t g_fin = 0;

static void AlTerminar(int) {
  g_fin = 1;
}

// No SA_RESTART: a blocked receive returns at once.
static void InstalarSenales() {
  struct sigaction accion = {};
  accion.sa_handler = AlTerminar;
  sigemptyset(&accion.sa_mask);
  sigaction(SIGTERM, &accion, nullptr);
  sigaction(SIGINT, &accion, nullptr);
}

static void Pausar(long microsegundos) {
  timespec plazo = {0, microsegundos * 1000};
  while (nanosleep(&plazo, &plazo) < 0 && errno == EINTR && g_fin == 0) {
  }
}

// Takes one receive through the pass; returns how many datagrams it brought.
static int Atender(Prototipo &p, bool esperar) {
  int recibidos = RecibirLote(*p.receptor, esperar);
  ProcesarLote(*p.receptor, p.estado, p.actual, p.almacen, stdout);
  return recibidos;
}

// Idle: the parts go to their files and the lines are shown.
static void MostrarTodo(Prototipo &p) {
  VolcarFicheros(p.almacen, stdout);
  Vaciar(p.vaciado, stdout);
}

// The datagrams of one burst: the first waited for, the rest taken after each pause, until a
// receive brings nothing.
static void Rafaga(Prototipo &p) {
  ++p.esperas;
  int recibidos = Atender(p, true);
  while (recibidos > 0 && g_fin == 0) {
    VaciarSiHaEsperado(p.vaciado, stdout);
    if (p.pausa_us > 0 && !p.receptor->lleno) {
      Pausar(p.pausa_us);
      ++p.pausas;
      recibidos = Atender(p, false);
    } else if (p.pausa_us > 0) {
      recibidos = Atender(p, false);
    } else {
      ++p.esperas;
      recibidos = Atender(p, true);
    }
  }
  MostrarTodo(p);
}

int main(int argc, char **argv) {
  if (argc != 4 && argc != 5) {
    fprintf(stderr, "Uso: %s <IP Multicast> <Puerto> una|pausa [microsegundos, 500]\n", argv[0]);
    return 2;
  }
  static Prototipo p;
  if (strcmp(argv[3], "pausa") == 0) p.pausa_us = argc > 4 ? atol(argv[4]) : 500;
  static char buffer_salida[1 << 16];
  setvbuf(stdout, buffer_salida, _IOFBF, sizeof buffer_salida);
  InstalarSenales();
  p.estado.modo = 2;
  p.receptor.reset(new Receptor);
  AbrirMembresia(p.membresia, argv[1], static_cast<uint16_t>(atoi(argv[2])), OpcionesEntrada{},
                 stderr);
  AbrirReceptor(*p.receptor, p.membresia);
  while (g_fin == 0) Rafaga(p);
  MostrarTodo(p);
  fflush(stdout);
  fprintf(stderr, "datagramas=%llu esperas=%lld pausas=%lld\n",
          static_cast<unsigned long long>(p.estado.datagramas), p.esperas, p.pausas);
  return 0;
}
