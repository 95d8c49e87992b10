#include "marco.h"

#include <cstring>
#include <string>

#include "almacen.h"
#include "informes.h"
#include "salida.h"
#include "versiones.h"
#include "volcado.h"

void DecirLimiteExcedido(int32_t totpartes, int32_t limite, FILE *salida) {
  fputs(Prefijo(salida, Prioridad::kError), salida);
  fprintf(salida,
          "El total de partes (%d) EXCEDE al MAX_TROZOS (%d), amplialo en MAX_TROZOS en el "
          "DEFINE y recompila, prometo hacerlo en la proxima versi\xf3n yo mismo si tengo "
          "tiempo.\n",
          totpartes, limite);
}

// Only a datagram that carries a whole header carries a count: a short one would be judged
// by bytes that were never received. The run ends over it, as the loop ends it; quiet, as a
// service runs, anyone on the network could end the receiver with one datagram: there it is
// refused like any impossible one, and the pass goes on with the next.
static bool ExcedeElLimite(DatagramaActual &actual, const Paquete &paquete, EstadoBucle &estado,
                           AlmacenFicheros &almacen, FILE *salida) {
  if (paquete.tampaquete < TamCabecera || actual.totpartes <= almacen.opciones.max_partes)
    return false;
  if (!almacen.opciones.silencioso) {
    estado.excedido = actual.totpartes;
    return true;
  }
  Rechazar(almacen, actual.elnombre, paquete.origen, salida,
           "Total de partes %d mayor que el maximo (%d), descartado.\n", actual.totpartes,
           almacen.opciones.max_partes);
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

// "T:%s|S:%s|Nom:%s|", for a datagram of another file than the last line's. Apart from the
// test whether it is needed, so that the test costs a datagram no more than itself.
[[gnu::noinline]] static void RehacerPrincipio(PrincipioDeResumen &principio,
                                               const DatagramaActual &actual, bool a_terminal) {
  Renglon linea;
  Anadir(linea, "T:");
  Anadir(linea, std::string_view(actual.eltipo, 4));
  Anadir(linea, "|S:");
  Anadir(linea, std::string_view(actual.elsubtipo, 4));
  Anadir(linea, "|Nom:");
  AnadirNombre(linea, actual.nombre, a_terminal);
  Anadir(linea, "|");
  principio.identidad = actual.numero_de_identidad;
  principio.a_terminal = a_terminal;
  principio.texto.assign(linea.texto, linea.largo);
}

static const std::string &Principio(PrincipioDeResumen &principio, const DatagramaActual &actual,
                                    bool a_terminal) {
  if (principio.identidad != actual.numero_de_identidad || principio.a_terminal != a_terminal)
    RehacerPrincipio(principio, actual, a_terminal);
  return principio.texto;
}

// "/%d|MxPrt:%d|Fltn:", when the count or the part size changed.
[[gnu::noinline]] static void RehacerMedio(PrincipioDeResumen &principio, int32_t totpartes,
                                           int32_t tamparte) {
  Renglon linea;
  Anadir(linea, "/");
  AnadirEntero(linea, totpartes);
  Anadir(linea, "|MxPrt:");
  AnadirEntero(linea, tamparte);
  Anadir(linea, "|Fltn:");
  principio.totpartes = totpartes;
  principio.tamparte = tamparte;
  principio.medio.assign(linea.texto, linea.largo);
}

static const std::string &Medio(PrincipioDeResumen &principio, int32_t totpartes,
                                int32_t tamparte) {
  if (principio.totpartes != totpartes || principio.tamparte != tamparte)
    RehacerMedio(principio, totpartes, tamparte);
  return principio.medio;
}

// The summary line where the stream's buffer has no room for it in place.
static void ImprimirResumenAparte(const std::string &principio, int32_t parte,
                                  const std::string &medio, int32_t faltan, FILE *salida) {
  Renglon linea;
  Anadir(linea, principio);
  AnadirEntero(linea, parte);
  Anadir(linea, medio);
  AnadirEntero(linea, faltan);
  Anadir(linea, "|\n");
  Emitir(linea, salida);
}

// "T:%s|S:%s|Nom:%s|%d/%d|MxPrt:%d|Fltn:%d|\n", built by hand: it is printed for every datagram,
// and only its part number and missing count are formatted for each, in place in the stream's
// buffer when it has room.
static void ImprimirResumen(const DatagramaActual &actual, EstadoBucle &estado, bool a_terminal,
                            FILE *salida) {
  const std::string &principio = Principio(estado.principio, actual, a_terminal);
  const std::string &medio = Medio(estado.principio, actual.totpartes, estado.tamparte);
  char *p = Hueco(salida, principio.size() + medio.size() + 2 * kMaxCifras + 2);
  if (p == nullptr)
    return ImprimirResumenAparte(principio, actual.parteactual, medio, estado.faltan, salida);
  p = Copiar(p, principio);
  p += FormatearEntero(p, actual.parteactual);
  p = Copiar(p, medio);
  p += FormatearEntero(p, estado.faltan);
  Escrito(salida, Copiar(p, "|\n"));
}

void ProcesarPaquete(const Paquete &paquete, EstadoBucle &estado, DatagramaActual &actual,
                     AlmacenFicheros &almacen, FILE *salida) {
  DecodificarCabecera(paquete.datos, static_cast<std::size_t>(paquete.legibles), actual);
  ++estado.datagramas;
  if (ExcedeElLimite(actual, paquete, estado, almacen, salida)) return;
  ActualizarTamParte(actual, paquete, estado);
  const OpcionesAlmacen &opciones = almacen.opciones;
  // the count is only shown on the summary line, which quiet never prints
  if (estado.modo == 2 && !opciones.silencioso)
    estado.faltan = FaltanParaResumen(almacen, actual, paquete.origen, estado.faltan);
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
