#include "fatal.h"

#include <cstdio>
#include <cstdlib>

void DieWithError(const char *mensaje) {
  perror(mensaje);
  exit(kSalidaFatal);
}
