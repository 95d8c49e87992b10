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

// A text of the document as one piece of the line: a control byte would break it, and '|'
// would start the performance data.
static std::string Limpio(const std::string &texto) {
  std::string limpio = texto;
  for (char &c : limpio)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '|') c = '?';
  return limpio;
}

// "0001-0002-datos desde hace 12 s: <error>", with the sender of a version told apart by it.
static std::string FalloDe(const FicheroNombrado &fichero, int64_t ahora_s) {
  std::string nombre = fichero.fichero + (fichero.emisor.empty() ? "" : " de " + fichero.emisor);
  return Limpio(nombre) + " desde hace " +
         Segundos(std::max<int64_t>(0, ahora_s - fichero.error->desde)) + ": " +
         Limpio(fichero.error->texto);
}

// The file in progress whose failure is the oldest, nullptr when none fails; counts those that
// fail in con_error.
static const FicheroNombrado *FalloMasAntiguo(const Documento &documento, int64_t &con_error) {
  const FicheroNombrado *antiguo = nullptr;
  for (const FicheroNombrado &fichero : documento.en_curso) {
    if (!fichero.error) continue;
    ++con_error;
    if (antiguo == nullptr || fichero.error->desde < antiguo->error->desde) antiguo = &fichero;
  }
  return antiguo;
}

// Files that cannot be saved: a warning while others still progress, critical when none can,
// every file in progress failing or the directory not writable. Several failing files are
// counted, and the oldest failure named.
static void JuzgarFallos(Juicio &juicio, const Documento &documento, int64_t ahora_s) {
  const FicheroNombrado *antiguo = FalloMasAntiguo(documento, juicio.con_error);
  std::string causas;
  if (!documento.directorio_escribible)
    causas = "el directorio de recepcion no se puede escribir (sin permiso o sin espacio libre)";
  if (antiguo != nullptr) {
    if (!causas.empty()) causas += "; ";
    causas += "fallo al guardar ";
    if (juicio.con_error > 1)
      causas += std::to_string(juicio.con_error) + " ficheros, el mas antiguo ";
    causas += FalloDe(*antiguo, ahora_s);
  }
  if (causas.empty()) return;
  if (!documento.directorio_escribible ||
      juicio.con_error == static_cast<int64_t>(documento.en_curso.size()))
    Anadir(juicio, kCritico, "ningun fichero puede avanzar: " + causas);
  else
    Anadir(juicio, kAviso, causas);
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
  JuzgarFallos(juicio, documento, ahora_s);
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
