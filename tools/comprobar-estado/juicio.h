// The verdict on a receiver from its status file: healthy, or what is wrong and how badly.
#ifndef COMPROBAR_JUICIO_H
#define COMPROBAR_JUICIO_H

#include <cstdint>
#include <string>

#include "documento.h"

/// The verdicts, which are also the exit statuses of the check, as monitoring plugins have them.
enum Gravedad { kBien = 0, kAviso = 1, kCritico = 2, kDesconocido = 3 };

/// A receiver that has not rewritten its status file for longer than this (it does every
/// second) is stopped or hung.
inline constexpr int64_t kMsSinReescribir = 5000;

/// What the check adds to the document: the clock and what it remembers.
struct Observacion {
  int64_t ahora_ms = 0;            // wall clock now, milliseconds since the epoch
  int64_t modificado_ms = 0;       // the status file's modification time, the same way
  int64_t silencio_maximo_s = -1;  // longest time without a datagram; -1 none given
  int64_t descartados_antes = -1;  // kernel drops at the last check; -1 nothing remembered
};

/// The verdict and the figures that go with it.
struct Juicio {
  Gravedad gravedad = kBien;
  std::string texto;                // what is wrong, "; " between causes, or the summary
  bool con_cifras = false;          // the document was read, so the figures below hold
  int64_t antiguedad_s = 0;         // since the receiver last rewrote the file
  int64_t silencio_s = 0;           // since the last datagram, or the start before the first
  int64_t descartados_nuevos = -1;  // kernel drops since the last check; -1 not remembered
  int64_t con_error = 0;            // files in progress with a failure now
};

/// Judges a receiver: critical when its file is not rewritten, it is not joined, no datagram
/// came for longer than the limit given, or no file can progress (its directory cannot be
/// written, or every file in progress fails to save); a warning for a file in progress that
/// fails to save, kernel drops since the last check and leftovers; healthy otherwise. Pure: the
/// clock and the memory come in observacion.
Juicio Juzgar(const Documento &documento, const Observacion &observacion);

#endif
