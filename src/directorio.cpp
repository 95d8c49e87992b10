#include "directorio.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fatal.h"
#include "salida.h"

void EntrarEnDirectorio(const char *directorio) {
  struct stat datos;
  int error = stat(directorio, &datos) != 0 ? errno : !S_ISDIR(datos.st_mode) ? ENOTDIR : 0;
  if (error == 0 && access(directorio, W_OK | X_OK) != 0) error = errno;
  if (error == 0 && chdir(directorio) != 0) error = errno;
  if (error == 0) return;
  fprintf(stderr, "%sNo se pueden guardar ficheros en el directorio %s: %s\n",
          Prefijo(stderr, Prioridad::kError), directorio,
          strerror(error));
  exit(kSalidaFatal);
}

int ReservarDirectorio() {
  // the directory itself is locked: no file of the lock to leave behind
  int directorio = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directorio < 0) DieWithError("Error al abrir el directorio de trabajo");
  if (flock(directorio, LOCK_EX | LOCK_NB) == 0) return directorio;
  if (errno != EWOULDBLOCK) DieWithError("Error al reservar el directorio de trabajo");
  fprintf(stderr, "%sOtro receptor ya almacena ficheros en este directorio.\n",
          Prefijo(stderr, Prioridad::kError));
  exit(kSalidaFatal);
}

std::string DirectorioDeTrabajo() {
  char *actual = getcwd(nullptr, 0);
  if (actual == nullptr) DieWithError("Error al leer el directorio de trabajo");
  std::string texto = actual;
  free(actual);
  return texto;
}

bool SincronizarDirectorio(int directorio) {
  return directorio < 0 || fsync(directorio) == 0;
}
