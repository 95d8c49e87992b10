// The side channel's fuzzer: each input is a run of datagrams, two big-endian bytes of length
// before each, taken into one table that trusts one key. A length with its top bit set has the
// datagram signed by that key first, so that what lies behind the signature is reached too;
// every part of each file described is then checked against the table.
#include <sodium.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "firmas.h"
#include "lateral.h"
#include "reparacion.h"

static ClaveSecreta g_secreta;
static ClavePublica g_publica;

// With SEMILLAS_LATERALES=DIR, writes there the seed instead, a description from the encoder
// marked to be signed, and ends.
static void EscribirSemilla(const std::string &directorio) {
  std::vector<unsigned char> resumenes(kTamMaxLateral, 0x33), semilla(2 + kTamMaxLateral);
  FicheroDescrito f{1, 2, "doc", 200, 1000, 199500, 5};
  std::size_t largo =
      CodificarDescripcion(f, 80, 40, resumenes.data(), g_secreta.data(), &semilla[2]);
  semilla[0] = static_cast<unsigned char>(0x80 | largo >> 8);
  semilla[1] = static_cast<unsigned char>(largo);
  std::ofstream(directorio + "/descripcion")
      .write(reinterpret_cast<char *>(semilla.data()), 2 + largo);
  exit(0);
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  PrepararLateral();
  unsigned char semilla[kTamSemilla] = {7};
  crypto_sign_seed_keypair(g_publica.data(), g_secreta.data(), semilla);
  if (const char *directorio = getenv("SEMILLAS_LATERALES")) EscribirSemilla(directorio);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *datos, size_t tam) {
  TablaDeFirmas tabla;
  tabla.claves = {g_publica};
  for (std::size_t i = 0; i + 2 <= tam;) {
    unsigned cabeza = (datos[i] << 8) | datos[i + 1];
    std::size_t largo = std::min<std::size_t>(cabeza & 0x7fff, tam - i - 2);
    std::vector<unsigned char> datagrama(datos + i + 2, datos + i + 2 + largo);
    i += 2 + largo;
    // the key's id and a true signature, where the datagram has room for them
    std::size_t firmado = largo - kTamFirma;
    if ((cabeza & 0x8000) && largo >= 1 + kTamIdClave + kTamFirma) {
      memcpy(&datagrama[1], g_publica.data(), kTamIdClave);
      crypto_sign_detached(&datagrama[firmado], nullptr, datagrama.data(), firmado,
                           g_secreta.data());
    }
    Reparacion r;  // a repair datagram's block never names a part outside its file
    for (int pos = 0; DecodificarReparacion(datagrama.data(), largo, r) && pos < r.codigo.k; ++pos)
      if (ParteDelBloque(r.fichero.totpartes, r.codigo, r.bloque, pos) >= r.fichero.totpartes)
        __builtin_trap();
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
