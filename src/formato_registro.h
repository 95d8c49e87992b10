// The text of a record of a file's parts: a whole record, which lists every part on disk, and
// the lines that later saves add to it, each with the parts synced since the save before, so
// that a save of a large file costs what changed, not the file. Written and read here alone.
#ifndef FORMATO_REGISTRO_H
#define FORMATO_REGISTRO_H

#include <cstdint>
#include <string>
#include <vector>

#include "ficheros.h"

/// What tells one temporary file from another made later under the same name. Without a birth
/// time (nacido_s -1), its length and modification time stand in, which only the same state
/// matches.
struct Identificacion {
  int64_t dispositivo = 0, inodo = 0, nacido_s = -1, nacido_ns = 0, largo = 0, cambio_s = 0,
          cambio_ns = 0;
};

/// A record as read, with the lines added to it taken in.
struct Registro {
  std::string emisor;    // the sender of its version; "" when versions were not told apart
  int64_t progreso = 0;  // when its last new part came, seconds since the epoch; 0 not told
  int64_t totpartes = 0, tamparte = 0, largo_ultima = 0;
  Identificacion temporal;  // the temporary file it describes, as it was at the last save
  std::string partes;       // '1' for a part on disk, '0' for any other
};

/// The whole record of the file, whose temporary file is id: every part on disk, a bit each.
std::string TextoEntero(const FicheroEnCurso &fichero, const Identificacion &id);

/// The line that a save adds to the whole record: the runs nuevas, synced since the save before,
/// with what changed alongside (the file's age, its temporary file's length and time, the part
/// size and the last part's length).
std::string LineaAnadida(const FicheroEnCurso &fichero, const Identificacion &id,
                         const std::vector<Tramo> &nuevas);

/// Reads texto as a record of the identity given, or of any when it is empty: a whole record
/// of this format or of the two before it, then each line added to it up to the first that is
/// cut short or damaged, as a crash in the middle of a save leaves it. False when it is no
/// record, or one with more after its lines than a save cut short leaves.
bool Interpretar(const std::string &texto, const std::string &identidad, Registro &registro);

#endif
