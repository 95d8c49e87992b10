#include "servicio.h"

#include <systemd/sd-daemon.h>

#include "salida.h"

static constexpr int64_t kMsEntreEstados = 1000;

// "Unido a G: N datagramas, M completados (el ultimo X), K en curso."
static std::string LineaDeEstado(const Servicio &servicio, const Membresia &membresia,
                                 uint64_t datagramas, const AlmacenFicheros &almacen) {
  std::string linea = membresia.unido ? std::string("Unido a ") + membresia.grupo
                                      : std::string("Esperando la union a ") + membresia.grupo;
  linea += ": " + std::to_string(datagramas) + " datagramas, " +
           std::to_string(almacen.completados) + " completados";
  if (!servicio.ultimo_completado.empty())
    linea += " (el ultimo " + NombreVisible(servicio.ultimo_completado) + ")";
  return linea + ", " + std::to_string(almacen.en_curso.size()) + " en curso.";
}

void AvisarListo(Servicio &servicio, const Membresia &membresia) {
  uint64_t intervalo_us = 0;
  if (sd_watchdog_enabled(0, &intervalo_us) > 0)
    servicio.latido_ms = static_cast<int64_t>(intervalo_us / 2000);
  servicio.estado = membresia.unido ? std::string("Unido a ") + membresia.grupo + "."
                                    : std::string("Esperando la union a ") + membresia.grupo +
                                          ": se intenta cada segundo.";
  sd_notifyf(0, "READY=1\nSTATUS=%s", servicio.estado.c_str());
}

void AvisarDesdeElBucle(Servicio &servicio, const Membresia &membresia, uint64_t datagramas,
                        const AlmacenFicheros &almacen, int64_t ahora_ms) {
  if (servicio.latido_ms > 0 && (servicio.ultimo_latido_ms < 0 ||
                                 ahora_ms - servicio.ultimo_latido_ms >= servicio.latido_ms)) {
    sd_notify(0, "WATCHDOG=1");
    servicio.ultimo_latido_ms = ahora_ms;
  }
  if (!almacen.recien_completados.empty())
    servicio.ultimo_completado = almacen.recien_completados.back();
  if (servicio.ultimo_estado_ms >= 0 && ahora_ms - servicio.ultimo_estado_ms < kMsEntreEstados)
    return;
  servicio.ultimo_estado_ms = ahora_ms;
  std::string linea = LineaDeEstado(servicio, membresia, datagramas, almacen);
  if (linea == servicio.estado) return;
  servicio.estado = linea;
  sd_notifyf(0, "STATUS=%s", linea.c_str());
}

void AvisarFin() {
  sd_notify(0, "STOPPING=1");
}
