#include "ritmo.h"

#include <algorithm>
#include <cmath>

// Far enough to never be reached, near enough that adding the origin cannot overflow.
static constexpr long double kNuncaNs = 1e18L;

int64_t EsperaHastaTurno(Ritmo &ritmo, int64_t ahora) {
  if (ritmo.por_segundo <= 0) return 0;
  long double ns = static_cast<long double>(ritmo.unidades) * 1e9L / ritmo.por_segundo;
  int64_t debido = ritmo.origen + static_cast<int64_t>(std::min(ns, kNuncaNs));
  if (debido > ahora) return debido - ahora;
  if (ahora - debido > kMaxRetrasoNs) ritmo.origen += ahora - debido - kMaxRetrasoNs;
  // the catch-up pace owes nothing older than one burst: in step, a burst is always allowed
  long double rafaga = ahora - kRafagaNs / kVecesAlRecuperar;
  ritmo.pico = std::max(ritmo.pico, rafaga);
  if (ritmo.pico <= ahora) return 0;
  // once a burst has gone, the next one waits until it may go whole: a wake-up per datagram
  // would leave each at the mercy of a busy scheduler
  return static_cast<int64_t>(std::ceil(ritmo.pico - rafaga));
}

void ContarDatagrama(Ritmo &ritmo, std::size_t bytes) {
  uint64_t unidades = ritmo.en_bits ? 8 * bytes : 1;
  ritmo.unidades += unidades;
  if (ritmo.por_segundo > 0)
    ritmo.pico += unidades * 1e9L / (kVecesAlRecuperar * ritmo.por_segundo);
}
