#include "juicio.h"

const char *LineaDeRechazo(Causa causa) {
  static const char *const kLineas[] = {
      "Paquete de %d bytes, mas corto que la cabecera, descartado.\n",
      "Total de partes %d mayor que el maximo (%d), descartado.\n",
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
      "Parte %d/%d que no coincide con su descripcion firmada (emisor %s), descartada.\n",
      "Sin descripcion firmada: no se recibe hasta que llegue.\n",
  };
  return kLineas[static_cast<int>(causa)];
}

// Whether a datagram announcing totpartes parts, of part parte with largo content bytes, can be
// of the layout: the same count, and, once the part size is known, a part but the last of that
// size, the last no longer.
static bool Admite(const Disposicion &d, int32_t totpartes, int32_t parte, int32_t largo) {
  if (d.totpartes == 0 || totpartes != d.totpartes) return false;
  if (d.tamparte == kTamParteDesconocido) return true;
  return parte == UltimaParte(totpartes) ? largo <= d.tamparte : largo == d.tamparte;
}

static Veredicto Rechazo(Causa causa, int64_t a = 0, int64_t b = 0) {
  Veredicto v;
  v.causa = causa;
  v.dato = static_cast<int32_t>(a);
  v.otro_dato = static_cast<int32_t>(b);
  return v;
}

static Veredicto Decidido(Decision decision, int cual = -1) {
  Veredicto v;
  v.decision = decision;
  v.cual = cual;
  return v;
}

// What no file can hold, whatever the store has, by the datagram's numbers; kTomar when none of
// it. Only a datagram that carries a whole header carries a count.
static Veredicto FueraDeMedida(const DatagramaActual &actual, const Paquete &paquete,
                               int32_t maximo) {
  if (paquete.tampaquete < TamCabecera) return Rechazo(Causa::kCorto, paquete.tampaquete);
  if (ExcedeElMaximo(actual, paquete, maximo))
    return Rechazo(Causa::kExcedido, actual.totpartes, maximo);
  if (paquete.truncado) return Rechazo(Causa::kLargo, kTamMaxPaquete);
  if (actual.totpartes <= 0) return Rechazo(Causa::kTotal, actual.totpartes);
  if (actual.parteactual < 0 || actual.parteactual >= actual.totpartes)
    return Rechazo(Causa::kFuera, actual.parteactual, actual.totpartes);
  // every part but the last carries the file's part size: an empty one places the others
  // nowhere
  if (paquete.tampaquete == TamCabecera && actual.parteactual < UltimaParte(actual.totpartes))
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

Veredicto JuzgarSinAlmacen(const DatagramaActual &actual, const Paquete &paquete,
                           int32_t maximo) {
  Veredicto v = FueraDeMedida(actual, paquete, maximo);
  return v.decision == Decision::kRechazado ? v : NombreImposible(actual);
}

// Where a new part goes in a file of that layout: every part but the last by its own size; the
// last by the file's part size once known, by the loop's (tamparte) before.
static Colocacion Colocar(const Disposicion &d, int32_t parte, int32_t largo, int32_t tamparte) {
  Colocacion c;
  if (parte < UltimaParte(d)) {
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

// A new part of the file in progress: where it goes, and whether the last part kept in memory
// before the part size was known is longer than the size this part tells.
static Veredicto JuzgarParte(const FicheroEnCurso &f, int cual, const Hechos &hechos,
                             int32_t parte, int32_t largo, int32_t tamparte) {
  if (Recibida(f.partes, parte))
    return Decidido(hechos.igual_que_guardada ? Decision::kRepetida : Decision::kCambioDeContenido,
                    cual);
  Veredicto v = Decidido(Decision::kTomar, cual);
  v.colocacion = Colocar(f.disposicion, parte, largo, tamparte);
  v.colocacion.suelta_ultima = v.colocacion.fija_tamano && f.ultima_adelantada &&
                               f.ultima.size() > static_cast<std::size_t>(largo);
  return v;
}

// A datagram of another layout than its file is refused, and offered as the file's next layout,
// unless it is of the layout the file had before. When the next datagram of the file brings
// the offered layout again, the sender changed the file: it starts afresh in that layout, with
// the offered part first.
[[gnu::cold, gnu::noinline]] static Veredicto JuzgarDisposicion(const FicheroEnCurso &f, int cual,
                                                                const DatagramaActual &actual,
                                                                int32_t largo, int32_t tamparte) {
  bool cuenta = actual.totpartes != f.disposicion.totpartes;
  bool anterior = Admite(f.anterior, actual.totpartes, actual.parteactual, largo);
  bool propuesta = Admite(f.propuesta, actual.totpartes, actual.parteactual, largo);
  Veredicto v = cuenta ? Rechazo(Causa::kOtraCuenta, actual.totpartes, f.disposicion.totpartes)
                       : Rechazo(Causa::kOtroTamano, largo, f.disposicion.tamparte);
  v.cual = cual;
  v.proponer = !anterior;
  if (!propuesta || anterior || f.parte_propuesta < 0) return v;
  v.decision = Decision::kCambioDeDisposicion;
  int32_t parte = f.parte_propuesta, ofrecido = static_cast<int32_t>(f.contenido_propuesto.size());
  // a part but the last carries the file's part size, whatever the loop's says now
  if (parte < UltimaParte(actual.totpartes)) tamparte = ofrecido;
  v.colocacion = Colocar({actual.totpartes, kTamParteDesconocido, -1}, parte, ofrecido, tamparte);
  return v;
}

// A part that contradicts its signed description, or of which nothing is signed yet.
[[gnu::cold, gnu::noinline]] static Veredicto SinFirma(Firma firma, const DatagramaActual &actual) {
  if (firma == Firma::kFalsa) return Rechazo(Causa::kFalsa, actual.parteactual, actual.totpartes);
  return Rechazo(Causa::kSinFirma);
}

Veredicto Juzgar(const AlmacenFicheros &almacen, const Hechos &hechos,
                 const DatagramaActual &actual, const Paquete &paquete, int32_t tamparte) {
  int32_t maximo = almacen.opciones.max_partes;
  Veredicto v = hechos.atajo ? FueraDeMedida(actual, paquete, maximo)
                             : JuzgarSinAlmacen(actual, paquete, maximo);
  if (v.decision == Decision::kRechazado) return v;
  // only a part its sender signed may start, change or add to anything
  if (hechos.firma != Firma::kCierta) return SinFirma(hechos.firma, actual);
  if (hechos.cual < 0) {
    if (!hechos.grabado) return Decidido(Decision::kEmpezar);
    v = Decidido(!almacen.opciones.actualizar || hechos.igual_que_grabado
                     ? Decision::kGrabado
                     : Decision::kNuevaVersion);
    v.limpiar_restos = hechos.primer_sondeo;
    return v;
  }
  const FicheroEnCurso &f = almacen.en_curso[static_cast<std::size_t>(hechos.cual)];
  int32_t largo = paquete.tampaquete - TamCabecera;
  if (!Admite(f.disposicion, actual.totpartes, actual.parteactual, largo))
    return JuzgarDisposicion(f, hechos.cual, actual, largo, tamparte);
  return JuzgarParte(f, hechos.cual, hechos, actual.parteactual, largo, tamparte);
}
