// The sender's help: what --help prints.
#ifndef USO_H
#define USO_H

/// The usage, each option and what it does, on standard output.
void MostrarAyuda();

#endif
