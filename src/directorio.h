// The working directory of mode 2, which one receiver owns while it runs.
#ifndef DIRECTORIO_H
#define DIRECTORIO_H

#include <string>

/// Makes the directory given the working directory, where files are rebuilt. One that does not
/// exist, is not a directory or cannot be written is named on standard error in one line, and
/// ends the process with kSalidaFatal.
void EntrarEnDirectorio(const char *directorio);

/// Takes the working directory for this receiver alone, with a lock that the kernel drops when
/// the process ends, however it ends. When another receiver holds it, says so in one line on
/// standard error and ends the process with kSalidaFatal. Returns the directory, held open.
int ReservarDirectorio();

/// The working directory, absolute. Ends the process through DieWithError when it cannot be
/// read.
std::string DirectorioDeTrabajo();

/// Syncs the directory, so that a rename in it survives a loss of power; -1 does nothing.
/// Returns false, with errno, when the sync fails.
bool SincronizarDirectorio(int directorio);

#endif
