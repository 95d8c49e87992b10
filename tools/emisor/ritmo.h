// The pace: when the next datagram may leave, as a plain schedule over a count of units. It
// never reads the clock itself; the caller tells it the time.
#ifndef EMISOR_RITMO_H
#define EMISOR_RITMO_H

#include <cstddef>
#include <cstdint>

/// Behind schedule by more than this (a stall, a slow disk, a full queue), the schedule starts
/// afresh instead of catching up in one long burst that the receivers would drop.
inline constexpr int64_t kMaxRetrasoNs = 5000000;

/// The schedule of one run.
struct Ritmo {
  double por_segundo = 0;  // units allowed per second; 0: no limit
  bool en_bits = true;     // units are bits of datagram, otherwise datagrams
  int64_t origen = 0;      // ns when the schedule counted 0 units
  uint64_t unidades = 0;   // units counted so far
};

/// Nanoseconds to wait, at the time ahora, before the next datagram may leave; 0 when it may
/// leave now. Whatever is due by now leaves at once, so at high rates datagrams go in small
/// bursts between sleeps. When far behind, moves the origin so that the lag is forgotten.
int64_t EsperaHastaTurno(Ritmo &ritmo, int64_t ahora);

/// Counts a datagram of bytes bytes against the schedule.
void ContarDatagrama(Ritmo &ritmo, std::size_t bytes);

#endif
