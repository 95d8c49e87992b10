#include "resumen.h"

#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
// SHA-256 fetched once, and one context used again for every part: OpenSSL 3's one-shot
// SHA256() looks the algorithm up and makes a context on each call, a fifth of a part's cost.
struct Sha256 {
  EVP_MD *algoritmo = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  EVP_MD_CTX *contexto = EVP_MD_CTX_new();
};
}  // namespace

void ResumirParte(const unsigned char *contenido, std::size_t largo, unsigned char *resumen) {
  static Sha256 sha;
  unsigned char entero[EVP_MAX_MD_SIZE];
  unsigned int bytes = 0;
  if (sha.algoritmo == nullptr || sha.contexto == nullptr ||
      EVP_DigestInit_ex2(sha.contexto, sha.algoritmo, nullptr) != 1 ||
      EVP_DigestUpdate(sha.contexto, contenido, largo) != 1 ||
      EVP_DigestFinal_ex(sha.contexto, entero, &bytes) != 1) {
    // without its digest no part can be checked, nor described
    fputs("No se puede calcular SHA-256 con libcrypto\n", stderr);
    exit(1);
  }
  memcpy(resumen, entero, kTamResumen);
}
