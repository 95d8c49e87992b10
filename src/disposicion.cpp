#include "disposicion.h"

#include <cstdint>

bool Admite(const Disposicion &d, int32_t totpartes, int32_t parte, int32_t largo) {
  if (d.totpartes == 0 || totpartes != d.totpartes) return false;
  if (d.tamparte == kTamParteDesconocido) return true;
  return parte == UltimaParte(totpartes) ? largo <= d.tamparte : largo == d.tamparte;
}

// Every part but the last carries the part size, the last at most as much and, but in a file
// of one part, at least a byte.
Disposicion DisposicionDelGrabado(int32_t totpartes, int32_t parte, int32_t largo,
                                  int64_t largo_fichero) {
  int64_t total = totpartes;
  if (parte < UltimaParte(totpartes)) {
    int64_t ultima = largo_fichero - (total - 1) * largo;
    if (ultima < 0 || ultima > largo) return {};
    return {totpartes, largo, ultima};
  }
  if (total == 1)
    return largo_fichero == largo ? Disposicion{1, kTamParteDesconocido, largo} : Disposicion{};
  int64_t resto = largo_fichero - largo, tamparte = resto / (total - 1);
  // a part size past any count a datagram holds belongs to no sender's layout
  if (resto <= 0 || resto % (total - 1) != 0 || tamparte < largo || tamparte > INT32_MAX) return {};
  return {totpartes, static_cast<int32_t>(tamparte), largo};
}
