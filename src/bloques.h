// The blocks of the erasure code that repair datagrams carry: which parts of a file each block
// takes, as sender and receiver both count them.
#ifndef BLOQUES_H
#define BLOQUES_H

#include <cstdint>

/// The erasure code of a file's repair datagrams. Its parts are cut into windows of k *
/// entrelazado parts, each window into blocks that take its parts in turn (part l of the window
/// goes to block l % blocks, at position l / blocks), so that a burst of lost parts spreads over
/// the window's blocks; each block of k parts (a shorter one counts zeros in place of the
/// parts it lacks) gets m repair rows.
struct Codigo {
  int k = 0;            // parts of a block, 1 at least
  int m = 0;            // repair rows of a block, 1 at least; k + m at most kMaxFilasCodigo
  int entrelazado = 0;  // blocks of a window, 1 at least
};
inline constexpr int kMaxFilasCodigo = 255;

/// Blocks of a file of totpartes parts under the code.
int32_t BloquesDe(int32_t totpartes, const Codigo &codigo);

/// The part at position (0 to k - 1) of the block, or -1 when that position holds none.
int32_t ParteDelBloque(int32_t totpartes, const Codigo &codigo, int32_t bloque, int posicion);

#endif
