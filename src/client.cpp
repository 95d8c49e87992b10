// Receives files sent as numbered parts on a UDP multicast group, and shows or rebuilds them.
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
  DatagramaActual actual;
  AlmacenFicheros almacen;

  for (;;) {
    int recibidos = RecibirLote(*receptor);
    for (int i = 0; i < recibidos; ++i)
      ProcesarPaquete(PaqueteDelLote(*receptor, i), estado, actual, almacen, stdout);
    TerminarLote(*receptor);
    if (recibidos < kTamLote) EsperarSiguiente(*receptor, vaciado);
  }
}
