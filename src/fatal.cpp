#include "fatal.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "salida.h"

void DieWithError(const char *mensaje) {
  int error = errno;
  // what was printed before comes before the message, also when both go to one file
  fflush(stdout);
  fprintf(stderr, "%s%s: %s\n", Prefijo(stderr, Prioridad::kError), mensaje, strerror(error));
  exit(kSalidaFatal);
}
