// A file's layout: its part count, the size of every part but the last, and the last's length.
// The same rules for a file in progress, the layouts it had and was offered, and a stored file.
#ifndef DISPOSICION_H
#define DISPOSICION_H

#include <cstdint>

/// A part size not known yet: no part but the last has told it. Apart from 0: only a file of one
/// part may have a part without bytes.
inline constexpr int32_t kTamParteDesconocido = -1;

struct Disposicion {
  int32_t totpartes = 0;                    // part count; 0: no layout
  int32_t tamparte = kTamParteDesconocido;  // the size of every part but the last, once known
  int64_t ultima = -1;                      // the last part's length, once known
};

/// The last part's index of a file of totpartes parts, in the 32-bit arithmetic of the wire:
/// no count a datagram can carry makes it overflow.
inline int32_t UltimaParte(int32_t totpartes) {
  return static_cast<int32_t>(static_cast<uint32_t>(totpartes) - 1u);
}
inline int32_t UltimaParte(const Disposicion &disposicion) {
  return UltimaParte(disposicion.totpartes);
}

/// Where part parte lies: every part but the last carries the part size, so the first lies at 0
/// and any other needs that size known.
inline int64_t PosicionDeLaParte(const Disposicion &disposicion, int32_t parte) {
  return parte == 0 ? 0 : static_cast<int64_t>(parte) * disposicion.tamparte;
}

/// The file's length, once its last part's length is known.
inline int64_t LargoDelFichero(const Disposicion &disposicion) {
  return PosicionDeLaParte(disposicion, UltimaParte(disposicion)) + disposicion.ultima;
}

#endif
