#include "reloj.h"

#include <ctime>

static int64_t Nanosegundos(clockid_t reloj) {
  timespec ahora;
  clock_gettime(reloj, &ahora);
  return static_cast<int64_t>(ahora.tv_sec) * 1'000'000'000 + ahora.tv_nsec;
}

int64_t AhoraNs() { return Nanosegundos(CLOCK_MONOTONIC); }

int64_t AhoraMs() { return AhoraNs() / 1'000'000; }

int64_t AhoraRealMs() { return Nanosegundos(CLOCK_REALTIME) / 1'000'000; }

int64_t AhoraRealS() { return AhoraRealMs() / 1000; }
