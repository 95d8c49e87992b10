// The pace: when the next datagram may leave, as a plain schedule over a count of units. It
// never reads the clock itself; the caller tells it the time.
#ifndef EMISOR_RITMO_H
#define EMISOR_RITMO_H

#include <cstddef>
#include <cstdint>

/// Behind schedule (a stall, a slow disk, a full queue), the sender catches up what it owes for
/// the last second at most, so that the rate asked for holds as an average over each second;
/// a lag older than that is forgotten.
inline constexpr int64_t kMaxRetrasoNs = 1000000000;
/// Catching up goes in bursts of at most this much of the rate's worth of datagrams...
inline constexpr int64_t kRafagaNs = 1000000;
/// ...and at most at this many times the rate asked for.
inline constexpr int kVecesAlRecuperar = 2;

/// The schedule of one run.
struct Ritmo {
  double por_segundo = 0;  // units allowed per second; 0: no limit
  bool en_bits = true;     // units are bits of datagram, otherwise datagrams
  int64_t origen = 0;      // ns when the schedule counted 0 units
  uint64_t unidades = 0;   // units counted so far
  long double pico = 0;    // ns from which a new burst may start, at the catch-up pace
  double rafaga = 0;       // units the burst in progress may still send; none left at 0
};

/// Nanoseconds to wait, at the time ahora, before the next datagram may leave; 0 when it may
/// leave now. What is due by now leaves at once, in a burst of at most kRafagaNs worth; when
/// further behind, the rest follows in such bursts at kVecesAlRecuperar times the rate. When
/// more than kMaxRetrasoNs behind, moves the origin so that only that lag is owed.
int64_t EsperaHastaTurno(Ritmo &ritmo, int64_t ahora);

/// Counts a datagram of bytes bytes against the schedule.
void ContarDatagrama(Ritmo &ritmo, std::size_t bytes);

#endif
