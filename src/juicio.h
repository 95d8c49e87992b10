// The judgement of one datagram: what becomes of it, decided from the datagram, a const view of
// the store, and the facts gathered for it beforehand (ReunirHechos). It reads nothing else and
// changes nothing; the store carries out the verdict.
#ifndef JUICIO_H
#define JUICIO_H

#include <cstdint>

#include "entrada.h"
#include "ficheros.h"
#include "firmas.h"
#include "formato.h"

/// What the judgement needs from the disk and the store's caches, gathered for one datagram.
struct Hechos {
  int cual = -1;           // the file in progress it goes to; -1 none, or not looked for
  bool atajo = false;      // found by the batch's shortcut: its identity was judged already
  bool grabado = false;    // with no file in progress for it, its final name is stored
  bool primer_sondeo = false;        // that was asked of the disk now, first in the batch
  bool igual_que_grabado = true;     // -a: the datagram agrees with the stored file
  bool igual_que_guardada = false;   // its part, already taken, came with the same bytes
  Firma firma = Firma::kCierta;      // with trusted keys, its part against its signed digest
};

/// What becomes of a datagram.
enum class Decision : uint8_t {
  kRechazado,            // impossible, or of another layout than its file: refused, one line
  kGrabado,              // its file is stored, and the datagram agrees with it
  kNuevaVersion,         // its file is stored, but the datagram cannot be of it (-a): a new
                         // version starts
  kEmpezar,              // its file is neither stored nor in progress: it starts
  kCambioDeDisposicion,  // the second datagram of a new layout: the file starts afresh in it
  kCambioDeContenido,    // a part already taken came with other bytes: the file starts afresh
  kRepetida,             // a part already taken came again, the same
  kTomar,                // a new part of its file in progress
};

/// Why a datagram is refused; each cause has its line.
enum class Causa : uint8_t {
  kCorto,        // shorter than a header
  kExcedido,     // a part count over the run's limit
  kLargo,        // longer than any datagram
  kTotal,        // a part count that no file has
  kFuera,        // a part past its file's count
  kVacia,        // a part without bytes that is not the last
  kBarra,        // a name with '/'
  kControl,      // a name with a control byte, which would reach file names and the log
  kTemporal,     // a name that ends as a temporary file's
  kNombreLargo,  // an identity too long for the disk
  kOtraCuenta,   // another part count than its file in progress
  kOtroTamano,   // another part size than its file in progress
  kFalsa,        // a part that contradicts its signed description
  kSinFirma,     // a part of which nothing is signed yet: the next pass brings it again
};

/// Where a part taken goes.
struct Colocacion {
  int64_t posicion = 0;      // its offset in the temporary file
  bool fija_tamano = false;  // it tells its file's part size, not known before
  bool adelantada = false;   // a last part before the part size is known: kept in memory, at
                             // the offset the loop's part size gives, until the file completes
  bool suelta_ultima = false;  // it tells a part size that the last part kept in memory
                               // exceeds: that last part cannot be the file's, and goes
};

/// The verdict, with the whole plan. A start (kEmpezar, kNuevaVersion, kCambioDeContenido, and
/// kCambioDeDisposicion once the offered part is taken) may resume the file from its record: the
/// datagram is then judged again, against the file started.
struct Veredicto {
  Decision decision = Decision::kRechazado;
  Causa causa = Causa::kCorto;  // why it is refused, or why the layout changes
  bool proponer = false;        // refused by layout: its layout is offered as the file's next
  bool limpiar_restos = false;  // its stored file was probed first now: leftovers of it go
  int32_t cual = -1;            // the file in progress it concerns; -1 none
  int32_t dato = 0;             // the numbers its line names (apart, not an array: a
  int32_t otro_dato = 0;        // function holding an array pays for the stack's guard)
  Colocacion colocacion;        // where the part goes, when taken; with kCambioDeDisposicion,
                                // where the offered part goes
};

/// Whether the datagram, whole, announces more parts than the run allows (maximo).
inline bool ExcedeElMaximo(const DatagramaActual &actual, const Paquete &paquete, int32_t maximo) {
  return paquete.tampaquete >= TamCabecera && actual.totpartes > maximo;
}

/// Judges the datagram (content of paquete.tampaquete - TamCabecera bytes) against the store as
/// hechos describe it. tamparte is the loop's part size.
Veredicto Juzgar(const AlmacenFicheros &almacen, const Hechos &hechos,
                 const DatagramaActual &actual, const Paquete &paquete, int32_t tamparte);

/// What no file can hold or be called, by the datagram alone: a refusal, or kTomar when none.
/// Whatever it refuses is never looked for on disk.
Veredicto JuzgarSinAlmacen(const DatagramaActual &actual, const Paquete &paquete,
                           int32_t maximo);

/// The line of a refusal: a format with up to two integers, the same pointer for the same cause.
const char *LineaDeRechazo(Causa causa);

#endif
