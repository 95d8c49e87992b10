#include "directorio.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "fatal.h"

int ReservarDirectorio() {
  // the directory itself is locked: no file of the lock to leave behind
  int directorio = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directorio < 0) DieWithError("Error al abrir el directorio de trabajo");
  if (flock(directorio, LOCK_EX | LOCK_NB) == 0) return directorio;
  if (errno != EWOULDBLOCK) DieWithError("Error al reservar el directorio de trabajo");
  fprintf(stderr, "Otro receptor ya almacena ficheros en este directorio.\n");
  exit(kSalidaFatal);
}

void SincronizarDirectorio(int directorio) {
  if (directorio >= 0) fsync(directorio);
}
