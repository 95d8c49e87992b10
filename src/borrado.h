// The erasure code of the repair datagrams: Intel's ISA-L, a Cauchy matrix over GF(2^8) whose
// first k rows are the parts themselves, so that any k of a block's k + m rows rebuild it.
#ifndef BORRADO_H
#define BORRADO_H

#include <vector>

#include "bloques.h"

/// The code's matrix and the room its routines work in, made once for a code.
struct CodigoBorrado {
  int k = 0, m = 0;
  std::vector<unsigned char> matriz;   // (k + m) x k, by rows
  std::vector<unsigned char> tablas;   // ISA-L's tables of the m repair rows
  std::vector<unsigned char> trabajo;  // the tables of a block rebuilt
};

/// Makes the code of k parts and m repair rows (k + m at most kMaxFilasCodigo).
void PrepararCodigo(CodigoBorrado &codigo, int k, int m);

/// Writes at reparaciones[0..m) the m repair rows of the k rows at partes, largo bytes each.
void CodificarBloque(CodigoBorrado &codigo, unsigned char *const *partes,
                     unsigned char *const *reparaciones, int largo);

/// Rebuilds a block's missing rows: partes holds its k rows, nullptr for each one missing;
/// filas and reparaciones the cuantas repair rows at hand (their numbers, 0 to m - 1, each once,
/// and their bytes). Writes each missing row, in the order of the positions, at the next of
/// salidas. False, writing nothing, when fewer repair rows than missing ones are at hand.
bool RecuperarBloque(CodigoBorrado &codigo, unsigned char *const *partes, const int *filas,
                     unsigned char *const *reparaciones, int cuantas, unsigned char *const *salidas,
                     int largo);

#endif
