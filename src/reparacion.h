// The repair datagram's wire format: a repair row of a block of a file's parts (bloques.h lays
// the blocks out), sent on the side channel after the file's parts. The receiver, the sender,
// the tests and the fuzzer use these.
#ifndef REPARACION_H
#define REPARACION_H

#include <cstddef>
#include <cstdint>

#include "bloques.h"
#include "lateral.h"

/// Bytes of a repair datagram besides its name and its row: the fields, and the CRC-32C of all
/// before it at its end, since a damaged row would rebuild wrong parts that nothing else tells.
inline constexpr int kTamSumaReparacion = 4;
inline constexpr int kTamFijoReparacion =
    1 + 2 + 2 + 1 + 4 + 4 + 8 + 1 + 1 + 1 + 4 + 1 + kTamSumaReparacion;

/// One repair datagram as decoded.
struct Reparacion {
  FicheroDescrito fichero;  // nombre points into the datagram; sello unused
  Codigo codigo;
  int32_t bloque = 0;                        // of the file, from 0
  int fila = 0;                              // its repair row, 0 to m - 1
  const unsigned char *contenido = nullptr;  // fichero.tamparte bytes, in the datagram
};

/// Writes at destino (kTamFijoReparacion + name + part size bytes of room) the repair row fila
/// of the block, whose fichero.tamparte bytes are at contenido; returns its length.
std::size_t CodificarReparacion(const FicheroDescrito &fichero, const Codigo &codigo,
                                int32_t bloque, int fila, const unsigned char *contenido,
                                unsigned char *destino);

/// Decodes the largo bytes at datos as a repair datagram; false when they are none, or one no
/// sender writes (a name too long or with a NUL, an impossible layout or code, a block or row
/// outside them, a row of another length than the part size). Reads no byte past largo. Checks
/// no sum.
bool DecodificarReparacion(const unsigned char *datos, std::size_t largo, Reparacion &r);

/// Whether the sum at the end of the largo bytes at datos is theirs: a repair datagram as its
/// sender wrote it, or one forged whole, which only --clave tells.
bool ReparacionIntacta(const unsigned char *datos, std::size_t largo);

#endif
