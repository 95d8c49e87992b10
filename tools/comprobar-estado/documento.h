// The receiver's status file as the check reads it: the JSON that client -e writes, in its
// fixed shape, parsed into plain figures.
#ifndef COMPROBAR_DOCUMENTO_H
#define COMPROBAR_DOCUMENTO_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

/// A file named in "en_curso" or "restos".
struct FicheroNombrado {
  std::string fichero;  // its identity, as the receiver names it
  int64_t partes = 0;   // parts on disk
  int64_t total = 0;    // parts of the whole file
};

/// What a status file says.
struct Documento {
  int64_t inicio = 0;                     // receiver's start, seconds since the epoch
  int64_t pid = 0;                        // receiver's process
  int64_t actualizado = 0;                // when the receiver wrote it, seconds since the epoch
  bool unido = false;                     // whether the group is joined
  int64_t ultimo_datagrama = -1;          // last datagram, seconds since the epoch; -1 none yet
  int64_t datagramas = 0;                 // datagrams taken since the start
  int64_t descartados = 0;                // datagrams the kernel dropped since the start
  int64_t completados = 0;                // files completed since the start
  std::vector<FicheroNombrado> en_curso;  // files in progress
  std::vector<FicheroNombrado> restos;    // leftovers of files no longer in progress; absent: none
};

/// Reads texto, the whole content of a status file, into documento. Fields it does not know are
/// skipped; a missing field, a value of another type, or bytes that are not JSON make it return
/// false with the problem in error ("falta el campo \"unido\"").
bool LeerDocumento(std::string_view texto, Documento &documento, std::string &error);

#endif
