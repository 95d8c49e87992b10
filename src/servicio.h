// What the receiver tells systemd when it runs as a service: ready once joined, alive from the
// loop, and a line of status. Outside systemd (no NOTIFY_SOCKET) nothing is sent.
#ifndef SERVICIO_H
#define SERVICIO_H

#include <cstdint>
#include <string>

#include "ficheros.h"
#include "membresia.h"

/// The notifications of the run.
struct Servicio {
  int64_t latido_ms = 0;          // how often the loop says it is alive; 0 without a watchdog
  int64_t ultimo_latido_ms = -1;  // when it said so last, monotonic milliseconds
  int64_t ultimo_estado_ms = -1;  // when the status line was sent last
  std::string estado;             // the status line sent last
  std::string ultimo_completado;  // the file completed last, for the status line
};

/// Says the receiver is ready: joined, or, waiting for the network (-w), said in the status.
/// Notes the watchdog's interval when systemd asked for one.
void AvisarListo(Servicio &servicio, const Membresia &membresia);

/// From the loop: tells the watchdog the receiver is alive (at half its interval), and, about
/// once a second when it changed, the status line: membership, datagrams, files completed
/// (the last named), files in progress.
void AvisarDesdeElBucle(Servicio &servicio, const Membresia &membresia, uint64_t datagramas,
                        const AlmacenFicheros &almacen, int64_t ahora_ms);

/// Says the receiver is ending.
void AvisarFin();

#endif
