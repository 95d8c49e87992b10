// Records of files in progress, written at an orderly end so that a later run resumes them.
#ifndef REGISTRO_H
#define REGISTRO_H

#include <string>

#include "almacen.h"

/// Name of the record of a file: a dot, its identity and ".partes". The dot keeps it apart from
/// every identity, temporary name and other record.
std::string NombreRegistro(const std::string &identidad);

/// Writes the record of a file whose temporary file is already synced to disk: the parts written,
/// the part size and the temporary file's length. A part placed where it does not belong yet is
/// left out. A failure is reported on standard error and leaves no record.
void EscribirRegistro(const FicheroEnCurso &fichero);

/// Reads the record of fichero.old_nombre and, when it matches the temporary file open at
/// temporal (same count, same length), takes its parts into fichero; returns whether it did.
bool LeerRegistro(FicheroEnCurso &fichero, int temporal);

#endif
