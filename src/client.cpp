// Receives files sent as numbered parts on a UDP multicast group, and shows or rebuilds them.
#include <cstdio>
#include <memory>

#include "almacen.h"
#include "entrada.h"
#include "marco.h"

// Output waits in the buffer while datagrams keep coming; after this long without one, the
// receiver counts as idle and shows what it printed.
static constexpr int kEsperaAntesDeVaciar = 2;  // milliseconds

static void EsperarSiguiente(const Receptor &receptor) {
  if (EsperarDatagrama(receptor, kEsperaAntesDeVaciar)) return;
  fflush(stdout);
  EsperarDatagrama(receptor, -1);
}

int main(int argc, char **argv) {
  Argumentos argumentos = LeerArgumentos(argc, argv);
  static char buffer_salida[1 << 16];
  setvbuf(stdout, buffer_salida, _IOFBF, sizeof buffer_salida);

  auto receptor = std::make_unique<Receptor>();
  AbrirReceptor(*receptor, argumentos.grupo, argumentos.puerto);
  EstadoBucle estado;
  estado.modo = argumentos.modo;
  DatagramaActual actual;
  AlmacenFicheros almacen;

  for (;;) {
    int recibidos = RecibirLote(*receptor);
    for (int i = 0; i < recibidos; ++i)
      ProcesarPaquete(PaqueteDelLote(*receptor, i), estado, actual, almacen, stdout);
    TerminarLote(*receptor);
    if (recibidos < kTamLote) EsperarSiguiente(*receptor);
  }
}
