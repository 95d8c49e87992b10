#include "fallo.h"

#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

void Rechazar(const char *formato, ...) {
  va_list argumentos;
  va_start(argumentos, formato);
  vfprintf(stderr, formato, argumentos);
  va_end(argumentos);
  exit(kSalidaError);
}

static volatile sig_atomic_t g_parar = 0;

static void AlRecibirSenal(int) {
  g_parar = 1;
}

// No SA_RESTART, so that a sleep ends at once. Every signal only asks again: `timeout` and a
// terminal may send two at once, and the second must not cut the summary short.
void InstalarSenales() {
  struct sigaction accion = {};
  accion.sa_handler = AlRecibirSenal;
  sigemptyset(&accion.sa_mask);
  sigaction(SIGINT, &accion, nullptr);
  sigaction(SIGTERM, &accion, nullptr);
}

bool ParadaPedida() {
  return g_parar != 0;
}
