#include "paso.h"

#include <cstring>
#include <string>

#include "almacen.h"
#include "salida.h"
#include "grabados.h"
#include "hechos.h"
#include "informes.h"
#include "juicio.h"
#include "volcado.h"
#include "rechazos.h"

void DecirLimiteExcedido(int32_t totpartes, int32_t limite, FILE *salida) {
  fputs(Prefijo(salida, Prioridad::kError), salida);
  fprintf(salida,
          "El total de partes (%d) EXCEDE al MAX_TROZOS (%d), amplialo en MAX_TROZOS en el "
          "DEFINE y recompila, prometo hacerlo en la proxima versi\xf3n yo mismo si tengo "
          "tiempo.\n",
          totpartes, limite);
}

// The run ends over a count past the limit, as the loop ends it; quiet, as a service runs,
// anyone on the network could end the receiver with one datagram: there it is refused like any
// impossible one, and the pass goes on with the next.
[[gnu::cold, gnu::noinline]] static void Exceder(const DatagramaActual &actual,
                                                 const Paquete &paquete, Bucle &bucle,
                                                 AlmacenFicheros &almacen, FILE *salida) {
  if (!almacen.opciones.silencioso) {
    bucle.excedido = actual.totpartes;
    return;
  }
  Rechazar(almacen, actual.elnombre, paquete.origen, salida, LineaDeRechazo(Causa::kExcedido),
           actual.totpartes, almacen.opciones.max_partes);
}

// A short datagram would make the part size negative and misplace every later part.
static void ActualizarTamParte(const DatagramaActual &actual, const Paquete &paquete,
                               Bucle &bucle) {
  if (paquete.tampaquete < TamCabecera) return;
  if (actual.parteactual < UltimaParte(actual.totpartes)) bucle.tamparte = paquete.tampaquete - TamCabecera;
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
static void ImprimirResumen(const DatagramaActual &actual, Bucle &bucle, int32_t faltan,
                            bool a_terminal, FILE *salida) {
  const std::string &principio = Principio(bucle.principio, actual, a_terminal);
  const std::string &medio = Medio(bucle.principio, actual.totpartes, bucle.tamparte);
  char *p = Hueco(salida, principio.size() + medio.size() + 2 * kMaxCifras + 2);
  if (p == nullptr)
    return ImprimirResumenAparte(principio, actual.parteactual, medio, faltan, salida);
  p = Copiar(p, principio);
  p += FormatearEntero(p, actual.parteactual);
  p = Copiar(p, medio);
  p += FormatearEntero(p, faltan);
  Escrito(salida, Copiar(p, "|\n"));
}

void ProcesarPaquete(const Paquete &paquete, Bucle &bucle, DatagramaActual &actual,
                     AlmacenFicheros &almacen, FILE *salida) {
  DecodificarCabecera(paquete.datos, static_cast<std::size_t>(paquete.legibles), actual);
  ++bucle.datagramas;
  const OpcionesAlmacen &opciones = almacen.opciones;
  if (ExcedeElMaximo(actual, paquete, opciones.max_partes))
    return Exceder(actual, paquete, bucle, almacen, salida);
  ActualizarTamParte(actual, paquete, bucle);
  if (!opciones.silencioso) {
    // the missing count before the datagram is stored
    int32_t faltan = bucle.modo == 2 ? FaltanParaResumen(almacen, actual, paquete.origen) : 0;
    ImprimirResumen(actual, bucle, faltan, opciones.a_terminal, salida);
    if (bucle.modo == 0)
      ImprimirVolcado(paquete.datos, paquete.tampaquete, salida, opciones.a_terminal);
  }
  if (bucle.modo == 2) AlmacenarParte(almacen, actual, paquete, bucle.tamparte, salida);
}

void ProcesarLote(Receptor &receptor, Bucle &bucle, DatagramaActual &actual,
                  AlmacenFicheros &almacen, FILE *salida) {
  EmpezarLote(almacen);
  bucle.descartados = receptor.descartados;
  int recibidos = static_cast<int>(receptor.vistas.size());
  for (int i = 0; i < recibidos && bucle.excedido == 0; ++i)
    ProcesarPaquete(PaqueteDelLote(receptor, i), bucle, actual, almacen, salida);
  TerminarLote(receptor);
}
