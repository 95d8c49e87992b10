// The cost of checking a part against its signed digest: each digest the libraries offer
// (libsodium, OpenSSL's libcrypto) on one part of 1428 bytes, the receiver's whole check
// (ComprobarParte), and a description's signature shared by the parts it covers. The fastest
// digest is the one the side channel uses (lateral.h). Prints a table on standard error and
// key=value pairs for scripts/bench, with what descriptions add to a file's bytes on the wire.
#include <openssl/sha.h>
#include <sodium.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "firmas.h"
#include "lateral.h"

namespace {

constexpr int kParte = 1428;
constexpr int kVeces = 20000;
constexpr int kRondas = 40;

struct Fila {
  const char *nombre;              // the key's suffix
  std::function<void(int)> hacer;  // one call, the round's index given
  int veces = kVeces;              // calls a round
  double ns = 1e18;                // the best round's nanoseconds a call
};

// Rounds of every row in turn, each row's best kept: other work on the machine only adds, and
// comes to all rows alike.
void Medir(std::vector<Fila> &filas) {
  for (int ronda = 0; ronda < kRondas; ++ronda)
    for (Fila &fila : filas) {
      auto inicio = std::chrono::steady_clock::now();
      for (int i = 0; i < fila.veces; ++i) fila.hacer(i);
      std::chrono::duration<double, std::nano> tiempo = std::chrono::steady_clock::now() - inicio;
      fila.ns = std::min(fila.ns, tiempo.count() / fila.veces);
    }
}

}  // namespace

int main() {
  PrepararLateral();
  std::vector<unsigned char> parte(kParte, 0x5a), salida(crypto_hash_sha512_BYTES);
  unsigned char *p = parte.data(), *s = salida.data();
  // a table holding one datagram's description, and a part checked against it
  TablaDeFirmas tabla;
  ClaveSecreta secreta;
  tabla.claves.resize(1);
  crypto_sign_keypair(tabla.claves[0].data(), secreta.data());
  int32_t cuantos = ResumenesPorDatagrama(1);
  FicheroDescrito f{1, 2, "b", cuantos, kParte, int64_t{cuantos} * kParte, 1};
  std::vector<unsigned char> resumenes(cuantos * kTamResumen), datagrama(kTamMaxLateral);
  for (int32_t i = 0; i < cuantos; ++i) ResumirParte(p, kParte, &resumenes[i * kTamResumen]);
  datagrama.resize(
      CodificarDescripcion(f, 0, cuantos, resumenes.data(), secreta.data(), datagrama.data()));
  Descripcion d;
  DecodificarDescripcion(datagrama.data(), datagrama.size(), d);
  AnotarDescripcion(tabla, d);
  // each call digests another content, as parts do
  std::vector<Fila> filas = {
      {"sha256_openssl", [&](int i) { p[0] = char(i), SHA256(p, kParte, s); }},
      // the same digest, its algorithm fetched once and its context used again
      {"resumir_parte", [&](int i) { p[0] = char(i), ResumirParte(p, kParte, s); }},
      {"blake2b_sodium",
       [&](int i) { p[0] = char(i), crypto_generichash(s, 16, p, kParte, 0, 0); }},
      {"sha256_sodium", [&](int i) { p[0] = char(i), crypto_hash_sha256(s, p, kParte); }},
      {"sha512_sodium", [&](int i) { p[0] = char(i), crypto_hash_sha512(s, p, kParte); }},
      {"comprobar_parte",
       [&](int i) { ComprobarParte(tabla, "0001-0002-b", cuantos, i % cuantos, p, kParte); }},
      // a description verified, for the parts it covers: what a new one costs; one seen
      // already costs the comparison of its digests alone
      {"firma_por_parte", [&](int) { ClaveQueFirma(tabla, d); }, kVeces / 100},
      {"repetida_por_parte", [&](int) { YaAnotada(tabla, d); }},
  };
  Medir(filas);
  for (std::size_t i = filas.size() - 2; i < filas.size(); ++i) filas[i].ns /= cuantos;
  fprintf(stderr, "%-20s ns/parte (1428 bytes)\n", "resumen");
  for (const Fila &fila : filas) fprintf(stderr, "%-20s %.0f\n", fila.nombre, fila.ns);
  for (const Fila &fila : filas) printf("ns_%s=%.0f ", fila.nombre, fila.ns);
  // what the descriptions add to the bytes of a file in parts of 1428, the worst name's, with
  // the UDP and IP headers of their datagrams
  for (int64_t partes : {7, 84, 50000}) {
    int64_t datagramas = (partes + ResumenesPorDatagrama(31) - 1) / ResumenesPorDatagrama(31);
    int64_t lateral = datagramas * (kTamFijoDescripcion + 31 + 28) + partes * kTamResumen;
    printf("lateral_por_ciento_%lld_partes=%.2f ", static_cast<long long>(partes),
           100.0 * lateral / (partes * kParte));
  }
  printf("\n");
}
