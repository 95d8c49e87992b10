#include "ritmo.h"

#include <algorithm>
#include <cmath>

// Far enough to never be reached, near enough that adding the origin cannot overflow.
static constexpr long double kNuncaNs = 1e18L;

int64_t EsperaHastaTurno(Ritmo &ritmo, int64_t ahora) {
  if (ritmo.por_segundo <= 0) return 0;
  long double ns = static_cast<long double>(ritmo.unidades) * 1e9L / ritmo.por_segundo;
  int64_t debido = ritmo.origen + static_cast<int64_t>(std::min(ns, kNuncaNs));
  if (debido > ahora) {
    ritmo.rafaga = 0;  // a wait ends the burst
    return debido - ahora;
  }
  if (ahora - debido > kMaxRetrasoNs) ritmo.origen += ahora - debido - kMaxRetrasoNs;
  if (ritmo.rafaga > 0) return 0;
  // a burst is counted, not timed, so that a slow send cannot stretch it; the next one waits
  // until the last has been paid for at the catch-up pace
  if (ritmo.pico > ahora) return static_cast<int64_t>(std::ceil(ritmo.pico - ahora));
  ritmo.pico = ahora;
  ritmo.rafaga = ritmo.por_segundo * kRafagaNs / 1e9;
  return 0;
}

void ContarDatagrama(Ritmo &ritmo, std::size_t bytes) {
  uint64_t unidades = ritmo.en_bits ? 8 * bytes : 1;
  ritmo.unidades += unidades;
  ritmo.rafaga -= static_cast<double>(unidades);
  if (ritmo.por_segundo > 0)
    ritmo.pico += unidades * 1e9L / (kVecesAlRecuperar * ritmo.por_segundo);
}
