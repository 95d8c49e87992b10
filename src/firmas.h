// The part digests that signed descriptions brought, by file, in a bounded table, and the one
// check of a part against them. Only descriptions whose signature was verified enter it, so
// that what anyone else sends never takes room in it.
#ifndef FIRMAS_H
#define FIRMAS_H

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "claves.h"
#include "lateral.h"

/// Most files described at once, and most digest bytes in all (one file of the most parts a
/// description may have); past either, the file described longest ago goes.
inline constexpr std::size_t kMaxFicherosFirmados = 4096;
inline constexpr std::size_t kMaxBytesDeResumenes =
    static_cast<std::size_t>(kMaxPartesDescritas) * kTamResumen;

/// What the signed descriptions of one version of a file have brought so far.
struct FicheroFirmado {
  int32_t totpartes = 0;  // the layout signed
  int32_t tamparte = 0;
  int64_t largo = 0;
  uint64_t sello = 0;                    // its sender's version; a lower one is an old replay
  uint64_t generacion = 0;               // this version's number in the table, never reused
  std::vector<unsigned char> resumenes;  // totpartes digests of kTamResumen bytes
  std::vector<bool> conocidos;           // which of them arrived
  int32_t cuantos = 0;                   // how many did
  uint64_t visto = 0;                    // when a datagram of it was last taken, in datagrams
};

/// The receiver's trusted keys and what they signed; one lives for the whole run.
struct TablaDeFirmas {
  std::vector<ClavePublica> claves;  // the keys of --clave; none: nothing is checked
  std::unordered_map<std::string, FicheroFirmado> ficheros;  // by identity
  std::size_t bytes = 0;                                     // digest bytes the table holds
  uint64_t reloj = 0;                                        // description datagrams taken
  uint64_t generaciones = 0;          // versions that entered, for their numbers
  uint64_t descripciones_falsas = 0;  // side-channel datagrams refused: an unknown key, a false
                                      // signature, or no description at all
  uint64_t partes_falsas = 0;         // parts refused by the store as not matching their digest
};

/// A part's verdict against the table.
enum class Firma : uint8_t {
  kCierta,          // its digest is signed: take it
  kFalsa,           // it contradicts what is signed (layout, length or digest): refuse it
  kSinDescripcion,  // nothing signed about it yet (no description, or not its range)
};

/// How a verified description datagram changed the table.
enum class Anotada {
  kNueva,    // a version not known before (the file's first, or a higher sello): it replaced
             // what the table held of the file
  kMas,      // more digests, or the same again, of the version held
  kAntigua,  // of a lower version than the one held, or of another layout under the same
             // version: left out
};

/// Which trusted key signed the description; nullptr when none did (its key unknown, or its
/// signature false).
const ClavePublica *ClaveQueFirma(const TablaDeFirmas &tabla, const Descripcion &d);

/// Whether the description would bring nothing: its version, layout and digests are all in
/// the table already. A carousel sends each one again every pass; such a one needs no check of
/// its signature, since it changes nothing whoever sent it.
bool YaAnotada(const TablaDeFirmas &tabla, const Descripcion &d);

/// Takes the digests of a verified description into the table under its identity, dropping the
/// file described longest ago when over a bound.
Anotada AnotarDescripcion(TablaDeFirmas &tabla, const Descripcion &d);

/// The part parte (counted from 0) of the file of that identity and count, with largo bytes of
/// content, checked against the signed digests.
Firma ComprobarParte(const TablaDeFirmas &tabla, const std::string &identidad, int32_t totpartes,
                     int32_t parte, const unsigned char *contenido, int32_t largo);

/// The status file's lines about the table: files described, descriptions and parts refused.
std::string CamposDeEstado(const TablaDeFirmas &tabla);

/// The number of the version of its description that the table holds for that identity; 0 when
/// none. A part checked (kCierta) under one number is checked under no other: the file was
/// signed anew, or its description forgotten and taken again.
uint64_t GeneracionDe(const TablaDeFirmas &tabla, const std::string &identidad);

/// Whether a file whose every part was taken as kCierta, the first under generacion, may
/// complete: the table still holds that version of its description.
bool TodasComprobadas(const TablaDeFirmas &tabla, const std::string &identidad,
                      uint64_t generacion);

/// What is signed of that identity; nullptr when nothing is.
const FicheroFirmado *BuscarFirmado(const TablaDeFirmas &tabla, const std::string &identidad);

#endif
