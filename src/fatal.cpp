#include "fatal.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

void DieWithError(const char *mensaje) {
  int error = errno;
  // what was printed before comes before the message, also when both go to one file
  fflush(stdout);
  errno = error;
  perror(mensaje);
  exit(kSalidaFatal);
}
