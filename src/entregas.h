// Hand-offs to the program run on completed files that have not happened yet: a mark on disk
// for each, made before its file is announced complete and removed once its program has run,
// so that no end of the receiver, however it comes, loses one.
#ifndef ENTREGAS_H
#define ENTREGAS_H

#include <string>
#include <vector>

/// Leaves the mark of a pending hand-off of the file of that identity, in the working
/// directory: a dot, the identity and ".pendiente". Returns false, with errno, when it cannot.
bool AnotarEntrega(const std::string &identidad);

/// Whether a mark of that identity waits.
bool HayEntrega(const std::string &identidad);

/// Removes the mark of that identity, if there is one.
void BorrarEntrega(const std::string &identidad);

/// The identities whose hand-off is pending in the working directory, in name order. Ends the
/// process through DieWithError when the directory cannot be read.
std::vector<std::string> EntregasPendientes();

#endif
