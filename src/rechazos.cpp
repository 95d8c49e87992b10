#include "rechazos.h"

#include <algorithm>
#include <cstdarg>

#include "direcciones.h"
#include "informes.h"
#include "reloj.h"
#include "salida.h"

/// Refusals remembered at once; past that, the one told longest ago is forgotten.
static constexpr std::size_t kMaxRepeticiones = 256;

static Repeticion *BuscarRepeticion(AlmacenFicheros &almacen, const std::string &identidad,
                                    const char *causa) {
  for (Repeticion &r : almacen.repeticiones)
    if (r.causa == causa && r.identidad == identidad) return &r;
  return nullptr;
}

static void DecirRepeticion(AlmacenFicheros &almacen, Repeticion &r, int64_t ahora_ms,
                            FILE *salida) {
  if (!DentroDelFreno(almacen, r.causa, &r.emisor, r.veces)) {
    r.veces = 0;
    r.dicho_ms = ahora_ms;
    return;
  }
  Renglon linea;
  AnadirPrefijo(linea, almacen, r.identidad, salida, Prioridad::kAviso);
  Anadir(linea, std::string_view(r.linea).substr(0, r.linea.size() - 1));
  Anadir(linea, " Repetido ");
  AnadirEntero(linea, static_cast<int64_t>(r.veces));
  Anadir(linea, r.veces == 1 ? " vez en " : " veces en ");
  AnadirEntero(linea, (ahora_ms - r.dicho_ms + 500) / 1000);
  Anadir(linea, " s.\n");
  Emitir(linea, salida);
  r.veces = 0;
  r.dicho_ms = ahora_ms;
}

bool DentroDelFreno(AlmacenFicheros &almacen, const char *causa, const sockaddr_storage *origen,
                    uint64_t veces) {
  if (!almacen.opciones.silencioso) return true;
  int64_t ahora_ms = AhoraMs();
  if (TomarFicha(almacen.freno, ahora_ms)) return true;
  std::string emisor = TextoDeEmisor(origen);
  Callar(almacen.freno, ahora_ms, causa, emisor.empty() ? "?" : emisor, veces);
  return false;
}

// Quiet, a refusal is told once and then counted: a sender that keeps sending what is refused
// would otherwise fill the log with one line per datagram. Names that change each time share
// the log's budget.
static void RechazarEnSilencio(AlmacenFicheros &almacen, const std::string &identidad,
                               const sockaddr_storage *origen, FILE *salida, const char *formato,
                               va_list argumentos) {
  char texto[512];
  int64_t ahora_ms = AhoraMs();
  Repeticion *r = BuscarRepeticion(almacen, identidad, formato);
  if (r != nullptr && (r->veces > 0 || ahora_ms - r->dicho_ms < kMsEntreRepeticiones)) {
    vsnprintf(texto, sizeof texto, formato, argumentos);
    r->linea = texto;
    ++r->veces;
    if (origen != nullptr) r->emisor = *origen;
    if (ahora_ms - r->dicho_ms >= kMsEntreRepeticiones)
      DecirRepeticion(almacen, *r, ahora_ms, salida);
    return;
  }
  if (!DentroDelFreno(almacen, formato, origen)) return;
  vsnprintf(texto, sizeof texto, formato, argumentos);
  std::vector<Repeticion> &todas = almacen.repeticiones;
  if (r == nullptr && todas.size() == kMaxRepeticiones)
    todas.erase(std::min_element(todas.begin(), todas.end(), [](const auto &a, const auto &b) {
      return a.dicho_ms < b.dicho_ms;
    }));
  if (r == nullptr) r = &todas.emplace_back();
  *r = Repeticion{identidad, formato, texto, 0, ahora_ms, {}};
  if (origen != nullptr) r->emisor = *origen;
  Renglon linea;
  AnadirPrefijo(linea, almacen, identidad, salida, Prioridad::kAviso);
  Emitir(linea, salida);
  EscribirTexto(salida, texto);
}

void Rechazar(AlmacenFicheros &almacen, const std::string &identidad,
              const sockaddr_storage *origen, FILE *salida, const char *formato, ...) {
  va_list argumentos;
  va_start(argumentos, formato);
  ++almacen.rechazados;
  if (almacen.opciones.silencioso) {
    RechazarEnSilencio(almacen, identidad, origen, salida, formato, argumentos);
  } else {
    fputs(Prefijo(salida, Prioridad::kAviso), salida);
    vfprintf(salida, formato, argumentos);
  }
  va_end(argumentos);
}

void AvisarRepeticiones(AlmacenFicheros &almacen, int64_t ahora_ms, bool todas, FILE *salida) {
  for (Repeticion &r : almacen.repeticiones)
    if (r.veces > 0 && (todas || ahora_ms - r.dicho_ms >= kMsEntreRepeticiones))
      DecirRepeticion(almacen, r, ahora_ms, salida);
  DecirCallados(almacen.freno, ahora_ms, todas, salida);
}

void OlvidarRepeticiones(AlmacenFicheros &almacen, const std::string &identidad, FILE *salida) {
  std::vector<Repeticion> &todas = almacen.repeticiones;
  int64_t ahora_ms = AhoraMs();
  for (Repeticion &r : todas)
    if (r.veces > 0 && r.identidad == identidad) DecirRepeticion(almacen, r, ahora_ms, salida);
  todas.erase(std::remove_if(todas.begin(), todas.end(),
                             [&](const Repeticion &r) { return r.identidad == identidad; }),
              todas.end());
}

void InformarCambio(AlmacenFicheros &almacen, const std::string &id,
                    const sockaddr_storage *origen, FILE *salida, const char *formato, ...) {
  if (!DentroDelFreno(almacen, formato, origen)) return;
  char texto[512];
  va_list argumentos;
  va_start(argumentos, formato);
  vsnprintf(texto, sizeof texto, formato, argumentos);
  va_end(argumentos);
  std::string emisor = TextoDeEmisor(origen);
  InformarCon(almacen, Prioridad::kAviso, id, salida, emisor.empty() ? "%s.\n" : "%s (emisor %s).\n",
              texto, emisor.c_str());
}
