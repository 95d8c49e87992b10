// The clocks: the monotonic one, for every delay and interval, and the wall clock, for what is
// shown or kept across runs. Shared by the receiver, the sender and the check.
#ifndef RELOJ_H
#define RELOJ_H

#include <cstdint>

/// Nanoseconds on the monotonic clock.
int64_t AhoraNs();

/// Milliseconds on the monotonic clock.
int64_t AhoraMs();

/// Milliseconds since the epoch, on the wall clock.
int64_t AhoraRealMs();

/// Seconds since the epoch, on the wall clock.
int64_t AhoraRealS();

#endif
