// The digest of a part that a signed description carries for it.
#ifndef RESUMEN_H
#define RESUMEN_H

#include <cstddef>

/// Bytes of a part's digest: SHA-256 cut to 128 bits (see ResumirParte).
inline constexpr int kTamResumen = 16;

/// The digest of a part's content, at resumen: SHA-256 by OpenSSL's libcrypto, which uses the
/// processor's SHA instructions, the fastest digest of the libraries here (bench/resumenes
/// measures each), cut to 128 bits, which no one can match by searching; a 64-bit cut could be.
void ResumirParte(const unsigned char *contenido, std::size_t largo, unsigned char *resumen);

#endif
