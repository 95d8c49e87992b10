// Receives files sent as numbered parts on a UDP multicast group, and shows or rebuilds them.
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <memory>

#include "almacen.h"
#include "directorio.h"
#include "entrada.h"
#include "marco.h"
#include "salida.h"
#include "senales.h"

// Datagrams that had arrived when a signal came are still handled, a bounded number of
// batches, so that a sender that keeps on cannot hold the receiver.
static constexpr int kLotesAlTerminar = 128;

// Takes the datagrams of one receive through the pass; returns how many. While printed output
// waits, the receive waits only until it is due to be shown.
static int AtenderLote(Receptor &receptor, EstadoBucle &estado, DatagramaActual &actual,
                       AlmacenFicheros &almacen, const Vaciado &vaciado, bool esperar) {
  int recibidos = esperar && vaciado.pendiente
                      ? RecibirAntesDe(receptor, EsperaHastaVaciar(vaciado))
                      : RecibirLote(receptor, esperar);
  ProcesarLote(receptor, estado, actual, almacen, stdout);
  return recibidos;
}

// Ends as the signal would have, once the datagrams already queued are handled, the files in
// progress written out (and saved when asked), and what was printed written out.
[[noreturn]] static void TerminarPorSenal(Receptor &receptor, EstadoBucle &estado,
                                          DatagramaActual &actual, AlmacenFicheros &almacen) {
  for (int lote = 0; lote < kLotesAlTerminar; ++lote) {
    AtenderLote(receptor, estado, actual, almacen, Vaciado{}, false);
    if (!receptor.lleno) break;
  }
  GuardarFicherosEnCurso(almacen, stdout);
  fflush(stdout);
  TerminarComoLaSenal(SenalDeFin());
}

static int64_t SegundosMonotonos() {
  timespec ahora;
  clock_gettime(CLOCK_MONOTONIC, &ahora);
  return ahora.tv_sec;
}

int main(int argc, char **argv) {
  Argumentos argumentos = LeerArgumentos(argc, argv);
  static char buffer_salida[1 << 16];
  setvbuf(stdout, buffer_salida, _IOFBF, sizeof buffer_salida);
  // before the join: a signal that comes once the group is joined ends the receiver in order
  InstalarSenales();

  AlmacenFicheros almacen;
  // before the group is joined: a second receiver storing here would replace our files
  if (argumentos.modo == 2) almacen.directorio = ReservarDirectorio();
  // not value-initialized: its buffers are touched only as datagrams fill them
  std::unique_ptr<Receptor> receptor(new Receptor);
  AbrirReceptor(*receptor, argumentos.grupo, argumentos.puerto);
  EstadoBucle estado;
  estado.modo = argumentos.modo;
  DatagramaActual actual;
  almacen.opciones = argumentos.almacen;
  almacen.opciones.a_terminal = isatty(STDOUT_FILENO) != 0;
  Vaciado vaciado;

  for (;;) {
    int recibidos = AtenderLote(*receptor, estado, actual, almacen, vaciado, SenalDeFin() == 0);
    if (SenalDeFin() != 0) TerminarPorSenal(*receptor, estado, actual, almacen);
    GuardarSiToca(almacen, SegundosMonotonos(), stdout);
    if (recibidos == 0) {
      // the lines shown say the parts are written: so they are, first
      VolcarFicheros(almacen, stdout);
      Vaciar(vaciado, stdout);
    } else {
      VaciarSiHaEsperado(vaciado, stdout);
    }
  }
}
