#include "marco.h"

#include <cstdlib>

#include "fatal.h"
#include "salida.h"
#include "volcado.h"

static void MostrarUso(const char *programa) {
  fprintf(stderr, "Version 1.0\nUso: %s <IP Multicast> <Puerto Multicast> <Modo>\n", programa);
  fprintf(stderr, "Modos:\n0 - Solo obtener las  cabeceras e imprimirlas en pantalla\n");
  fprintf(stderr, "2 - Almacenar ficheros\n");
  fprintf(stderr, "Otro - Ver una linea por paquete\n");
}

Argumentos LeerArgumentos(int argc, char **argv) {
  if (argc < 4) {
    MostrarUso(argv[0] != nullptr ? argv[0] : "client");
    exit(kSalidaUso);
  }
  return {argv[1], static_cast<uint16_t>(atoi(argv[2])), atoi(argv[3])};
}

// Only a datagram that carries a whole header carries a count: a short one would be judged
// by bytes that were never received.
static void ComprobarLimite(const DatagramaActual &actual, const Paquete &paquete, FILE *salida) {
  if (paquete.tampaquete < TamCabecera || actual.totpartes <= MAX_TROZOS) return;
  fprintf(salida,
          "El total de partes (%d) EXCEDE al MAX_TROZOS (%d), amplialo en MAX_TROZOS en el "
          "DEFINE y recompila, prometo hacerlo en la proxima versi\xf3n yo mismo si tengo "
          "tiempo.\n",
          actual.totpartes, MAX_TROZOS);
  exit(kSalidaMaxTrozos);  // which flushes every stream
}

// A short datagram would make the part size negative and misplace every later part.
// The count less one is taken in 32-bit arithmetic, as every field is.
static void ActualizarTamParte(const DatagramaActual &actual, const Paquete &paquete,
                               EstadoBucle &estado) {
  if (paquete.tampaquete < TamCabecera) return;
  int32_t ultima = static_cast<int32_t>(static_cast<uint32_t>(actual.totpartes) - 1u);
  if (actual.parteactual < ultima) estado.tamparte = paquete.tampaquete - TamCabecera;
}

// "T:%s|S:%s|Nom:%s|%d/%d|MxPrt:%d|Fltn:%d|\n", built by hand: it is printed for every datagram.
static void ImprimirResumen(const DatagramaActual &actual, const EstadoBucle &estado,
                            FILE *salida) {
  Renglon linea;
  Anadir(linea, "T:");
  Anadir(linea, std::string_view(actual.eltipo, 4));
  Anadir(linea, "|S:");
  Anadir(linea, std::string_view(actual.elsubtipo, 4));
  Anadir(linea, "|Nom:");
  AnadirNombre(linea, actual.nombre, estado.a_terminal);
  Anadir(linea, "|");
  AnadirEntero(linea, actual.parteactual);
  Anadir(linea, "/");
  AnadirEntero(linea, actual.totpartes);
  Anadir(linea, "|MxPrt:");
  AnadirEntero(linea, estado.tamparte);
  Anadir(linea, "|Fltn:");
  AnadirEntero(linea, estado.faltan);
  Anadir(linea, "|\n");
  Emitir(linea, salida);
}

void ProcesarPaquete(const Paquete &paquete, EstadoBucle &estado, DatagramaActual &actual,
                     AlmacenFicheros &almacen, FILE *salida) {
  DecodificarCabecera(paquete.datos, static_cast<std::size_t>(paquete.legibles), actual);
  ComprobarLimite(actual, paquete, salida);
  ActualizarTamParte(actual, paquete, estado);
  ImprimirResumen(actual, estado, salida);
  ConstruirIdentidad(actual);
  if (estado.modo == 0) {
    ImprimirVolcado(paquete.datos, paquete.tampaquete, salida, estado.a_terminal);
  } else if (estado.modo == 2) {
    AlmacenarParte(almacen, actual, paquete, estado.tamparte, estado.faltan, salida);
  }
}
