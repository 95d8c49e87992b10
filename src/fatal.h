// Exit statuses and the one fatal-error routine.
#ifndef FATAL_H
#define FATAL_H

/// Exit statuses of the program: it has no other way of ending by itself.
enum EstadoSalida {
  kSalidaUso = 1,        // too few arguments
  kSalidaFatal = 1,      // a failed system call
  kSalidaMaxTrozos = 2,  // a file announced with more parts than the receiver holds
};

/// Reports a failed system call as "mensaje: <system error>" on standard error and ends the
/// process with kSalidaFatal; standard output is flushed on the way out.
[[noreturn]] void DieWithError(const char *mensaje);

#endif
