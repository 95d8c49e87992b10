// The draws of a send: the order of a file's parts, and the datagrams that --perdida leaves out.
#ifndef EMISOR_SORTEO_H
#define EMISOR_SORTEO_H

#include <cstdint>
#include <random>
#include <vector>

#include "opciones.h"

/// The order of a file's parts in one send: a random one is held, index by index; the direct
/// and the inverse ones are computed, so that a file of any size costs no memory per part.
struct OrdenDeEnvio {
  Orden orden = Orden::kDirecto;
  uint32_t totpartes = 0;
  std::vector<uint32_t> barajadas;  // the indices of a random order; empty for the others
};

/// Leaves in partes the order asked for of a file of totpartes parts. A random order is drawn
/// from azar, and a seed gives the same one wherever the sender was built.
void OrdenarPartes(std::mt19937_64 &azar, Orden orden, uint32_t totpartes, OrdenDeEnvio &partes);

/// The index of the part sent i-th, i below the part count.
inline uint32_t ParteEnOrden(const OrdenDeEnvio &partes, std::size_t i) {
  if (partes.orden == Orden::kAleatorio) return partes.barajadas[i];
  uint32_t directa = static_cast<uint32_t>(i);
  return partes.orden == Orden::kInverso ? partes.totpartes - 1 - directa : directa;
}

/// Whether the datagram is left out, with the share perdida: one independent draw each.
bool Omitir(std::mt19937_64 &azar, double perdida);

#endif
