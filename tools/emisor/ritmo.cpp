#include "ritmo.h"

#include <algorithm>

// Far enough to never be reached, near enough that adding the origin cannot overflow.
static constexpr long double kNuncaNs = 1e18L;

int64_t EsperaHastaTurno(Ritmo &ritmo, int64_t ahora) {
  if (ritmo.por_segundo <= 0) return 0;
  long double ns = static_cast<long double>(ritmo.unidades) * 1e9L / ritmo.por_segundo;
  int64_t debido = ritmo.origen + static_cast<int64_t>(std::min(ns, kNuncaNs));
  if (debido > ahora) return debido - ahora;
  if (ahora - debido > kMaxRetrasoNs) ritmo.origen += ahora - debido;
  return 0;
}

void ContarDatagrama(Ritmo &ritmo, std::size_t bytes) {
  ritmo.unidades += ritmo.en_bits ? 8 * bytes : 1;
}
