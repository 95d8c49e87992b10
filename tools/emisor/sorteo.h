// The draws of a send: the order of a file's parts, and the datagrams that --perdida leaves out.
#ifndef EMISOR_SORTEO_H
#define EMISOR_SORTEO_H

#include <cstdint>
#include <random>
#include <vector>

#include "opciones.h"

/// Leaves in partes the indices of a file of totpartes parts in the order asked for. A random
/// order is drawn from azar, and a seed gives the same one wherever the sender was built.
void OrdenarPartes(std::mt19937_64 &azar, Orden orden, uint32_t totpartes,
                   std::vector<uint32_t> &partes);

/// Whether the datagram is left out, with the share perdida: one independent draw each.
bool Omitir(std::mt19937_64 &azar, double perdida);

#endif
