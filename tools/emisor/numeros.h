// Numbers as a person types them on the command line: decimal digits only, no signs, no
// spaces, no hexadecimal and no exponents, and nothing that overflows.
#ifndef EMISOR_NUMEROS_H
#define EMISOR_NUMEROS_H

#include <cstdint>

#include "palabras.h"  // LeerEntero

/// Reads a whole decimal integer of 64 bits without sign.
bool LeerSemilla(const char *texto, uint64_t &semilla);

/// Reads exactly four hexadecimal digits.
bool LeerHex4(const char *texto, uint16_t &valor);

/// Reads a rate: a plain number counts datagrams per second; a suffix k, m or g (in either
/// case) makes it thousands, millions or thousands of millions of bits per second. 0 is no limit.
bool LeerRitmo(const char *texto, double &por_segundo, bool &en_bits);

/// Reads a share: from 0 to 1, or a percentage from 0% to 100%.
bool LeerProporcion(const char *texto, double &proporcion);

#endif
