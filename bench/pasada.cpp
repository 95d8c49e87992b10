// The pass over N datagrams prepared in memory, without a socket, in mode 2 (or the mode given,
// quiet with q): a fixed workload for valgrind --tool=callgrind, whose cost of PasarLote divided
// by N is the cost per datagram. bench/pasada [N] [modo] [q] [riada]: with riada, every datagram
// has a name of its own with '/', refused, as a stranger's flood on the group would be.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "almacen.h"
#include "entrada.h"
#include "paso.h"
#include "grabados.h"

static constexpr char kNombre[] = "datos";
static constexpr char kIdentidad[] = "0001-0002-datos";

// One slot per datagram, laid out as the receive leaves it: the bytes, then a NUL.
static std::vector<unsigned char> PrepararDatagramas(int n, bool riada) {
  std::vector<unsigned char> ranuras(static_cast<std::size_t>(n) * kTamRanura, 0);
  uint32_t semilla = 12345;
  for (int i = 0; i < n; ++i) {
    unsigned char *d = ranuras.data() + static_cast<std::size_t>(i) * kTamRanura;
    std::string nombre = riada ? "x/" + std::to_string(i) : kNombre;
    CodificarCabecera({1, 2, static_cast<uint32_t>(i + 1), static_cast<uint32_t>(n), nombre}, d);
    for (int j = TamCabecera; j < kTamMaxPaquete; ++j) {
      semilla = semilla * 1103515245u + 12345u;
      d[j] = static_cast<unsigned char>(semilla >> 16);
    }
  }
  return ranuras;
}

// One batch as the receiver takes it: the pass over each datagram. Not inlined, so that the
// instruction count can name it.
[[gnu::noinline]] void PasarLote(const Paquete *lote, int cuantos, Bucle &estado,
                                 DatagramaActual &actual, AlmacenFicheros &almacen, FILE *salida) {
  EmpezarLote(almacen);
  for (int i = 0; i < cuantos; ++i) ProcesarPaquete(lote[i], estado, actual, almacen, salida);
}

static void Pasar(const std::vector<unsigned char> &ranuras, int n, int modo, bool silencioso,
                  FILE *salida) {
  Bucle estado;
  estado.modo = modo;
  DatagramaActual actual;
  AlmacenFicheros almacen;
  almacen.opciones.silencioso = silencioso;
  Paquete lote[kTamLote];
  for (int desde = 0; desde < n; desde += kTamLote) {
    int cuantos = std::min(kTamLote, n - desde);
    for (int i = 0; i < cuantos; ++i)
      lote[i] = {ranuras.data() + static_cast<std::size_t>(desde + i) * kTamRanura, kTamMaxPaquete,
                 kTamMaxPaquete + 1, false};
    PasarLote(lote, cuantos, estado, actual, almacen, salida);
  }
}

int main(int argc, char **argv) {
  int n = argc > 1 ? atoi(argv[1]) : 2000;
  int modo = argc > 2 ? atoi(argv[2]) : 2;
  bool silencioso = argc > 3 && strcmp(argv[3], "q") == 0;
  bool riada = argc > 4 && strcmp(argv[4], "riada") == 0;
  if (n < 1 || n > MAX_TROZOS) {
    fprintf(stderr, "Uso: %s [datagramas, de 1 a %d] [modo] [q] [riada]\n", argv[0], MAX_TROZOS);
    return 2;
  }
  std::vector<unsigned char> ranuras = PrepararDatagramas(n, riada);

  char plantilla[] = "/tmp/pasada.XXXXXX";
  if (mkdtemp(plantilla) == nullptr || chdir(plantilla) != 0) {
    perror("directorio temporal");
    return 1;
  }
  FILE *salida = fopen("/dev/null", "w");
  if (salida == nullptr) {
    perror("/dev/null");
    return 1;
  }
  // buffered as the client buffers its standard output
  static char buffer_salida[1 << 16];
  setvbuf(salida, buffer_salida, _IOFBF, sizeof buffer_salida);

  Pasar(ranuras, n, modo, silencioso, salida);
  fclose(salida);

  struct stat estado;
  bool completo =
      stat(kIdentidad, &estado) == 0 && estado.st_size == static_cast<off_t>(n) * kTamMaxParte;
  unlink(kIdentidad);
  unlink((std::string(kIdentidad) + ".tmp").c_str());
  if (chdir("/") != 0 || rmdir(plantilla) != 0) perror(plantilla);
  if (modo == 2 && !completo && !riada) {
    fprintf(stderr, "El fichero de %d partes no quedo completo\n", n);
    return 1;
  }
  fprintf(stderr, "%d datagramas, fichero completo\n", n);
  return 0;
}
