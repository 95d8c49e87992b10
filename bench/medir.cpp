// Runs a receiver as its child, ends it with SIGTERM when told (SIGUSR1) or after a time limit,
// and writes the child's own CPU time and peak memory, as wait4 reports them, to a file.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

static constexpr int kGraciaSegundos = 5;  // after SIGTERM, before SIGKILL

static void Uso(const char *programa) {
  fprintf(stderr, "Uso: %s <resultado> <segundos> -- <programa> [argumentos...]\n", programa);
  exit(2);
}

// Signals are taken by sigtimedwait, never by a handler: blocked before the fork, unblocked in
// the child before exec.
static sigset_t SenalesEsperadas() {
  sigset_t senales;
  sigemptyset(&senales);
  sigaddset(&senales, SIGUSR1);
  sigaddset(&senales, SIGTERM);
  sigaddset(&senales, SIGINT);
  sigaddset(&senales, SIGCHLD);
  return senales;
}

static pid_t Lanzar(char **argv, const sigset_t &anteriores) {
  pid_t hijo = fork();
  if (hijo < 0) {
    perror("fork");
    exit(1);
  }
  if (hijo == 0) {
    sigprocmask(SIG_SETMASK, &anteriores, nullptr);
    execvp(argv[0], argv);
    perror(argv[0]);
    _exit(127);
  }
  return hijo;
}

// Returns the signal that arrived, or 0 when the time ran out.
static int Esperar(const sigset_t &senales, int segundos) {
  timespec limite = {segundos, 0};
  for (;;) {
    int senal = sigtimedwait(&senales, nullptr, &limite);
    if (senal > 0) return senal;
    if (errno == EAGAIN) return 0;
    // EINTR: a signal outside the set; the remaining time is not tracked, which only lengthens
    // an already generous limit
  }
}

static pid_t Recoger(pid_t hijo, int &estado, rusage &uso, int opciones) {
  for (;;) {
    pid_t r = wait4(hijo, &estado, opciones, &uso);
    if (r >= 0 || errno != EINTR) return r;
  }
}

static void Terminar(pid_t hijo, const sigset_t &senales, int &estado, rusage &uso) {
  kill(hijo, SIGTERM);
  timespec inicio;
  clock_gettime(CLOCK_MONOTONIC, &inicio);
  while (Recoger(hijo, estado, uso, WNOHANG) == 0) {
    timespec ahora;
    clock_gettime(CLOCK_MONOTONIC, &ahora);
    if (ahora.tv_sec - inicio.tv_sec >= kGraciaSegundos) {
      kill(hijo, SIGKILL);
      Recoger(hijo, estado, uso, 0);
      return;
    }
    Esperar(senales, 1);
  }
}

static double Segundos(const timeval &t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

static void Escribir(const char *ruta, int estado, const rusage &uso, bool por_tiempo) {
  FILE *resultado = fopen(ruta, "w");
  if (resultado == nullptr) {
    perror(ruta);
    exit(1);
  }
  double usuario = Segundos(uso.ru_utime);
  double sistema = Segundos(uso.ru_stime);
  int codigo = WIFEXITED(estado) ? WEXITSTATUS(estado) : 128 + WTERMSIG(estado);
  fprintf(resultado,
          "cpu_s=%.6f usuario_s=%.6f sistema_s=%.6f rss_kib=%ld esperas=%ld expulsiones=%ld "
          "estado=%d%s\n",
          usuario + sistema, usuario, sistema, uso.ru_maxrss, uso.ru_nvcsw, uso.ru_nivcsw, codigo,
          por_tiempo ? " fuera_de_tiempo=1" : "");
  fclose(resultado);
}

int main(int argc, char **argv) {
  if (argc < 5 || strcmp(argv[3], "--") != 0) Uso(argv[0]);
  int segundos = atoi(argv[2]);
  if (segundos <= 0) Uso(argv[0]);
  sigset_t senales = SenalesEsperadas();
  sigset_t anteriores;
  sigprocmask(SIG_BLOCK, &senales, &anteriores);
  pid_t hijo = Lanzar(argv + 4, anteriores);

  int senal = Esperar(senales, segundos);
  int estado = 0;
  rusage uso = {};
  if (senal == SIGCHLD)
    Recoger(hijo, estado, uso, 0);
  else
    Terminar(hijo, senales, estado, uso);
  Escribir(argv[1], estado, uso, senal == 0);
  return 0;
}
