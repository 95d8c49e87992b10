#include "entregas.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "fatal.h"
#include "formato.h"
#include "nombres.h"

bool AnotarEntrega(const std::string &identidad) {
  // a link planted under the name is never followed
  int fd = open(NombreEntrega(identidad).c_str(),
                O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool HayEntrega(const std::string &identidad) {
  return faccessat(AT_FDCWD, NombreEntrega(identidad).c_str(), F_OK, AT_SYMLINK_NOFOLLOW) == 0;
}

void BorrarEntrega(const std::string &identidad) {
  unlink(NombreEntrega(identidad).c_str());
}

// The identity a mark names, or "" when the name is no mark of a file this receiver stores.
static std::string IdentidadDeMarca(std::string_view nombre) {
  return IdentidadEntre(nombre, ".", kSufijoEntrega);
}

std::vector<std::string> EntregasPendientes() {
  std::vector<std::string> identidades;
  DIR *directorio = opendir(".");
  if (directorio == nullptr) DieWithError("Error al leer el directorio de trabajo");
  while (const dirent *entrada = readdir(directorio)) {
    std::string identidad = IdentidadDeMarca(entrada->d_name);
    if (!identidad.empty()) identidades.push_back(identidad);
  }
  closedir(directorio);
  std::sort(identidades.begin(), identidades.end());
  return identidades;
}
