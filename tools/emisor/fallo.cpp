#include "fallo.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

// The progress line has no newline until it ends; a message must not be glued to it.
static bool linea_abierta = false;

void AnotarLineaAbierta(bool abierta) {
  linea_abierta = abierta;
}

void Rechazar(const char *formato, ...) {
  if (linea_abierta) fputc('\n', stderr);
  va_list argumentos;
  va_start(argumentos, formato);
  vfprintf(stderr, formato, argumentos);
  va_end(argumentos);
  exit(kSalidaError);
}
