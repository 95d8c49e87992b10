#include "marco.h"

#include <string>

#include "almacen.h"
#include "informes.h"
#include "salida.h"
#include "versiones.h"
#include "volcado.h"

void DecirLimiteExcedido(int32_t totpartes, FILE *salida) {
  fputs(Prefijo(salida, Prioridad::kError), salida);
  fprintf(salida,
          "El total de partes (%d) EXCEDE al MAX_TROZOS (%d), amplialo en MAX_TROZOS en el "
          "DEFINE y recompila, prometo hacerlo en la proxima versi\xf3n yo mismo si tengo "
          "tiempo.\n",
          totpartes, MAX_TROZOS);
}

// Only a datagram that carries a whole header carries a count: a short one would be judged
// by bytes that were never received. The run ends over it, as the loop ends it; quiet, as a
// service runs, anyone on the network could end the receiver with one datagram: there it is
// refused like any impossible one, and the pass goes on with the next.
static bool ExcedeElLimite(DatagramaActual &actual, const Paquete &paquete, EstadoBucle &estado,
                           AlmacenFicheros &almacen, FILE *salida) {
  if (paquete.tampaquete < TamCabecera || actual.totpartes <= MAX_TROZOS) return false;
  if (!almacen.opciones.silencioso) {
    estado.excedido = actual.totpartes;
    return true;
  }
  ConstruirIdentidad(actual);
  Rechazar(almacen, actual.elnombre, salida,
           "Total de partes %d mayor que el maximo (%d), descartado.\n", actual.totpartes,
           MAX_TROZOS);
  return true;
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
                            bool a_terminal, FILE *salida) {
  Renglon linea;
  Anadir(linea, "T:");
  Anadir(linea, std::string_view(actual.eltipo, 4));
  Anadir(linea, "|S:");
  Anadir(linea, std::string_view(actual.elsubtipo, 4));
  Anadir(linea, "|Nom:");
  AnadirNombre(linea, actual.nombre, a_terminal);
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
  ++estado.datagramas;
  if (ExcedeElLimite(actual, paquete, estado, almacen, salida)) return;
  ActualizarTamParte(actual, paquete, estado);
  // the identity says which file's missing count the summary line shows
  ConstruirIdentidad(actual);
  if (estado.modo == 2) estado.faltan = FaltanParaResumen(almacen, actual, paquete.origen, estado.faltan);
  const OpcionesAlmacen &opciones = almacen.opciones;
  if (!opciones.silencioso) {
    ImprimirResumen(actual, estado, opciones.a_terminal, salida);
    if (estado.modo == 0)
      ImprimirVolcado(paquete.datos, paquete.tampaquete, salida, opciones.a_terminal);
  }
  if (estado.modo == 2)
    AlmacenarParte(almacen, actual, paquete, estado.tamparte, estado.faltan, salida);
}

void ProcesarLote(Receptor &receptor, EstadoBucle &estado, DatagramaActual &actual,
                  AlmacenFicheros &almacen, FILE *salida) {
  EmpezarLote(almacen);
  estado.descartados = receptor.descartados;
  int recibidos = static_cast<int>(receptor.vistas.size());
  for (int i = 0; i < recibidos && estado.excedido == 0; ++i)
    ProcesarPaquete(PaqueteDelLote(receptor, i), estado, actual, almacen, salida);
  TerminarLote(receptor);
}
