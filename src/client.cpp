// Receives files sent as numbered parts on a UDP multicast group, and shows or rebuilds them.
#include <signal.h>
#include <stdio_ext.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>

#include "almacen.h"
#include "entrada.h"
#include "fatal.h"
#include "marco.h"

// Printed output waits in the buffer at most this long, so that a person or a script sees it
// when the receiver goes idle, without a write per datagram while it is busy.
static constexpr long kEsperaAntesDeVaciar = 2'000'000;  // nanoseconds

// Set by the handler of the signals that end the receiver; the loop acts on it, so that
// nothing is printed from the handler.
static volatile sig_atomic_t g_senal_de_fin = 0;

static void AlRecibirSenalDeFin(int senal) {
  g_senal_de_fin = senal;
}

// Without SA_RESTART, so that a wait in progress returns at once. A signal ignored by whoever
// started the receiver (nohup, a background job) stays ignored.
static void InstalarSenales() {
  struct sigaction accion = {};
  accion.sa_handler = AlRecibirSenalDeFin;
  sigemptyset(&accion.sa_mask);
  for (int senal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction anterior;
    if (sigaction(senal, nullptr, &anterior) == 0 && anterior.sa_handler == SIG_IGN) continue;
    sigaction(senal, &accion, nullptr);
  }
  // past a file size limit a write fails with EFBIG, reported like any failed write
  signal(SIGXFSZ, SIG_IGN);
}

// Takes every datagram already waiting, up to a batch, through the pass; returns how many.
static int AtenderLote(Receptor &receptor, EstadoBucle &estado, DatagramaActual &actual,
                       AlmacenFicheros &almacen) {
  int recibidos = RecibirLote(receptor);
  for (int i = 0; i < recibidos; ++i)
    ProcesarPaquete(PaqueteDelLote(receptor, i), estado, actual, almacen, stdout);
  TerminarLote(receptor);
  return recibidos;
}

// Datagrams that had arrived when the signal came are still handled, a bounded number of
// batches, so that a sender that keeps on cannot hold the receiver.
static constexpr int kLotesAlTerminar = 128;

// Ends as the signal would have, once the datagrams already queued are handled and what was
// printed is written out.
[[noreturn]] static void TerminarPorSenal(Receptor &receptor, EstadoBucle &estado,
                                          DatagramaActual &actual, AlmacenFicheros &almacen) {
  int senal = g_senal_de_fin;
  for (int lote = 0; lote < kLotesAlTerminar; ++lote)
    if (AtenderLote(receptor, estado, actual, almacen) < kTamLote) break;
  GuardarFicherosEnCurso(almacen);
  fflush(stdout);
  signal(senal, SIG_DFL);
  raise(senal);
  _exit(128 + senal);
}

/// The flush of standard output on idle.
struct Vaciado {
  int temporizador = -1;  // one-shot timer, armed while printed output waits
  bool armado = false;    // the timer is running
};

static void AbrirVaciado(Vaciado &vaciado) {
  vaciado.temporizador = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
  if (vaciado.temporizador < 0) DieWithError("Error al crear el temporizador");
}

// A timer armed once per flush, not a time-out per wait: arming one costs more than the
// wait itself at a hundred thousand datagrams a second.
static void ArmarSiHaceFalta(Vaciado &vaciado) {
  if (vaciado.armado || __fpending(stdout) == 0) return;
  itimerspec plazo{{0, 0}, {0, kEsperaAntesDeVaciar}};
  if (timerfd_settime(vaciado.temporizador, 0, &plazo, nullptr) < 0)
    DieWithError("Error al armar el temporizador");
  vaciado.armado = true;
}

static void EsperarSiguiente(const Receptor &receptor, Vaciado &vaciado) {
  ArmarSiHaceFalta(vaciado);
  if (!EsperarDatagrama(receptor, vaciado.armado ? vaciado.temporizador : -1)) return;
  uint64_t vencimientos;
  if (read(vaciado.temporizador, &vencimientos, sizeof vencimientos) < 0) return;
  vaciado.armado = false;
  fflush(stdout);
}

int main(int argc, char **argv) {
  Argumentos argumentos = LeerArgumentos(argc, argv);
  static char buffer_salida[1 << 16];
  setvbuf(stdout, buffer_salida, _IOFBF, sizeof buffer_salida);

  auto receptor = std::make_unique<Receptor>();
  AbrirReceptor(*receptor, argumentos.grupo, argumentos.puerto);
  Vaciado vaciado;
  AbrirVaciado(vaciado);
  EstadoBucle estado;
  estado.modo = argumentos.modo;
  estado.a_terminal = isatty(STDOUT_FILENO) != 0;
  estado.silencioso = argumentos.almacen.silencioso;
  DatagramaActual actual;
  AlmacenFicheros almacen;
  almacen.opciones = argumentos.almacen;
  almacen.opciones.a_terminal = estado.a_terminal;

  InstalarSenales();

  for (;;) {
    int recibidos = AtenderLote(*receptor, estado, actual, almacen);
    if (g_senal_de_fin != 0) TerminarPorSenal(*receptor, estado, actual, almacen);
    if (recibidos < kTamLote) EsperarSiguiente(*receptor, vaciado);
  }
}
