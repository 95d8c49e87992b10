// The file store of mode 2: one file in progress, rebuilt part by part in a temporary file.
#ifndef ALMACEN_H
#define ALMACEN_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "entrada.h"

/// Longest identity kept: with ".tmp" added it must still be a valid file name.
inline constexpr std::size_t kMaxIdentidad = 255 - 4;

/// States of a part of the file in progress.
enum EstadoParte : unsigned char { kFalta = 0, kGrabada = 1, kFallida = 2 };

/// State of the store; one lives for the whole run.
struct AlmacenFicheros {
  std::string old_nombre;       // identity, and final name, of the file in progress; "" when none
  std::string old_nombre_temp;  // its temporary file's name: old_nombre followed by ".tmp"
  int pf1 = -1;                 // the temporary file, open while the file is in progress
  int32_t totpartes = 0;        // part count announced by the datagram that started the file
  int32_t tamparte_propio = 0;  // the file's own part size, 0 until a part but the last arrives
  std::vector<unsigned char> partesrecibidas =
      std::vector<unsigned char>(MAX_TROZOS);  // kGrabada once written, kFallida if it failed
  std::vector<int> errores_avisados;  // disk errors of this file already reported on stderr
  int64_t largo_ultima = -1;          // content length of the last part, once written
  // A last part that came before the file's part size was known: where it went, and its bytes,
  // to put it right when the file completes.
  bool ultima_adelantada = false;
  int64_t ultima_posicion = 0;
  std::vector<unsigned char> ultima;
};

/// Handles one datagram in mode 2: refuses impossible ones, and those that do not fit the file in
/// progress, with a report line; answers those of an already stored file, starts a new file on a
/// change of identity, writes a new part at its offset and renames the temporary file once no
/// part is missing, after which no file is in progress. tamparte is the loop's part
/// size; faltan is set when a file starts and counted down per part. Ends the process through
/// DieWithError when the temporary file cannot be created.
void AlmacenarParte(AlmacenFicheros &almacen, const DatagramaActual &actual, const Paquete &paquete,
                    int32_t tamparte, int32_t &faltan, FILE *salida);

#endif
