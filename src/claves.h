// Signing keys on disk: a pair made by the sender (BASE.clave, the secret, readable by its owner
// alone; BASE.pub, the public one), each one line of a label and base64, and the public keys a
// receiver trusts, given one by one or as a directory of .pub files.
#ifndef CLAVES_H
#define CLAVES_H

#include <array>
#include <string>
#include <vector>

#include "lateral.h"

using ClavePublica = std::array<unsigned char, kTamClavePublica>;
/// libsodium's secret key: the seed followed by the public key.
using ClaveSecreta = std::array<unsigned char, kTamSemilla + kTamClavePublica>;

/// Makes a new pair and writes BASE.clave (mode 0600) and BASE.pub (0644), neither of which
/// may exist yet. False with the problem in a line (no newline) when it cannot: nothing is left
/// half written.
bool GenerarClaves(const std::string &base, std::string &problema);

/// Reads a secret key written by GenerarClaves; false with the problem when it cannot.
bool LeerClaveSecreta(const char *ruta, ClaveSecreta &secreta, std::string &problema);

/// Adds the public key of the file ruta, or of every file ending in ".pub" in the directory
/// ruta, to claves; false with the problem when one cannot be read, or a directory has none.
bool LeerClavesPublicas(const char *ruta, std::vector<ClavePublica> &claves, std::string &problema);

#endif
