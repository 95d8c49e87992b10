// The sender's one way of ending on an error.
#ifndef EMISOR_FALLO_H
#define EMISOR_FALLO_H

/// Exit statuses of the sender.
inline constexpr int kSalidaBien = 0;
inline constexpr int kSalidaError = 1;

/// Writes the message on standard error, on a line of its own, and ends with kSalidaError.
[[noreturn]] void Rechazar(const char *formato, ...) __attribute__((format(printf, 1, 2)));

/// Tells Rechazar whether a progress line is drawn and not yet ended.
void AnotarLineaAbierta(bool abierta);

#endif
