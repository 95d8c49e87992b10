#include "sorteo.h"

#include <utility>

// Unbiased draw in [0, n): draws at or past the last whole multiple of n are thrown away.
static uint64_t AlAzar(std::mt19937_64 &azar, uint64_t n) {
  uint64_t limite = UINT64_MAX - UINT64_MAX % n;
  uint64_t valor;
  do valor = azar();
  while (valor >= limite);
  return valor % n;
}

// Fisher-Yates by hand: std::shuffle may differ between libraries.
void OrdenarPartes(std::mt19937_64 &azar, Orden orden, uint32_t totpartes, OrdenDeEnvio &partes) {
  partes.orden = orden;
  partes.totpartes = totpartes;
  partes.barajadas.clear();
  if (orden != Orden::kAleatorio) return;
  std::vector<uint32_t> &barajadas = partes.barajadas;
  barajadas.resize(totpartes);
  for (uint32_t i = 0; i < totpartes; ++i) barajadas[i] = i;
  for (std::size_t i = barajadas.size(); i > 1; --i)
    std::swap(barajadas[i - 1], barajadas[AlAzar(azar, i)]);
}

// From 53 random bits, as a share of 1.
bool Omitir(std::mt19937_64 &azar, double perdida) {
  if (perdida <= 0) return false;
  return static_cast<double>(azar() >> 11) * 0x1.0p-53 < perdida;
}
