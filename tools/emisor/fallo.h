// The sender's ways of ending: at once on an error, or in order when a signal asks.
#ifndef EMISOR_FALLO_H
#define EMISOR_FALLO_H

/// Exit statuses of the sender.
inline constexpr int kSalidaBien = 0;
inline constexpr int kSalidaError = 1;

/// Writes the message on standard error and ends with kSalidaError: before the send starts, or
/// after its summary line. While it goes on, messages give way to the progress line instead.
[[noreturn]] void Rechazar(const char *formato, ...) __attribute__((format(printf, 1, 2)));

/// SIGINT and SIGTERM ask the send to stop after the datagram in progress, however many come.
void InstalarSenales();

/// Whether a signal has asked the send to stop.
bool ParadaPedida();

#endif
