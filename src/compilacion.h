// What a build is, as the programs tell it with -V: the package's version (RECEPTOR_VERSION,
// given to the targets that include this) and the commit it came from (generated at configure
// time, cmake/version.cmake).
#ifndef COMPILACION_H
#define COMPILACION_H

#include <string>

#include "commit.h"

/// The line that -V prints: the program's name, the package's version and the commit the build
/// came from, "client 1.0.1 (commit 0123456789ab)\n", the commit followed by "-modificado" when
/// the tree had changes, or "(sin commit)" when the sources did not say.
inline std::string LineaDeVersion(const char *programa) {
  const char *commit = RECEPTOR_COMMIT[0] != '\0' ? "commit " RECEPTOR_COMMIT : "sin commit";
  return std::string(programa) + " " RECEPTOR_VERSION " (" + commit + ")\n";
}

#endif
