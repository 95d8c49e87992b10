#include "bloques.h"

#include <algorithm>

int32_t BloquesDe(int32_t totpartes, const Codigo &c) {
  int64_t ventana = static_cast<int64_t>(c.k) * c.entrelazado;
  int64_t resto = totpartes % ventana;
  return static_cast<int32_t>(totpartes / ventana * c.entrelazado + (resto + c.k - 1) / c.k);
}

int32_t ParteDelBloque(int32_t totpartes, const Codigo &c, int32_t bloque, int posicion) {
  int64_t ventana = static_cast<int64_t>(c.k) * c.entrelazado;
  int64_t inicio = bloque / c.entrelazado * ventana;
  int64_t partes = std::min<int64_t>(ventana, totpartes - inicio);
  // the last window is shorter: fewer blocks, each still of k parts at most
  int64_t bloques = (partes + c.k - 1) / c.k;
  int64_t parte = bloque % c.entrelazado + static_cast<int64_t>(posicion) * bloques;
  return parte < partes ? static_cast<int32_t>(inicio + parte) : -1;
}
