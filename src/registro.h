// Records of files in progress, so that a later run resumes them: written at every end and every
// few seconds, each tied to the one temporary file it describes.
#ifndef REGISTRO_H
#define REGISTRO_H

#include <cstdio>
#include <string>

#include "ficheros.h"
#include "nombres.h"

/// Removes the record of the file whose names derive from raiz (its identity, or a version's
/// RaizDeVersion), if there is one.
void BorrarRegistro(const std::string &raiz);

/// Removes everything kept on disk for the file whose names derive from raiz: its temporary file,
/// its record, and the side copies of both that a run cut short leaves.
void BorrarRastros(const std::string &raiz);

/// Saves the record of a file whose temporary file is already synced to disk: the parts on disk,
/// the part size, and what tells its temporary file from any other (device, inode, birth time,
/// length). The parts synced since the last save are added to the record this run wrote, in a
/// line synced before the call returns; the whole record is replaced atomically instead when
/// there is none, when it no longer holds (a part on disk went missing, a new temporary file),
/// or when what was added outgrows it. A failure is reported (once while it repeats) and leaves
/// no record; returns whether it was written.
bool EscribirRegistro(const AlmacenFicheros &almacen, FicheroEnCurso &fichero, FILE *salida);

/// Reads the record of fichero (by its raiz) and, when it describes the temporary file open at
/// temporal (the same file, not one created again since, with the same count, and, when
/// versions are told apart, of the same sender or of none), takes its parts into fichero;
/// returns whether it did.
bool LeerRegistro(FicheroEnCurso &fichero, int temporal);

/// The parts on disk, the part count, and when a new part came last (0 when it does not say)
/// that the record of the file whose names derive from raiz tells, whatever temporary file it
/// describes; false, leaving them alone, when there is no whole record.
bool ContarPartesDelRegistro(const std::string &raiz, int32_t &partes, int32_t &total,
                             int64_t &progreso);

/// The sender whose version the record of the file that went by that name describes; "" when
/// there is none, or it was written without telling senders apart.
std::string EmisorDelRegistro(const std::string &raiz);

#endif
