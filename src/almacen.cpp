#include "almacen.h"

#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>

#include "direcciones.h"
#include "completar.h"
#include "directorio.h"
#include "en_curso.h"
#include "escritura.h"
#include "informes.h"
#include "juicio.h"
#include "registro.h"
#include "salida.h"
#include "versiones.h"

/// How often, with resume asked, the files in progress are saved while the receiver runs.
static constexpr int64_t kSegundosEntreRegistros = 5;

// The file touched last gives faltan its value; with none in progress it is left as it was.
static void Tocar(AlmacenFicheros &almacen, int cual, int32_t &faltan) {
  almacen.ultimo = cual;
  if (cual < 0) return;
  FicheroEnCurso &f = almacen.en_curso[static_cast<std::size_t>(cual)];
  f.ultimo_uso = ++almacen.reloj;
  faltan = f.partes.faltan;
}

// What a datagram does once per file, or seldom, is kept out of the routines that every new part
// runs through (cold, not inlined): they then cost a part only their own steps.

// A last part kept from before the file's part size was known, longer than that size, cannot
// be this file's: it goes, and the last part is awaited again.
[[gnu::cold, gnu::noinline]] static void DescartarUltimaMasLarga(const AlmacenFicheros &almacen,
                                                                 FicheroEnCurso &f, FILE *salida) {
  if (f.disposicion.tamparte == kTamParteDesconocido ||
      f.ultima.size() <= static_cast<std::size_t>(f.disposicion.tamparte))
    return;
  Informar(almacen, f.apodo, salida,
           "Ultima parte de %zu bytes, mayor que las del fichero (%d), descartada.\n",
           f.ultima.size(), f.disposicion.tamparte);
  EsperarUltimaOtraVez(f);
}

// A last part that came before the part size was known waits in memory for it.
[[gnu::cold, gnu::noinline]] static void Adelantar(FicheroEnCurso &f, int64_t posicion,
                                                   const unsigned char *contenido, int32_t largo) {
  f.ultima_adelantada = true;
  f.ultima_posicion = posicion;
  f.ultima.assign(contenido, contenido + largo);
}

// The file leaves the table as it completes.
[[gnu::cold, gnu::noinline]] static void Completar(AlmacenFicheros &almacen, int cual,
                                                   FILE *salida) {
  std::string identidad = almacen.en_curso[static_cast<std::size_t>(cual)].old_nombre;
  if (CompletarFichero(almacen, static_cast<std::size_t>(cual), salida))
    AnotarGrabado(almacen, identidad);
}

// Takes a new part where it goes: reported, flagged, and on its way to the disk; a file that
// lacks nothing more completes. faltan is left with the count of the file touched last, 0 once
// it completed.
static void TomarParte(AlmacenFicheros &almacen, int cual, int32_t parte,
                       const unsigned char *contenido, int32_t largo, const Colocacion &donde,
                       int32_t &faltan, FILE *salida) {
  Tocar(almacen, cual, faltan);
  FicheroEnCurso &f = almacen.en_curso[static_cast<std::size_t>(cual)];
  if (donde.fija_tamano) f.disposicion.tamparte = largo;
  if (almacen.ahora_s > f.progreso_s) f.progreso_s = almacen.ahora_s;
  if (donde.adelantada) Adelantar(f, donde.posicion, contenido, largo);
  InformarParte(almacen, donde.posicion, static_cast<std::size_t>(largo), salida);
  bool es_ultima = parte == f.disposicion.totpartes - 1;
  if (!donde.adelantada)
    GuardarEnBuffer(almacen, f, parte, donde.posicion, contenido, largo, salida);
  Tomar(f.partes, parte);
  if (es_ultima) f.disposicion.ultima = largo;
  if (f.ultima_adelantada) DescartarUltimaMasLarga(almacen, f, salida);
  if (f.partes.faltan != 0) {
    faltan = f.partes.faltan;
    return;
  }
  Completar(almacen, cual, salida);
  faltan = almacen.ultimo >= 0
               ? almacen.en_curso[static_cast<std::size_t>(almacen.ultimo)].partes.faltan
               : 0;
}

// A datagram judged against its file in progress: a refusal, a part taken, repeated, or changed.
static void Aplicar(AlmacenFicheros &almacen, const Veredicto &v, const DatagramaActual &actual,
                    const Paquete &paquete, int32_t tamparte, int32_t &faltan, FILE *salida);

// The datagram starts its file, resumed when asked and possible, and is judged against it.
static void Empezar(AlmacenFicheros &almacen, const DatagramaActual &actual, const Paquete &paquete,
                    int32_t tamparte, int32_t &faltan, FILE *salida) {
  int cual = EmpezarFichero(almacen, actual, paquete.origen, tamparte,
                            paquete.tampaquete - TamCabecera, salida);
  Aplicar(almacen, JuzgarEnCurso(almacen, cual, actual, paquete, tamparte), actual, paquete,
          tamparte, faltan, salida);
}

// What a datagram of another layout offers: taken first once the file starts afresh in it.
static void Proponer(FicheroEnCurso &f, const DatagramaActual &actual,
                     const unsigned char *contenido, int32_t largo) {
  bool es_ultima = actual.parteactual == actual.totpartes - 1;
  f.propuesta = {actual.totpartes, es_ultima ? kTamParteDesconocido : largo, -1};
  f.parte_propuesta = actual.parteactual;
  f.contenido_propuesto.assign(contenido, contenido + largo);
}

// A change of version or layout names its sender, at warning: datagrams that restart a file
// must be seen, and whose they are. Within the log's budget, as anyone can send them.
[[gnu::format(printf, 5, 6)]] static void InformarCambio(AlmacenFicheros &almacen,
                                                         const std::string &id,
                                                         const sockaddr_storage *origen,
                                                         FILE *salida, const char *formato, ...) {
  if (!DentroDelFreno(almacen, formato, origen)) return;
  char texto[512];
  va_list argumentos;
  va_start(argumentos, formato);
  vsnprintf(texto, sizeof texto, formato, argumentos);
  va_end(argumentos);
  std::string emisor = TextoDeEmisor(origen);
  InformarCon(almacen, Prioridad::kAviso, id, salida, emisor.empty() ? "%s.\n" : "%s (emisor %s).\n",
              texto, emisor.c_str());
}

// The file follows its sender into the layout offered: it starts afresh, remembers the layout
// left behind, takes the datagram that offered the new one, then this one.
static void CambiarDeDisposicion(AlmacenFicheros &almacen, const Veredicto &v,
                                 const DatagramaActual &actual, const Paquete &paquete,
                                 int32_t tamparte, int32_t &faltan, FILE *salida) {
  FicheroEnCurso &f = almacen.en_curso[static_cast<std::size_t>(v.cual)];
  std::string id = f.apodo;
  Disposicion dejada = {f.disposicion.totpartes, f.disposicion.tamparte, -1};
  int32_t parte = f.parte_propuesta;
  std::vector<unsigned char> contenido = std::move(f.contenido_propuesto);
  OlvidarRepeticiones(almacen, id, salida);
  if (v.causa == Causa::kOtraCuenta)
    InformarCambio(almacen, id, paquete.origen, salida,
                   "Total de partes %d distinto del fichero en curso (%d): el fichero ha cambiado, "
                   "se empieza de nuevo",
                   static_cast<int>(v.dato), static_cast<int>(v.otro_dato));
  else
    InformarCambio(almacen, id, paquete.origen, salida,
                   "Parte de %d bytes distinta de las del fichero en curso (%d): el fichero ha "
                   "cambiado, se empieza de nuevo",
                   static_cast<int>(v.dato), static_cast<int>(v.otro_dato));
  DescartarFichero(almacen, static_cast<std::size_t>(v.cual));
  int cual = EmpezarFichero(almacen, actual, paquete.origen, tamparte,
                            paquete.tampaquete - TamCabecera, salida);
  almacen.en_curso[static_cast<std::size_t>(cual)].anterior = dejada;
  int32_t largo = static_cast<int32_t>(contenido.size());
  // a part but the last carries the file's part size, whatever the loop's says now
  if (parte < actual.totpartes - 1) tamparte = largo;
  TomarParte(almacen, cual, parte, contenido.data(), largo,
             Colocar(almacen.en_curso[static_cast<std::size_t>(cual)], parte, largo, tamparte),
             faltan, salida);
  cual = BuscarDe(almacen, actual.elnombre, paquete.origen);
  if (cual < 0) return;
  Aplicar(almacen,
          JuzgarParte(almacen, cual, actual.parteactual, paquete.datos + TamCabecera,
                      paquete.tampaquete - TamCabecera, tamparte),
          actual, paquete, tamparte, faltan, salida);
}

// The sender changed the file since the part was taken: what is stored cannot be completed
// with what comes now, so the file starts afresh from this datagram.
static void EmpezarDeNuevo(AlmacenFicheros &almacen, int cual, const DatagramaActual &actual,
                           const Paquete &paquete, int32_t tamparte, int32_t &faltan,
                           FILE *salida) {
  InformarCambio(almacen, almacen.en_curso[static_cast<std::size_t>(cual)].apodo, paquete.origen,
                 salida,
                 "Parte %d distinta de la ya recibida: el fichero ha cambiado, se empieza de nuevo",
                 actual.parteactual);
  DescartarFichero(almacen, static_cast<std::size_t>(cual));
  Empezar(almacen, actual, paquete, tamparte, faltan, salida);
}

// A refusal says why; one of another layout than its file may offer that layout.
static void Rehusar(AlmacenFicheros &almacen, const Veredicto &v, const DatagramaActual &actual,
                    const Paquete &paquete, FILE *salida) {
  if (v.proponer)
    Proponer(almacen.en_curso[static_cast<std::size_t>(v.cual)], actual,
             paquete.datos + TamCabecera, paquete.tampaquete - TamCabecera);
  const std::string &nombre =
      v.cual >= 0 ? almacen.en_curso[static_cast<std::size_t>(v.cual)].apodo : actual.elnombre;
  Rechazar(almacen, nombre, paquete.origen, salida, LineaDeRechazo(v.causa), static_cast<int>(v.dato),
           static_cast<int>(v.otro_dato));
}

// A layout offered lasts one datagram of its file.
static void RetirarPropuesta(AlmacenFicheros &almacen, int cual) {
  if (cual < 0) return;
  FicheroEnCurso &f = almacen.en_curso[static_cast<std::size_t>(cual)];
  f.propuesta.totpartes = 0;
  f.parte_propuesta = -1;
}

// Every verdict but a part taken or repeated.
[[gnu::cold, gnu::noinline]] static void AplicarOtro(AlmacenFicheros &almacen, const Veredicto &v,
                                                     const DatagramaActual &actual,
                                                     const Paquete &paquete, int32_t tamparte,
                                                     int32_t &faltan, FILE *salida) {
  const std::string &id = actual.elnombre;
  if ((v.decision == Decision::kGrabado || v.decision == Decision::kNuevaVersion) &&
      v.primer_sondeo)
    LimpiarRestos(almacen, id, paquete.origen);
  switch (v.decision) {
    case Decision::kRechazado:
      return Rehusar(almacen, v, actual, paquete, salida);
    case Decision::kGrabado:
      return DecirYaGrabado(almacen, id, salida);
    case Decision::kNuevaVersion:
      InformarCambio(almacen, id, paquete.origen, salida,
                     "Nueva version del fichero grabado: se recibe de nuevo");
      return Empezar(almacen, actual, paquete, tamparte, faltan, salida);
    case Decision::kEmpezar:
      return Empezar(almacen, actual, paquete, tamparte, faltan, salida);
    case Decision::kCambioDeDisposicion:
      return CambiarDeDisposicion(almacen, v, actual, paquete, tamparte, faltan, salida);
    case Decision::kCambioDeContenido:
      return EmpezarDeNuevo(almacen, v.cual, actual, paquete, tamparte, faltan, salida);
    case Decision::kRepetida:
    case Decision::kTomar:
      return;
  }
}

static void Aplicar(AlmacenFicheros &almacen, const Veredicto &v, const DatagramaActual &actual,
                    const Paquete &paquete, int32_t tamparte, int32_t &faltan, FILE *salida) {
  if (v.decision != Decision::kCambioDeDisposicion) RetirarPropuesta(almacen, v.cual);
  if (v.decision == Decision::kTomar)
    TomarParte(almacen, v.cual, actual.parteactual, paquete.datos + TamCabecera,
               paquete.tampaquete - TamCabecera, v.colocacion, faltan, salida);
  else if (v.decision == Decision::kRepetida)
    Tocar(almacen, v.cual, faltan);
  else
    AplicarOtro(almacen, v, actual, paquete, tamparte, faltan, salida);
}

// Every routine a new part runs through is inlined here (the rare ones are marked not to be):
// a datagram's store then costs its steps, not their calls.
[[gnu::flatten]] void AlmacenarParte(AlmacenFicheros &almacen, const DatagramaActual &actual,
                                     const Paquete &paquete, int32_t tamparte, int32_t &faltan,
                                     FILE *salida) {
  Aplicar(almacen, Juzgar(almacen, actual, paquete, tamparte), actual, paquete, tamparte, faltan,
          salida);
}

// Read from the file itself, since a write that failed after the datagram gives parts back.
int32_t FaltanParaResumen(const AlmacenFicheros &almacen, const DatagramaActual &actual,
                          const sockaddr_storage *origen, int32_t faltan) {
  int cual = SegunElAtajo(almacen, actual, origen);
  if (cual < 0) cual = BuscarDe(almacen, actual.elnombre, origen);
  if (cual < 0) cual = almacen.ultimo;
  return cual >= 0 ? almacen.en_curso[static_cast<std::size_t>(cual)].partes.faltan : faltan;
}

void VolcarFicheros(AlmacenFicheros &almacen, FILE *salida) {
  for (FicheroEnCurso &f : almacen.en_curso) VolcarBuffer(almacen, f, salida);
}

void GuardarFicherosEnCurso(AlmacenFicheros &almacen, FILE *salida) {
  if (!almacen.opciones.reanudar) {
    VolcarFicheros(almacen, salida);
    return;
  }
  for (FicheroEnCurso &f : almacen.en_curso) GuardarFichero(almacen, f, salida);
  // the records' new names too; a failure that lasts is told once
  if (!almacen.en_curso.empty() && !SincronizarDirectorio(almacen.directorio)) {
    if (errno != almacen.error_directorio)
      ReportarFallo(almacen, "", "Error al sincronizar el directorio de trabajo", errno, salida);
    almacen.error_directorio = errno;
  } else {
    almacen.error_directorio = 0;
  }
  AnunciarSiEstanEnDisco(almacen, salida);
}

void GuardarSiToca(AlmacenFicheros &almacen, int64_t ahora, FILE *salida) {
  if (!almacen.opciones.reanudar) return;
  if (almacen.ultimo_registro == 0) almacen.ultimo_registro = ahora;
  if (ahora - almacen.ultimo_registro < kSegundosEntreRegistros) return;
  almacen.ultimo_registro = ahora;
  GuardarFicherosEnCurso(almacen, salida);
}
