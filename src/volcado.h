// The two-block dump of a datagram's first 50 bytes, for reading headers by eye.
#ifndef VOLCADO_H
#define VOLCADO_H

#include <cstdio>

/// Prints positions 0 to 49 of paquete as two blocks of three rows (positions, hexadecimal
/// values, characters), framed by separator lines that carry tampaquete.
/// paquete must hold at least 50 readable bytes. For a terminal, the bytes 0x7f to 0x9f of the
/// character row show as '?', so that no control sequence reaches it.
void ImprimirVolcado(const unsigned char *paquete, int tampaquete, FILE *salida,
                     bool a_terminal = false);

#endif
