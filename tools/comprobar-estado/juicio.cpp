#include "juicio.h"

#include <algorithm>

static void Anadir(Juicio &juicio, Gravedad gravedad, const std::string &causa) {
  juicio.gravedad = std::max(juicio.gravedad, gravedad);
  juicio.texto += (juicio.texto.empty() ? "" : "; ") + causa;
}

static std::string Segundos(int64_t segundos) {
  return std::to_string(segundos) + " s";
}

// Deaf: not joined, or silent for longer than the limit, counted from the start before the
// first datagram.
static void JuzgarSordera(Juicio &juicio, const Documento &documento, int64_t limite_s) {
  if (!documento.unido) Anadir(juicio, kCritico, "no esta unido al grupo");
  if (limite_s < 0 || juicio.silencio_s <= limite_s) return;
  std::string limite = " (limite " + Segundos(limite_s) + ")";
  if (documento.ultimo_datagrama < 0)
    Anadir(juicio, kCritico,
           "ningun datagrama en " + Segundos(juicio.silencio_s) + " desde el arranque" + limite);
  else
    Anadir(juicio, kCritico, "ningun datagrama desde hace " + Segundos(juicio.silencio_s) + limite);
}

static std::string Resumen(const Documento &documento, const Juicio &juicio) {
  std::string ultimo = documento.ultimo_datagrama < 0
                           ? "ningun datagrama aun"
                           : "ultimo datagrama hace " + Segundos(juicio.silencio_s);
  return "unido al grupo, " + ultimo + "; completados: " + std::to_string(documento.completados) +
         ", en curso: " + std::to_string(documento.en_curso.size());
}

Juicio Juzgar(const Documento &documento, const Observacion &observacion) {
  Juicio juicio;
  juicio.con_cifras = true;
  int64_t antiguedad_ms = std::max<int64_t>(0, observacion.ahora_ms - observacion.modificado_ms);
  juicio.antiguedad_s = antiguedad_ms / 1000;
  int64_t ahora_s = observacion.ahora_ms / 1000;
  int64_t desde = documento.ultimo_datagrama >= 0 ? documento.ultimo_datagrama : documento.inicio;
  juicio.silencio_s = std::max<int64_t>(0, ahora_s - desde);
  if (antiguedad_ms > kMsSinReescribir)
    Anadir(juicio, kCritico,
           "el fichero de estado no se reescribe desde hace " + Segundos(juicio.antiguedad_s) +
               ": el receptor esta detenido");
  JuzgarSordera(juicio, documento, observacion.silencio_maximo_s);
  if (observacion.descartados_antes >= 0) {
    juicio.descartados_nuevos =
        std::max<int64_t>(0, documento.descartados - observacion.descartados_antes);
    if (juicio.descartados_nuevos > 0)
      Anadir(juicio, kAviso,
             "datagramas descartados por el nucleo desde la comprobacion anterior: " +
                 std::to_string(juicio.descartados_nuevos));
  }
  if (!documento.restos.empty())
    Anadir(
        juicio, kAviso,
        "restos de ficheros que ya no estan en curso: " + std::to_string(documento.restos.size()));
  if (juicio.texto.empty()) juicio.texto = Resumen(documento, juicio);
  return juicio;
}
