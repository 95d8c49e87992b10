// The file store of mode 2: files rebuilt part by part in temporary files, one in progress at a
// time unless more are asked for.
#ifndef ALMACEN_H
#define ALMACEN_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "entrada.h"

/// Longest identity kept: with ".tmp" added it must still be a valid file name.
inline constexpr std::size_t kMaxIdentidad = 255 - 4;
/// Most files that may be in progress at once.
inline constexpr int kMaxFicherosEnCurso = 1024;

/// States of a part of a file in progress.
enum EstadoParte : unsigned char { kFalta = 0, kGrabada = 1, kFallida = 2 };

/// One file in progress: its temporary file and what of it has arrived.
struct FicheroEnCurso {
  std::string old_nombre;       // identity, and final name, of the file
  std::string old_nombre_temp;  // its temporary file's name: old_nombre followed by ".tmp"
  int pf1 = -1;                 // the temporary file, open while the file is in progress
  int32_t totpartes = 0;        // part count announced by the datagram that started the file
  int32_t faltan = 0;           // parts still missing
  int32_t tamparte_propio = 0;  // the file's own part size, 0 until a part but the last arrives
  std::vector<unsigned char> partesrecibidas;  // an EstadoParte per part
  // A last part that came before the file's part size was known: where it went, and its bytes,
  // to put it right when the file completes.
  bool ultima_adelantada = false;
  int64_t ultima_posicion = 0;
  std::vector<unsigned char> ultima;
  int64_t largo_ultima = -1;          // content length of the last part, once written
  std::vector<int> errores_avisados;  // disk errors of this file already reported on stderr
  uint64_t ultimo_uso = 0;            // when a datagram of it came last, in datagrams handled
};

/// A part written before the pass reached its datagram, with the parts next to it in one write.
struct Adelantada {
  const unsigned char *datos;  // the datagram, as the pass will see it
  int error;                   // 0 once its bytes are in the file; the system's error otherwise
};

/// How the store behaves, fixed for the run.
struct OpcionesAlmacen {
  int maximo = 1;           // files in progress at once; the least recently touched goes first
  bool reanudar = false;    // files in progress are kept across an orderly end and resumed
  bool silencioso = false;  // only the store's events are printed, each naming its file
  bool a_terminal = false;  // standard output is a terminal: names are shown without controls
};

/// State of the store; one lives for the whole run.
struct AlmacenFicheros {
  OpcionesAlmacen opciones;
  std::vector<FicheroEnCurso> en_curso;  // at most opciones.maximo, in no particular order
  int ultimo = -1;                       // index of the file touched last, -1 when none
  std::string temporal_huerfano;         // temporary file of a failed rename, for the next start
  uint64_t reloj = 0;                    // datagrams handled, to tell which file is the oldest
  // Within a batch, each identity's final name is probed once: its answer is kept here.
  bool en_lote = false;
  std::vector<std::pair<std::string, bool>> sondeos;  // identity, and whether it is stored
  std::vector<Adelantada> adelantadas;   // parts of this batch already written, in order
  std::size_t siguiente_adelantada = 0;  // the first of them the pass has not reached
};

/// Starts a batch of datagrams: final names are probed afresh, once each for the batch.
void EmpezarLote(AlmacenFicheros &almacen);

/// Before the pass over a batch in mode 2: writes the new parts that lie back to back in a file
/// in progress with one system call per run, for as long as the batch starts with such runs.
/// The pass then reports each part as if it wrote it then: same outcome, same lines.
void AdelantarEscrituras(AlmacenFicheros &almacen, const Paquete *lote, int cuantos);

/// Handles one datagram in mode 2: refuses impossible ones, and those that do not fit their file
/// in progress, with a report line; answers those of an already stored file, starts a new file
/// (dropping the oldest when too many are in progress), writes a new part at its offset and
/// renames the temporary file once no part is missing, after which that file is no longer in
/// progress. tamparte is the loop's part size; faltan is left with the missing count of the file
/// touched last. Ends the process through DieWithError when a temporary file cannot be created.
void AlmacenarParte(AlmacenFicheros &almacen, const DatagramaActual &actual, const Paquete &paquete,
                    int32_t tamparte, int32_t &faltan, FILE *salida);

/// The missing count that the summary line shows: that of the datagram's own file when it is in
/// progress, of the file touched last otherwise (faltan, as the store left it).
int32_t FaltanParaResumen(const AlmacenFicheros &almacen, const DatagramaActual &actual,
                          int32_t faltan);

/// At an orderly end, with reanudar: syncs every file in progress to disk and writes its record,
/// so that a later run resumes it.
void GuardarFicherosEnCurso(AlmacenFicheros &almacen);

#endif
