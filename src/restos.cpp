#include "restos.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <map>
#include <string>
#include <string_view>

#include "en_curso.h"
#include "formato.h"
#include "informes.h"
#include "registro.h"

// The identity whose temporary file or record the name is; "" for any other name, which is
// no receiver's.
static std::string IdentidadDeResto(std::string_view nombre) {
  std::string identidad = IdentidadEntre(nombre, "", kSufijoTemporal);
  if (identidad.empty()) identidad = IdentidadEntre(nombre, ".", kSufijoRegistro);
  return TieneFormaDeIdentidad(identidad) ? identidad : "";
}

// When a plain file last changed, seconds since the epoch; -1 when it is no plain file.
static int64_t UltimoCambio(const std::string &nombre) {
  struct stat datos;
  if (lstat(nombre.c_str(), &datos) != 0 || !S_ISREG(datos.st_mode)) return -1;
  return static_cast<int64_t>(datos.st_mtime);
}

// Each leftover identity, with its latest change, in name order.
static std::map<std::string, int64_t> BuscarRestos(const AlmacenFicheros &almacen) {
  std::map<std::string, int64_t> restos;
  DIR *directorio = opendir(".");
  if (directorio == nullptr) return restos;
  while (const dirent *entrada = readdir(directorio)) {
    std::string identidad = IdentidadDeResto(entrada->d_name);
    if (identidad.empty() || BuscarPorApodo(almacen, identidad) >= 0) continue;
    int64_t cambio = UltimoCambio(entrada->d_name);
    if (cambio < 0) continue;
    auto [sitio, nuevo] = restos.emplace(identidad, cambio);
    if (!nuevo) sitio->second = std::max(sitio->second, cambio);
  }
  closedir(directorio);
  return restos;
}

static void Caducar(AlmacenFicheros &almacen, const Resto &resto, int64_t edad, FILE *salida) {
  unlink(NombreTemporal(resto.identidad).c_str());
  BorrarRegistro(resto.identidad);
  InformarDeResto(almacen, resto, edad, salida);
}

void RepasarRestos(AlmacenFicheros &almacen, int64_t ahora_ms, FILE *salida) {
  almacen.ultimo_repaso_ms = ahora_ms;
  almacen.restos.clear();
  int64_t ahora = static_cast<int64_t>(time(nullptr));
  for (const auto &[identidad, cambio] : BuscarRestos(almacen)) {
    Resto resto{identidad, 0, 0, cambio};
    ContarPartesDelRegistro(identidad, resto.partes, resto.total);
    int64_t edad = std::max<int64_t>(0, ahora - cambio);
    if (almacen.opciones.caducar_s > 0 && edad >= almacen.opciones.caducar_s) {
      Caducar(almacen, resto, edad, salida);
    } else {
      almacen.restos.push_back(resto);
    }
  }
}

void RepasarRestosSiToca(AlmacenFicheros &almacen, int64_t ahora_ms, FILE *salida) {
  if (ahora_ms - almacen.ultimo_repaso_ms >= kMsEntreRepasos)
    RepasarRestos(almacen, ahora_ms, salida);
}
