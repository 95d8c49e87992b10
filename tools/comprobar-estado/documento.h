// The receiver's status file as the check reads it: the JSON that client -e writes, in its
// fixed shape, parsed into plain figures.
#ifndef COMPROBAR_DOCUMENTO_H
#define COMPROBAR_DOCUMENTO_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

/// A file's failure that persists: a part it cannot write, sync or save.
struct Fallo {
  std::string texto;  // the error, as the receiver told it
  int64_t desde = 0;  // since when, seconds since the epoch
};

/// A file named in "en_curso" or "restos".
struct FicheroNombrado {
  std::string fichero;         // its identity, as the receiver names it
  std::string emisor;          // the sender of a version told apart by it; empty otherwise
  int64_t partes = 0;          // parts on disk
  int64_t total = 0;           // parts of the whole file
  int64_t edad_s = 0;          // seconds since its last new part, or a leftover's last change
  std::optional<Fallo> error;  // its current failure; none while it saves (or absent)
};

/// What a status file says. The fields that older receivers do not write read as all is well.
struct Documento {
  int64_t inicio = 0;                     // receiver's start, seconds since the epoch
  int64_t pid = 0;                        // receiver's process
  int64_t actualizado = 0;                // when the receiver wrote it, seconds since the epoch
  bool unido = false;                     // whether the group is joined
  int64_t ultimo_datagrama = -1;          // last datagram, seconds since the epoch; -1 none yet
  int64_t datagramas = 0;                 // datagrams taken since the start
  int64_t descartados = 0;                // datagrams the kernel dropped since the start
  int64_t completados = 0;                // files completed since the start
  int64_t fallos = 0;                     // failures to write, sync or save since the start
  bool directorio_escribible = true;      // the receiving directory can be written, with room
  int64_t rechazados = 0;                 // datagrams refused since the start
  int64_t avisos_sin_decir = 0;           // log lines left untold by the log's rate limit
  std::vector<FicheroNombrado> en_curso;  // files in progress
  std::vector<FicheroNombrado> restos;    // leftovers of files no longer in progress; absent: none
};

/// Reads texto, the whole content of a status file, into documento. Fields it does not know are
/// skipped, and the newer fields may be absent; a missing older field, a value of another type,
/// or bytes that are not JSON make it return false with the problem in error ("falta el campo
/// \"unido\"", "JSON no valido en el byte 9").
bool LeerDocumento(std::string_view texto, Documento &documento, std::string &error);

#endif
