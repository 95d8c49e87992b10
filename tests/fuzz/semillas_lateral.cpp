// Writes the seed corpus of fuzz_lateral into the directory given: descriptions from the side
// channel's own encoder, marked to be signed by the fuzzer's key, whole and in ranges.
#include <cstdio>
#include <string>
#include <vector>

#include "lateral.h"

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  PrepararLateral();
  // signed again by the fuzzer: any key writes them
  std::vector<unsigned char> secreta(kTamSemilla + kTamClavePublica, 1), resumenes(1452, 0x33);
  FicheroDescrito f{1, 2, "doc", 200, 1000, 199500, 5};
  std::string entrada;
  for (int32_t primera : {0, 80, 160}) {
    std::vector<unsigned char> datagrama(kTamMaxLateral);
    datagrama.resize(
        CodificarDescripcion(f, primera, 40, resumenes.data(), secreta.data(), datagrama.data()));
    entrada += char(0x80 | (datagrama.size() >> 8));
    entrada += char(datagrama.size() & 0xff);
    entrada.append(datagrama.begin(), datagrama.end());
  }
  FILE *semilla = fopen((std::string(argv[1]) + "/descripciones").c_str(), "wb");
  if (semilla == nullptr) return 1;
  fwrite(entrada.data(), 1, entrada.size(), semilla);
  return fclose(semilla) == 0 ? 0 : 1;
}
