// The table of files in progress: starting, resuming, dropping and completing a file.
#ifndef EN_CURSO_H
#define EN_CURSO_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "ficheros.h"
#include "formato.h"

/// Whether versions of the file from different senders are told apart: asked (-f N or -a),
/// the sender known, and the identity short enough to be named with the sender.
bool SeDistinguen(const AlmacenFicheros &almacen, const std::string &identidad,
                  const sockaddr_storage *origen);

/// The datagram's file of this identity in progress: with versions told apart, the one of its
/// sender origen (nullptr: of any sender); or -1.
int BuscarDe(const AlmacenFicheros &almacen, const std::string &identidad,
             const sockaddr_storage *origen);

/// The file in progress whose names on disk derive from raiz, or -1.
int BuscarPorRaiz(const AlmacenFicheros &almacen, const std::string &raiz);

/// The last part goes missing again, whether written or kept in memory, to be taken when it
/// comes next.
void EsperarUltimaOtraVez(FicheroEnCurso &fichero);

/// On a full disk, of two versions of one file in progress, the one whose writes found it full
/// gives way to the other, said on a line before its drop: two versions that share a full disk
/// would otherwise keep it full for each other and every other file, for ever.
void CederSitio(AlmacenFicheros &almacen, FILE *salida);

/// A leftover taken up again, or removed, is no leftover any more: the status file lists it no
/// longer.
void OlvidarResto(AlmacenFicheros &almacen, const std::string &raiz);

/// The file leaves the table, its temporary file closed: complete, or going.
void QuitarFichero(AlmacenFicheros &almacen, std::size_t cual);

/// The file goes, its progress with it (temporary file, record and side copies); what its writes
/// failed to store is told first, and, with several files at once or quiet, the drop itself.
void AbandonarFichero(AlmacenFicheros &almacen, std::size_t cual, FILE *salida);

/// Drops a file whose sender changed it: its temporary file and record go, unwritten parts
/// with them, and nothing more is said about it.
void DescartarFichero(AlmacenFicheros &almacen, std::size_t cual);

#endif
