// The receiver's own texts about its command line: the usage that every wrong invocation prints,
// as it always has, and the help of --help.
#ifndef AYUDA_H
#define AYUDA_H

/// The usage, with the program's name, on standard error.
void MostrarUso(const char *programa);

/// The help that --help prints: the usage, each option, and what each does.
extern const char kAyuda[];

#endif
