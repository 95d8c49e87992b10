#include "almacen.h"

#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>

#include "direcciones.h"
#include "completar.h"
#include "directorio.h"
#include "empezar.h"
#include "en_curso.h"
#include "escritura.h"
#include "informes.h"
#include "juicio.h"
#include "registro.h"
#include "salida.h"
#include "grabados.h"
#include "hechos.h"
#include "restos.h"
#include "rechazos.h"

/// Most rounds of facts, verdict and plan for one datagram: a start may resume its file, and the
/// file resumed, or started afresh with an offered part, may hold the datagram's part with other
/// bytes, which starts it afresh once more, from nothing.
static constexpr int kMaxRondas = 3;

static void Tocar(AlmacenFicheros &almacen, int cual) {
  almacen.ultimo = cual;
  almacen.en_curso[static_cast<std::size_t>(cual)].ultimo_uso = ++almacen.reloj;
}

// What a datagram does once per file, or seldom, is kept out of the routines that every new part
// runs through (cold, not inlined): they then cost a part only their own steps.

// A last part kept from before the file's part size was known, longer than that size, cannot
// be this file's: it goes, and the last part is awaited again.
[[gnu::cold, gnu::noinline]] static void SoltarUltima(const AlmacenFicheros &almacen,
                                                      FicheroEnCurso &f, FILE *salida) {
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

// The file touched last lacks nothing: it completes and leaves the table, and its final name is
// stored from then on.
[[gnu::cold, gnu::noinline]] static void Completar(AlmacenFicheros &almacen, FILE *salida) {
  std::size_t cual = static_cast<std::size_t>(almacen.ultimo);
  std::string identidad = almacen.en_curso[cual].old_nombre;
  if (CompletarFichero(almacen, cual, salida)) AnotarGrabado(almacen, identidad);
}

// Takes a new part where the plan puts it: reported, flagged, and on its way to the disk. Returns
// whether its file lacks nothing more.
static bool TomarParte(AlmacenFicheros &almacen, int cual, int32_t parte,
                       const unsigned char *contenido, int32_t largo, const Colocacion &donde,
                       FILE *salida) {
  Tocar(almacen, cual);
  FicheroEnCurso &f = almacen.en_curso[static_cast<std::size_t>(cual)];
  if (donde.fija_tamano) f.disposicion.tamparte = largo;
  if (almacen.ahora_s > f.progreso_s) f.progreso_s = almacen.ahora_s;
  if (donde.adelantada) Adelantar(f, donde.posicion, contenido, largo);
  InformarParte(almacen, donde.posicion, static_cast<std::size_t>(largo), salida);
  if (!donde.adelantada)
    GuardarEnBuffer(almacen, f, parte, donde.posicion, contenido, largo, salida);
  Tomar(f.partes, parte);
  if (parte == UltimaParte(f.disposicion)) f.disposicion.ultima = largo;
  if (donde.suelta_ultima) SoltarUltima(almacen, f, salida);
  return f.partes.faltan == 0;
}

// What a datagram of another layout offers: taken first once the file starts afresh in it.
static void Proponer(FicheroEnCurso &f, const DatagramaActual &actual,
                     const unsigned char *contenido, int32_t largo) {
  bool es_ultima = actual.parteactual == UltimaParte(actual.totpartes);
  f.propuesta = {actual.totpartes, es_ultima ? kTamParteDesconocido : largo, -1};
  f.parte_propuesta = actual.parteactual;
  f.contenido_propuesto.assign(contenido, contenido + largo);
}

// Starts the datagram's file: resumed when asked and possible, otherwise new.
static void Empezar(AlmacenFicheros &almacen, const DatagramaActual &actual,
                    const Paquete &paquete, int32_t tamparte, FILE *salida) {
  EmpezarFichero(almacen, actual, paquete.origen, tamparte, paquete.tampaquete - TamCabecera,
                 salida);
}

// The file follows its sender into the layout offered: it starts afresh, remembers the layout
// left behind, and takes the datagram that offered the new one where the plan puts it.
static void CambiarDeDisposicion(AlmacenFicheros &almacen, const Veredicto &v,
                                 const DatagramaActual &actual, const Paquete &paquete,
                                 int32_t tamparte, FILE *salida) {
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
  if (TomarParte(almacen, cual, parte, contenido.data(), static_cast<int32_t>(contenido.size()),
                 v.colocacion, salida))
    Completar(almacen, salida);
}

// The sender changed the file since the part was taken: what is stored cannot be completed
// with what comes now, so the file starts afresh from this datagram.
static void EmpezarDeNuevo(AlmacenFicheros &almacen, int cual, const DatagramaActual &actual,
                           const Paquete &paquete, int32_t tamparte, FILE *salida) {
  InformarCambio(almacen, almacen.en_curso[static_cast<std::size_t>(cual)].apodo, paquete.origen,
                 salida,
                 "Parte %d distinta de la ya recibida: el fichero ha cambiado, se empieza de nuevo",
                 actual.parteactual);
  DescartarFichero(almacen, static_cast<std::size_t>(cual));
  Empezar(almacen, actual, paquete, tamparte, salida);
}

/// Identities told to have no signed description, remembered so that each is told once.
static constexpr std::size_t kMaxSinDescripcion = 4096;

// A part that its sender did not sign, or not yet: counted, and told with whoever sent it; a file
// without a description is told so once.
[[gnu::cold, gnu::noinline]] static void RehusarSinFirma(AlmacenFicheros &almacen,
                                                         const Veredicto &v,
                                                         const DatagramaActual &actual,
                                                         const Paquete &paquete, FILE *salida) {
  if (v.causa == Causa::kFalsa) {
    ++almacen.firmas->partes_falsas;
    std::string emisor = TextoDeEmisor(paquete.origen);
    Rechazar(almacen, actual.elnombre, paquete.origen, salida, LineaDeRechazo(v.causa), v.dato,
             v.otro_dato, emisor.empty() ? "?" : emisor.c_str());
    return;
  }
  ++almacen.rechazados;
  std::unordered_set<std::string> &dichos = almacen.sin_descripcion;
  if (dichos.count(actual.elnombre) != 0) return;
  if (dichos.size() == kMaxSinDescripcion) dichos.clear();
  dichos.insert(actual.elnombre);
  if (DentroDelFreno(almacen, LineaDeRechazo(v.causa), paquete.origen))
    InformarCon(almacen, Prioridad::kAviso, actual.elnombre, salida, "%s",
                LineaDeRechazo(v.causa));
}

void Rehusar(AlmacenFicheros &almacen, const Veredicto &v, const DatagramaActual &actual,
             const Paquete &paquete, FILE *salida) {
  if (v.causa == Causa::kFalsa || v.causa == Causa::kSinFirma)
    return RehusarSinFirma(almacen, v, actual, paquete, salida);
  if (v.proponer)
    Proponer(almacen.en_curso[static_cast<std::size_t>(v.cual)], actual,
             paquete.datos + TamCabecera, paquete.tampaquete - TamCabecera);
  const std::string &nombre =
      v.cual >= 0 ? almacen.en_curso[static_cast<std::size_t>(v.cual)].apodo : actual.elnombre;
  Rechazar(almacen, nombre, paquete.origen, salida, LineaDeRechazo(v.causa),
           static_cast<int>(v.dato), static_cast<int>(v.otro_dato));
}

// A layout offered lasts one datagram of its file.
static void RetirarPropuesta(AlmacenFicheros &almacen, int cual) {
  if (cual < 0) return;
  FicheroEnCurso &f = almacen.en_curso[static_cast<std::size_t>(cual)];
  f.propuesta.totpartes = 0;
  f.parte_propuesta = -1;
}

// Every verdict but a part taken or repeated. Returns whether the datagram's file was started,
// and is still in progress: the datagram is then judged against it.
[[gnu::cold, gnu::noinline]] static bool AplicarOtro(AlmacenFicheros &almacen, const Veredicto &v,
                                                     const DatagramaActual &actual,
                                                     const Paquete &paquete, int32_t tamparte,
                                                     FILE *salida) {
  const std::string &id = actual.elnombre;
  if (v.limpiar_restos) LimpiarRestos(almacen, id, paquete.origen);
  switch (v.decision) {
    case Decision::kRechazado:
      Rehusar(almacen, v, actual, paquete, salida);
      return false;
    case Decision::kGrabado:
      DecirYaGrabado(almacen, id, salida);
      return false;
    case Decision::kNuevaVersion:
      InformarCambio(almacen, id, paquete.origen, salida,
                     "Nueva version del fichero grabado: se recibe de nuevo");
      Empezar(almacen, actual, paquete, tamparte, salida);
      return true;
    case Decision::kEmpezar:
      Empezar(almacen, actual, paquete, tamparte, salida);
      return true;
    case Decision::kCambioDeDisposicion:
      CambiarDeDisposicion(almacen, v, actual, paquete, tamparte, salida);
      // the offered part may have been the last one missing
      return FicheroDelDatagrama(almacen, actual, paquete.origen) >= 0;
    case Decision::kCambioDeContenido:
      EmpezarDeNuevo(almacen, v.cual, actual, paquete, tamparte, salida);
      return true;
    case Decision::kRepetida:
    case Decision::kTomar:
      break;
  }
  return false;
}

// A new part taken where the plan puts it; returns whether its file lacks nothing more.
static bool AplicarToma(AlmacenFicheros &almacen, const Veredicto &v,
                        const DatagramaActual &actual, const Paquete &paquete, FILE *salida) {
  RetirarPropuesta(almacen, v.cual);
  return TomarParte(almacen, v.cual, actual.parteactual, paquete.datos + TamCabecera,
                    paquete.tampaquete - TamCabecera, v.colocacion, salida);
}

// Carries out every other verdict's plan; returns whether the datagram goes on to the file it
// started.
static bool Aplicar(AlmacenFicheros &almacen, const Veredicto &v, const DatagramaActual &actual,
                    const Paquete &paquete, int32_t tamparte, FILE *salida) {
  if (v.decision != Decision::kCambioDeDisposicion) RetirarPropuesta(almacen, v.cual);
  if (v.decision == Decision::kRepetida) {
    Tocar(almacen, v.cual);
    return false;
  }
  return AplicarOtro(almacen, v, actual, paquete, tamparte, salida);
}

// Every routine a new part runs through is inlined here (the rare ones are marked not to be):
// a datagram's store then costs its steps, not their calls. A part taken may be the last one
// missing: its file completes, the pass's last step.
[[gnu::flatten]] void AlmacenarParte(AlmacenFicheros &almacen, const DatagramaActual &actual,
                                     const Paquete &paquete, int32_t tamparte, FILE *salida) {
  for (int ronda = 0; ronda < kMaxRondas; ++ronda) {
    Hechos hechos = ReunirHechos(almacen, actual, paquete);
    Veredicto v = Juzgar(almacen, hechos, actual, paquete, tamparte);
    if (v.decision == Decision::kTomar) {
      if (AplicarToma(almacen, v, actual, paquete, salida)) Completar(almacen, salida);
      return;
    }
    if (!Aplicar(almacen, v, actual, paquete, tamparte, salida)) return;
  }
}
