// The progress line of the quiet log on a terminal: each file in progress with its parts, its
// share and its rate, rewritten in place on standard error.
#ifndef AVANCE_H
#define AVANCE_H

#include <cstdint>
#include <string>
#include <vector>

#include "ficheros.h"

/// The progress line and what its rates are measured from.
struct Avance {
  bool activo = false;     // quiet, with standard error on a terminal
  bool dibujado = false;   // a line is on the terminal now
  int64_t ultimo_ms = -1;  // when it was drawn last, monotonic milliseconds
  std::vector<std::pair<std::string, int32_t>> antes;  // each file's parts at that time
};

/// Draws the line about four times a second, within the terminal's width.
void DibujarAvance(Avance &avance, const AlmacenFicheros &almacen, int64_t ahora_ms);

/// Clears the line, so that other output starts on a clean line; it is drawn again later.
void BorrarAvance(Avance &avance);

#endif
