// The signals that end the receiver: caught, so that the loop ends it in order.
#ifndef SENALES_H
#define SENALES_H

/// Catches SIGINT, SIGTERM, SIGHUP and SIGPIPE (standard output closed), so that the loop ends
/// the receiver in order; writes in progress go on, a receive in progress returns at once. A
/// signal ignored by whoever started the receiver stays ignored. Ignores SIGXFSZ, so that a write
/// past the file size limit fails like any other.
void InstalarSenales();

/// Makes the end of a child interrupt the receive, so that the loop reaps it and starts the
/// next at once instead of at the receive's time-out.
void DespertarAlTerminarHijos();

/// The signal that asked the receiver to end, 0 while none has.
int SenalDeFin();

/// Ends the process as the signal ends it, with its default action.
[[noreturn]] void TerminarComoLaSenal(int senal);

#endif
