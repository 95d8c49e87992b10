// The status file: what the receiver has taken and what it is rebuilding, in JSON, for a
// monitoring script to read at any time.
#ifndef ESTADO_H
#define ESTADO_H

#include <cstdint>
#include <string>

#include "ficheros.h"
#include "firmas.h"
#include "membresia.h"

struct Bucle;

/// The status file of the run.
struct FicheroEstado {
  std::string ruta;        // where it is kept, absolute
  int64_t inicio = 0;      // when the receiver started, seconds since the epoch
  int64_t ultimo_ms = -1;  // when it was last written, monotonic milliseconds; -1 never
  int error_avisado = 0;   // the failure told last, not told again while it lasts
  const Membresia *membresia = nullptr;  // the group's membership, whose state it shows
  const TablaDeFirmas *firmas = nullptr;  // what signed descriptions brought; nullptr: no keys
};

/// Checks that the file can be written where asked (one line and kSalidaFatal otherwise) and
/// keeps its absolute path, so that a later change of directory does not move it.
void PrepararFicheroEstado(FicheroEstado &informe, const char *ruta);

/// Replaces the file at once with the state now: start, process, version, when it is written,
/// whether the group is joined and when a datagram last came, datagrams taken, datagrams the
/// kernel dropped, files completed, and each file in progress with its parts and total. A reader
/// sees the old file or the new one, never a part of either. A failure is told on standard error.
void EscribirEstado(FicheroEstado &informe, const Bucle &bucle,
                    const AlmacenFicheros &almacen, int64_t ahora_ms);

/// The same, about once a second.
void EscribirEstadoSiToca(FicheroEstado &informe, const Bucle &bucle,
                          const AlmacenFicheros &almacen, int64_t ahora_ms);

#endif
