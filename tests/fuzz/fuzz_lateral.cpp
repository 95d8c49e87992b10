// The side channel's fuzzer: each input is a run of datagrams, two big-endian bytes of length
// before each, taken into one table that trusts one key. A length with its top bit set has the
// datagram signed by that key first, so that what lies behind the signature is reached too;
// every part of each file described is then checked against the table.
#include <sodium.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "firmas.h"
#include "lateral.h"

static ClaveSecreta g_secreta;
static ClavePublica g_publica;

// With SEMILLAS_LATERALES=DIR, writes there the seed corpus instead: three ranges of one
// description from the encoder, marked to be signed, and ends.
static void EscribirSemillas(const char *directorio) {
  std::vector<unsigned char> resumenes(kTamMaxLateral, 0x33), entrada, datagrama(kTamMaxLateral);
  for (int32_t primera : {0, 80, 160}) {
    FicheroDescrito f{1, 2, "doc", 200, 1000, 199500, 5};
    datagrama.resize(
        CodificarDescripcion(f, primera, 40, resumenes.data(), g_secreta.data(), datagrama.data()));
    entrada.insert(entrada.end(),
                   {uint8_t(0x80 | (datagrama.size() >> 8)), uint8_t(datagrama.size())});
    entrada.insert(entrada.end(), datagrama.begin(), datagrama.end());
  }
  FILE *semilla = fopen((std::string(directorio) + "/descripciones").c_str(), "wb");
  exit(semilla && fwrite(entrada.data(), 1, entrada.size(), semilla) == entrada.size() &&
               fclose(semilla) == 0
           ? 0
           : 1);
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  PrepararLateral();
  unsigned char semilla[kTamSemilla] = {7};
  crypto_sign_seed_keypair(g_publica.data(), g_secreta.data(), semilla);
  if (const char *directorio = getenv("SEMILLAS_LATERALES")) EscribirSemillas(directorio);
  return 0;
}

// The key's id and a true signature, where the datagram has room for them.
static void Firmar(std::vector<unsigned char> &datagrama) {
  if (datagrama.size() < 1 + kTamIdClave + kTamFirma) return;
  memcpy(&datagrama[1], g_publica.data(), kTamIdClave);
  std::size_t firmado = datagrama.size() - kTamFirma;
  crypto_sign_detached(&datagrama[firmado], nullptr, datagrama.data(), firmado, g_secreta.data());
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *datos, size_t tam) {
  TablaDeFirmas tabla;
  tabla.claves = {g_publica};
  for (std::size_t i = 0; i + 2 <= tam;) {
    unsigned cabeza = (datos[i] << 8) | datos[i + 1];
    std::size_t largo = std::min<std::size_t>(cabeza & 0x7fff, tam - i - 2);
    std::vector<unsigned char> datagrama(datos + i + 2, datos + i + 2 + largo);
    i += 2 + largo;
    if (cabeza & 0x8000) Firmar(datagrama);
    Descripcion d;
    if (!DecodificarDescripcion(datagrama.data(), datagrama.size(), d)) continue;
    if (!YaAnotada(tabla, d) && ClaveQueFirma(tabla, d) != nullptr) AnotarDescripcion(tabla, d);
  }
  std::vector<unsigned char> parte(kTamMaxParte, 0);
  for (const auto &[identidad, f] : tabla.ficheros) {
    int32_t cuantos = 0;
    for (int32_t p = 0; p < f.totpartes; ++p) {
      cuantos += f.conocidos[static_cast<std::size_t>(p)];
      ComprobarParte(tabla, identidad, f.totpartes, p, parte.data(), f.tamparte);
    }
    // the count kept beside the flags never drifts from them
    if (cuantos != f.cuantos) __builtin_trap();
  }
  return 0;
}
