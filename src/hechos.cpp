#include "hechos.h"

#include <unistd.h>

#include <cstring>

#include "direcciones.h"
#include "en_curso.h"
#include "escritura.h"
#include "grabados.h"

// The file in progress that the datagram goes to, kept for the next datagrams of its identity
// and sender in the batch: what was looked up and probed for the first holds for them while
// no file enters or leaves the table. Datagrams that come one by one, outside a batch, each
// look theirs up.
static void RecordarAtajo(AlmacenFicheros &almacen, const DatagramaActual &actual,
                          const sockaddr_storage *origen, int cual) {
  if (almacen.lotes == 0) return;
  Atajo &a = almacen.atajo;
  a = {actual.numero_de_identidad, {}, cual};
  if (origen != nullptr) a.origen = *origen;
}

static int SegunElAtajo(const AlmacenFicheros &almacen, const DatagramaActual &actual,
                        const sockaddr_storage *origen) {
  const Atajo &a = almacen.atajo;
  if (a.identidad != actual.numero_de_identidad) return -1;
  if (almacen.opciones.por_emisor && (origen == nullptr || !MismaDireccion(a.origen, *origen)))
    return -1;
  return a.cual;
}

int FicheroDelDatagrama(const AlmacenFicheros &almacen, const DatagramaActual &actual,
                        const sockaddr_storage *origen) {
  int cual = SegunElAtajo(almacen, actual, origen);
  return cual >= 0 ? cual : BuscarDe(almacen, actual.elnombre, origen);
}

// Whether a part already taken came again with the same bytes: compared with the buffer, the
// last part kept in memory, or the temporary file. A part that cannot be read back counts as
// changed. Not inlined: its room for a part would weigh on every new part's facts.
[[gnu::noinline]] static bool IgualQueLaGuardada(const FicheroEnCurso &f, int32_t parte,
                                                 const unsigned char *contenido, int32_t largo) {
  bool es_ultima = parte == UltimaParte(f.disposicion);
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

// The first datagram of its identity and sender in the batch: with new versions asked for, a
// file in progress takes its datagrams before the stored one is looked at (the new version is
// rebuilt beside it); without, a stored file answers whatever is in progress.
[[gnu::noinline]] static void BuscarFichero(AlmacenFicheros &almacen, const DatagramaActual &actual,
                                            const Paquete &paquete, Hechos &h) {
  const std::string &id = actual.elnombre;
  bool actualizar = almacen.opciones.actualizar;
  if (actualizar) h.cual = BuscarDe(almacen, id, paquete.origen);
  if (h.cual < 0) h.grabado = YaGrabado(almacen, id, h.primer_sondeo);
  if (h.grabado) {
    if (actualizar) h.igual_que_grabado = IgualQueElGrabado(almacen, actual, paquete);
    return;
  }
  if (!actualizar) h.cual = BuscarDe(almacen, id, paquete.origen);
  if (h.cual >= 0) RecordarAtajo(almacen, actual, paquete.origen, h.cual);
}

// With trusted keys, the part against its signed digest: its identity as the datagram gives it.
[[gnu::noinline]] static Firma Firmada(const AlmacenFicheros &almacen,
                                       const DatagramaActual &actual, const Paquete &paquete) {
  if (paquete.tampaquete < TamCabecera) return Firma::kCierta;
  return ComprobarParte(*almacen.firmas, actual.elnombre, actual.totpartes, actual.parteactual,
                        paquete.datos + TamCabecera, paquete.tampaquete - TamCabecera);
}

Hechos ReunirHechos(AlmacenFicheros &almacen, const DatagramaActual &actual,
                    const Paquete &paquete) {
  Hechos h;
  if (almacen.firmas != nullptr) h.firma = Firmada(almacen, actual, paquete);
  h.cual = SegunElAtajo(almacen, actual, paquete.origen);
  h.atajo = h.cual >= 0;
  if (!h.atajo) {
    // what no file can be called is never looked for on disk
    if (JuzgarSinAlmacen(actual, paquete, almacen.opciones.max_partes).decision ==
        Decision::kRechazado)
      return h;
    BuscarFichero(almacen, actual, paquete, h);
    if (h.cual < 0) return h;
  }
  const FicheroEnCurso &f = almacen.en_curso[static_cast<std::size_t>(h.cual)];
  int32_t parte = actual.parteactual;
  if (parte >= 0 && parte < f.disposicion.totpartes && Recibida(f.partes, parte) &&
      paquete.tampaquete >= TamCabecera)
    h.igual_que_guardada =
        IgualQueLaGuardada(f, parte, paquete.datos + TamCabecera, paquete.tampaquete - TamCabecera);
  return h;
}

// Read from the file itself, since a write that failed after the datagram gives parts back.
int32_t FaltanParaResumen(const AlmacenFicheros &almacen, const DatagramaActual &actual,
                          const sockaddr_storage *origen) {
  int cual = FicheroDelDatagrama(almacen, actual, origen);
  if (cual < 0) cual = almacen.ultimo;
  return cual >= 0 ? almacen.en_curso[static_cast<std::size_t>(cual)].partes.faltan
                   : almacen.faltan_del_ultimo;
}
