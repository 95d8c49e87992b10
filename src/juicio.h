// The judgement of one datagram against the store: what becomes of it, decided before anything
// changes. Its only reads beyond its arguments are the comparisons with what is stored (a final
// name, a stored file, a temporary file); the store applies the verdict.
#ifndef JUICIO_H
#define JUICIO_H

#include <cstdint>

#include "entrada.h"
#include "ficheros.h"
#include "formato.h"

/// What becomes of a datagram.
enum class Decision {
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
enum class Causa {
  kCorto,        // shorter than a header
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
};

/// Where a part taken goes.
struct Colocacion {
  int64_t posicion = 0;      // its offset in the temporary file
  bool fija_tamano = false;  // it tells its file's part size, not known before
  bool adelantada = false;   // a last part before the part size is known: kept in memory, at
                             // the offset the loop's part size gives, until the file completes
};

struct Veredicto {
  Decision decision = Decision::kRechazado;
  int cual = -1;                // the file in progress it concerns; -1 none
  Causa causa = Causa::kCorto;  // why it is refused
  int64_t dato = 0;             // the numbers its line names (apart, not an array: a
  int64_t otro_dato = 0;        // function holding an array pays for the stack's guard)
  bool proponer = false;        // refused by layout: its layout is offered as the file's next
  bool primer_sondeo = false;   // the final name was probed now, not earlier in the batch
  Colocacion colocacion;        // where the part goes, when taken
};

/// Judges the datagram (content of paquete.tampaquete - TamCabecera bytes) against the store.
/// tamparte is the loop's part size. Changes nothing but the caches of what is stored.
Veredicto Juzgar(AlmacenFicheros &almacen, const DatagramaActual &actual, const Paquete &paquete,
                 int32_t tamparte);

/// Judges the datagram against its file in progress cual: its layout, then its part.
Veredicto JuzgarEnCurso(const AlmacenFicheros &almacen, int cual, const DatagramaActual &actual,
                        const Paquete &paquete, int32_t tamparte);

/// Judges a part of the file in progress cual: repeated, changed, or to be taken where
/// Colocar puts it.
Veredicto JuzgarParte(const AlmacenFicheros &almacen, int cual, int32_t parte,
                      const unsigned char *contenido, int32_t largo, int32_t tamparte);

/// Where a new part of the file goes: every part but the last by its own size; the last by
/// the file's part size once known, by the loop's (tamparte) before.
Colocacion Colocar(const FicheroEnCurso &fichero, int32_t parte, int32_t largo, int32_t tamparte);

/// The line of a refusal: a format with up to two integers, the same pointer for the same cause.
const char *LineaDeRechazo(Causa causa);

#endif
