#include "restos.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <map>
#include <string>
#include <string_view>

#include "direcciones.h"
#include "en_curso.h"
#include "formato.h"
#include "informes.h"
#include "registro.h"
#include "reloj.h"

// Whether names derive from raiz: an identity, or a version's dot, identity, '@' and sender.
static bool EsRaiz(std::string_view raiz) {
  if (!raiz.starts_with('.'))
    return !IdentidadEntre(raiz, "", "").empty() && TieneFormaDeIdentidad(raiz);
  std::size_t arroba = raiz.rfind('@');
  return arroba != std::string_view::npos && arroba + 1 < raiz.size() &&
         EsRaiz(raiz.substr(1, arroba - 1));
}

// What the names of the temporary file, record or side copy that the name is derive from; ""
// for any other name, which is no receiver's.
static std::string RaizDeResto(std::string_view nombre) {
  if (nombre.ends_with(kSufijoNuevo)) {
    nombre.remove_suffix(kSufijoNuevo.size());
    // a temporary file's side copy is hidden; a record's is hidden already
    if (nombre.ends_with(kSufijoTemporal) && !nombre.starts_with('.')) return "";
    if (nombre.ends_with(kSufijoTemporal)) nombre.remove_prefix(1);
  }
  std::string_view raiz;
  if (nombre.ends_with(kSufijoTemporal))
    raiz = nombre.substr(0, nombre.size() - kSufijoTemporal.size());
  else if (nombre.starts_with('.') && nombre.ends_with(kSufijoRegistro))
    raiz = nombre.substr(1, nombre.size() - 1 - kSufijoRegistro.size());
  return EsRaiz(raiz) ? std::string(raiz) : "";
}

// When a plain file last changed, seconds since the epoch; -1 when it is no plain file.
static int64_t UltimoCambio(const std::string &nombre) {
  struct stat datos;
  if (lstat(nombre.c_str(), &datos) != 0 || !S_ISREG(datos.st_mode)) return -1;
  return static_cast<int64_t>(datos.st_mtime);
}

// What each leftover's names derive from, with its latest change, in name order.
static std::map<std::string, int64_t> BuscarRestos(const AlmacenFicheros &almacen) {
  std::map<std::string, int64_t> restos;
  DIR *directorio = opendir(".");
  if (directorio == nullptr) return restos;
  while (const dirent *entrada = readdir(directorio)) {
    std::string raiz = RaizDeResto(entrada->d_name);
    if (raiz.empty() || BuscarPorRaiz(almacen, raiz) >= 0) continue;
    int64_t cambio = UltimoCambio(entrada->d_name);
    if (cambio < 0) continue;
    auto [sitio, nuevo] = restos.emplace(raiz, cambio);
    if (!nuevo) sitio->second = std::max(sitio->second, cambio);
  }
  closedir(directorio);
  return restos;
}

static void Caducar(AlmacenFicheros &almacen, const Resto &resto, int64_t edad, FILE *salida) {
  BorrarRastros(resto.raiz);
  InformarDeResto(almacen, resto, edad, salida);
}

// A file in progress that no sender has added to for the time asked is a leftover in the making.
static void CaducarEnCurso(AlmacenFicheros &almacen, int64_t ahora, FILE *salida) {
  for (std::size_t i = almacen.en_curso.size(); i-- > 0;) {
    const FicheroEnCurso &f = almacen.en_curso[i];
    int64_t edad = std::max<int64_t>(0, ahora - f.progreso_s);
    if (edad < almacen.opciones.caducar_s) continue;
    InformarDeResto(almacen, Resto{f.raiz, Recibidas(f.partes), f.disposicion.totpartes, 0}, edad,
                    salida);
    DescartarFichero(almacen, i);
  }
}

void RepasarRestos(AlmacenFicheros &almacen, int64_t ahora_ms, FILE *salida) {
  almacen.ultimo_repaso_ms = ahora_ms;
  almacen.restos.clear();
  int64_t ahora = AhoraRealS();
  if (almacen.opciones.caducar_s > 0) CaducarEnCurso(almacen, ahora, salida);
  for (const auto &[raiz, cambio] : BuscarRestos(almacen)) {
    Resto resto{raiz, 0, 0, cambio};
    // the age is the time without a new part, which a record keeps across stops
    int64_t progreso = 0;
    if (ContarPartesDelRegistro(raiz, resto.partes, resto.total, progreso) && progreso > 0)
      resto.cambio = progreso;
    int64_t edad = std::max<int64_t>(0, ahora - resto.cambio);
    if (almacen.opciones.caducar_s > 0 && edad >= almacen.opciones.caducar_s) {
      Caducar(almacen, resto, edad, salida);
    } else {
      almacen.restos.push_back(resto);
    }
  }
}

void RepasarRestosSiToca(AlmacenFicheros &almacen, int64_t ahora_ms, FILE *salida) {
  // a short time to age out is kept within half of itself
  int64_t caducar_ms = almacen.opciones.caducar_s * 1000;
  int64_t intervalo =
      caducar_ms > 0 ? std::clamp<int64_t>(caducar_ms / 2, 1000, kMsEntreRepasos) : kMsEntreRepasos;
  if (ahora_ms - almacen.ultimo_repaso_ms >= intervalo)
    RepasarRestos(almacen, ahora_ms, salida);
}

/// Stored identities whose leftovers were removed, remembered so that each is removed once.
static constexpr std::size_t kMaxLimpiados = 64;

// The leftovers under raiz go, once among the last few, unless a file in progress has those
// names or, with new versions taken, they are a new version that an earlier run left with its
// record: it resumes when that version comes again.
static void LimpiarRaiz(AlmacenFicheros &almacen, const std::string &raiz) {
  std::vector<std::string> &limpiados = almacen.limpiados;
  if (BuscarPorRaiz(almacen, raiz) >= 0 ||
      std::find(limpiados.begin(), limpiados.end(), raiz) != limpiados.end())
    return;
  if (almacen.opciones.actualizar && access(NombreTemporal(raiz).c_str(), F_OK) == 0 &&
      access(NombreRegistro(raiz).c_str(), F_OK) == 0)
    return;
  BorrarRastros(raiz);
  OlvidarResto(almacen, raiz);
  if (limpiados.size() == kMaxLimpiados) limpiados.erase(limpiados.begin());
  limpiados.push_back(raiz);
}

void LimpiarRestos(AlmacenFicheros &almacen, const std::string &identidad,
                   const sockaddr_storage *origen) {
  if (BuscarDe(almacen, identidad, nullptr) < 0) LimpiarRaiz(almacen, identidad);
  if (SeDistinguen(almacen, identidad, origen))
    LimpiarRaiz(almacen, RaizDeVersion(identidad, TextoDeDireccion(*origen)));
}
