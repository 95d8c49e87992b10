// The names a receiver gives what it keeps on disk beside a file's final name, which is its
// identity: every suffix, and the longest identity they leave room for.
#ifndef NOMBRES_H
#define NOMBRES_H

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

/// What ends a temporary file's name: a file whose name ends so would be another's temporary.
inline constexpr std::string_view kSufijoTemporal = ".tmp";
/// What ends a record of a file's parts, after a dot and the identity.
inline constexpr std::string_view kSufijoRegistro = ".partes";
/// What ends the mark of a pending hand-off, after a dot and the identity.
inline constexpr std::string_view kSufijoEntrega = ".pendiente";
/// What ends a file written aside and then renamed over the name before it.
inline constexpr std::string_view kSufijoNuevo = ".nuevo";

/// The longest name a directory takes.
inline constexpr std::size_t kMaxNombreEnDisco = 255;
/// Longest identity a receiver keeps: each name it derives from one must still be a valid file
/// name, the longest being a record while it is replaced.
inline constexpr std::size_t kMaxIdentidad =
    kMaxNombreEnDisco -
    std::max({1 + kSufijoRegistro.size() + kSufijoNuevo.size(),
              1 + kSufijoTemporal.size() + kSufijoNuevo.size(), 1 + kSufijoEntrega.size()});

/// The identity that a name on disk holds between prefijo and sufijo, "" when it holds none:
/// an identity never starts with a dot, nor ends as a temporary file, nor is longer than the
/// longest.
inline std::string IdentidadEntre(std::string_view nombre, std::string_view prefijo,
                                  std::string_view sufijo) {
  if (nombre.size() <= prefijo.size() + sufijo.size() || !nombre.starts_with(prefijo) ||
      !nombre.ends_with(sufijo))
    return "";
  std::string_view identidad =
      nombre.substr(prefijo.size(), nombre.size() - prefijo.size() - sufijo.size());
  if (identidad[0] == '.' || identidad.size() > kMaxIdentidad ||
      identidad.ends_with(kSufijoTemporal))
    return "";
  return std::string(identidad);
}

/// The temporary file in which the file of that identity is rebuilt.
inline std::string NombreTemporal(const std::string &identidad) {
  return identidad + std::string(kSufijoTemporal);
}

/// The record of its parts: a dot, the identity and ".partes". The dot keeps it apart from every
/// identity, temporary name and other record.
inline std::string NombreRegistro(const std::string &identidad) {
  return "." + identidad + std::string(kSufijoRegistro);
}

/// The mark of its pending hand-off: a dot, the identity and ".pendiente".
inline std::string NombreEntrega(const std::string &identidad) {
  return "." + identidad + std::string(kSufijoEntrega);
}

/// A record written aside before it replaces the one of that name.
inline std::string NombreNuevo(const std::string &nombre) {
  return nombre + std::string(kSufijoNuevo);
}

/// A temporary file made anew before it replaces the one of that name: hidden, as a record is.
inline std::string NombreTemporalNuevo(const std::string &temporal) {
  return "." + temporal + std::string(kSufijoNuevo);
}

/// What the names on disk of another sender's version of a file derive from: a dot, the
/// identity, '@' and the sender. An identity starts with four hexadecimal digits, so neither this
/// nor any name derived from it is a name that a sender can give a file, or its temporary file,
/// record or side copy.
inline std::string RaizDeVersion(std::string_view identidad, std::string_view emisor) {
  return "." + std::string(identidad) + "@" + std::string(emisor);
}

/// How a file in progress is named in the log and the status file: its identity, or a version's
/// "<identidad>@<emisor>".
inline std::string_view ApodoDeRaiz(std::string_view raiz) {
  return raiz.starts_with('.') ? raiz.substr(1) : raiz;
}

/// Every name the receiver may keep on disk for the file whose names derive from raiz: its
/// temporary file, its record, and the side copies of both.
inline std::vector<std::string> NombresDeUnFichero(const std::string &raiz) {
  std::string temporal = NombreTemporal(raiz), registro = NombreRegistro(raiz);
  return {temporal, registro, NombreTemporalNuevo(temporal), NombreNuevo(registro)};
}

#endif
