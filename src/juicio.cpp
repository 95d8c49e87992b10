#include "juicio.h"

#include <unistd.h>

#include <cstring>

#include "en_curso.h"
#include "escritura.h"
#include "versiones.h"

const char *LineaDeRechazo(Causa causa) {
  static const char *const kLineas[] = {
      "Paquete de %d bytes, mas corto que la cabecera, descartado.\n",
      "Paquete de mas de %d bytes, descartado.\n",
      "Total de partes %d no valido, descartado.\n",
      "Parte %d/%d fuera del fichero, descartada.\n",
      "Parte %d/%d vacia sin ser la ultima, descartada.\n",
      "Nombre con '/' no permitido, descartado.\n",
      "Nombre con caracteres de control no permitido, descartado.\n",
      "Nombre terminado en '.tmp' no permitido, descartado.\n",
      "Nombre demasiado largo (%d caracteres), descartado.\n",
      "Total de partes %d distinto del fichero en curso (%d), descartado.\n",
      "Parte de %d bytes distinta de las del fichero en curso (%d), descartada.\n",
  };
  return kLineas[static_cast<int>(causa)];
}

static Veredicto Rechazo(Causa causa, int64_t a = 0, int64_t b = 0) {
  Veredicto v;
  v.causa = causa;
  v.dato = a;
  v.otro_dato = b;
  return v;
}

static Veredicto Decidido(Decision decision, int cual = -1) {
  Veredicto v;
  v.decision = decision;
  v.cual = cual;
  return v;
}

// What no file can hold, whatever the store has, by the datagram's numbers; kTomar when none of
// it.
static Veredicto FueraDeMedida(const DatagramaActual &actual, const Paquete &paquete) {
  if (paquete.tampaquete < TamCabecera) return Rechazo(Causa::kCorto, paquete.tampaquete);
  if (paquete.truncado) return Rechazo(Causa::kLargo, kTamMaxPaquete);
  if (actual.totpartes <= 0) return Rechazo(Causa::kTotal, actual.totpartes);
  if (actual.parteactual < 0 || actual.parteactual >= actual.totpartes)
    return Rechazo(Causa::kFuera, actual.parteactual, actual.totpartes);
  // every part but the last carries the file's part size: an empty one places the others
  // nowhere
  if (paquete.tampaquete == TamCabecera && actual.parteactual < actual.totpartes - 1)
    return Rechazo(Causa::kVacia, actual.parteactual, actual.totpartes);
  return Decidido(Decision::kTomar);
}

// What no file can be called, by its identity; kTomar when none of it.
static Veredicto NombreImposible(const DatagramaActual &actual) {
  const std::string &id = actual.elnombre;
  if (NombreConBarra(actual.nombre)) return Rechazo(Causa::kBarra);
  // a newline in a name would split every line about it, and every script's loop over the names
  if (NombreConControl(actual.nombre)) return Rechazo(Causa::kControl);
  // another file's temporary name: storing it, or starting that file, would delete the other
  if (TerminaEnTemporal(id)) return Rechazo(Causa::kTemporal);
  if (id.size() > kMaxIdentidad)
    return Rechazo(Causa::kNombreLargo, static_cast<int64_t>(id.size()));
  return Decidido(Decision::kTomar);
}

// Whether a part already taken came again with the same bytes: compared with the buffer, the
// last part kept in memory, or the temporary file. A part that cannot be read back counts as
// changed. Not inlined: its room for a part would weigh on every new part's judgement.
[[gnu::noinline]] static bool IgualQueLaGuardada(const FicheroEnCurso &f, int32_t parte,
                                                 const unsigned char *contenido, int32_t largo) {
  bool es_ultima = parte == f.disposicion.totpartes - 1;
  int64_t guardado = es_ultima ? f.disposicion.ultima : f.disposicion.tamparte;
  std::size_t bytes = static_cast<std::size_t>(largo);
  if (largo != guardado) return false;
  if (es_ultima && f.ultima_adelantada) return memcmp(f.ultima.data(), contenido, bytes) == 0;
  if (const unsigned char *retenida = ParteRetenida(f, parte))
    return memcmp(retenida, contenido, bytes) == 0;
  unsigned char leido[kTamMaxParte];
  return pread(f.pf1, leido, bytes, PosicionDeLaParte(f.disposicion, parte)) ==
             static_cast<ssize_t>(bytes) &&
         memcmp(leido, contenido, bytes) == 0;
}

Colocacion Colocar(const FicheroEnCurso &f, int32_t parte, int32_t largo, int32_t tamparte) {
  const Disposicion &d = f.disposicion;
  Colocacion c;
  if (parte < d.totpartes - 1) {
    c.fija_tamano = d.tamparte == kTamParteDesconocido;
    c.posicion = static_cast<int64_t>(parte) * largo;
  } else if (d.totpartes == 1 || d.tamparte != kTamParteDesconocido) {
    c.posicion = PosicionDeLaParte(d, parte);
  } else {
    c.adelantada = true;
    c.posicion = static_cast<int64_t>(parte) * tamparte;
  }
  return c;
}

Veredicto JuzgarParte(const AlmacenFicheros &almacen, int cual, int32_t parte,
                      const unsigned char *contenido, int32_t largo, int32_t tamparte) {
  const FicheroEnCurso &f = almacen.en_curso[static_cast<std::size_t>(cual)];
  if (Recibida(f.partes, parte))
    return Decidido(IgualQueLaGuardada(f, parte, contenido, largo) ? Decision::kRepetida
                                                                   : Decision::kCambioDeContenido,
                    cual);
  Veredicto v = Decidido(Decision::kTomar, cual);
  v.colocacion = Colocar(f, parte, largo, tamparte);
  return v;
}

// A datagram of another layout than its file is refused, and offered as the file's next layout,
// unless it is of the layout the file had before. When the next datagram of the file brings
// the offered layout again, the sender changed the file: it starts afresh in that layout.
[[gnu::cold, gnu::noinline]] static Veredicto JuzgarDisposicion(const FicheroEnCurso &f, int cual,
                                                                const DatagramaActual &actual,
                                                                int32_t largo) {
  bool cuenta = actual.totpartes != f.disposicion.totpartes;
  bool anterior = Admite(f.anterior, actual.totpartes, actual.parteactual, largo);
  bool propuesta = Admite(f.propuesta, actual.totpartes, actual.parteactual, largo);
  Veredicto v = cuenta ? Rechazo(Causa::kOtraCuenta, actual.totpartes, f.disposicion.totpartes)
                       : Rechazo(Causa::kOtroTamano, largo, f.disposicion.tamparte);
  v.cual = cual;
  v.proponer = !anterior;
  if (propuesta && !anterior) v.decision = Decision::kCambioDeDisposicion;
  return v;
}

Veredicto JuzgarEnCurso(const AlmacenFicheros &almacen, int cual, const DatagramaActual &actual,
                        const Paquete &paquete, int32_t tamparte) {
  const FicheroEnCurso &f = almacen.en_curso[static_cast<std::size_t>(cual)];
  int32_t largo = paquete.tampaquete - TamCabecera;
  if (!Admite(f.disposicion, actual.totpartes, actual.parteactual, largo))
    return JuzgarDisposicion(f, cual, actual, largo);
  return JuzgarParte(almacen, cual, actual.parteactual, paquete.datos + TamCabecera, largo,
                     tamparte);
}

// With new versions asked for, a file in progress takes its datagrams before the stored one is
// looked at: the new version is rebuilt beside it, which stays until it completes.
Veredicto Juzgar(AlmacenFicheros &almacen, const DatagramaActual &actual, const Paquete &paquete,
                 int32_t tamparte) {
  Veredicto v = FueraDeMedida(actual, paquete);
  if (v.decision == Decision::kRechazado) return v;
  int cual = SegunElAtajo(almacen, actual, paquete.origen);
  if (cual >= 0) return JuzgarEnCurso(almacen, cual, actual, paquete, tamparte);
  v = NombreImposible(actual);
  if (v.decision == Decision::kRechazado) return v;
  const std::string &id = actual.elnombre;
  bool actualizar = almacen.opciones.actualizar;
  cual = actualizar ? BuscarDe(almacen, id, paquete.origen) : -1;
  bool primero = false;
  if (cual < 0 && YaGrabado(almacen, id, primero)) {
    v = Decidido(!actualizar || IgualQueElGrabado(almacen, actual, paquete)
                     ? Decision::kGrabado
                     : Decision::kNuevaVersion);
    v.primer_sondeo = primero;
    return v;
  }
  if (!actualizar) cual = BuscarDe(almacen, id, paquete.origen);
  if (cual < 0) return Decidido(Decision::kEmpezar);
  RecordarAtajo(almacen, actual, paquete.origen, cual);
  return JuzgarEnCurso(almacen, cual, actual, paquete, tamparte);
}
