#include "resumen.h"

#include <openssl/sha.h>

#include <cstring>

void ResumirParte(const unsigned char *contenido, std::size_t largo, unsigned char *resumen) {
  unsigned char entero[SHA256_DIGEST_LENGTH];
  SHA256(contenido, largo, entero);
  memcpy(resumen, entero, kTamResumen);
}
