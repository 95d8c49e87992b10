#include "senales.h"

#include <signal.h>
#include <unistd.h>

#include <initializer_list>

// Set by the handler; the loop acts on it, so that nothing is printed from the handler.
static volatile sig_atomic_t g_senal_de_fin = 0;

static void AlRecibirSenalDeFin(int senal) {
  g_senal_de_fin = senal;
}

void InstalarSenales() {
  struct sigaction accion = {};
  accion.sa_handler = AlRecibirSenalDeFin;
  // a write to a slow pipe goes on after the signal instead of failing and losing its lines;
  // the receive still returns at once, since the socket has a time-out
  accion.sa_flags = SA_RESTART;
  sigemptyset(&accion.sa_mask);
  for (int senal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    struct sigaction anterior;
    if (sigaction(senal, nullptr, &anterior) == 0 && anterior.sa_handler == SIG_IGN) continue;
    sigaction(senal, &accion, nullptr);
  }
  signal(SIGXFSZ, SIG_IGN);
}

// Nothing to do: the interrupted receive returns, and the loop looks at its children.
static void AlTerminarHijo(int) {}

void DespertarAlTerminarHijos() {
  struct sigaction accion = {};
  accion.sa_handler = AlTerminarHijo;
  accion.sa_flags = SA_RESTART | SA_NOCLDSTOP;
  sigemptyset(&accion.sa_mask);
  sigaction(SIGCHLD, &accion, nullptr);
}

int SenalDeFin() {
  return g_senal_de_fin;
}

void TerminarComoLaSenal(int senal) {
  signal(senal, SIG_DFL);
  raise(senal);
  _exit(128 + senal);
}
