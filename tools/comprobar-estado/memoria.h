// What the check keeps between two runs: the kernel drops it saw, and of which receiver.
#ifndef COMPROBAR_MEMORIA_H
#define COMPROBAR_MEMORIA_H

#include <cstdint>
#include <string>

#include "documento.h"

/// Reads from the file at ruta the drops that the last check saw, and replaces it, at once, with
/// those of documento. The drops of a receiver that has started since (another start time or
/// process) count from 0; with no file yet, none are new. Returns the drops to count from, or -1
/// with the problem in error when the file cannot be read or written.
int64_t RecordarDescartes(const char *ruta, const Documento &documento, std::string &error);

#endif
