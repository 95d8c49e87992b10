// Writes the seed corpus of fuzz_paquete into the directory given: small valid transfers, in
// each mode, with headers from the one encoder of the format.
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "formato.h"

static constexpr unsigned kBitTruncado = 0x8000;
static constexpr unsigned kBitFundir = 0x2000;
static constexpr std::size_t kContenido = 16;  // bytes of content per part but the last

static std::string Datagrama(uint32_t parte, uint32_t total, const char *nombre,
                             const std::string &contenido) {
  unsigned char cabecera[TamCabecera];
  CodificarCabecera({0x12ab, 0x0007, parte, total, nombre}, cabecera);
  return std::string(reinterpret_cast<char *>(cabecera), TamCabecera) + contenido;
}

static std::map<uint32_t, std::string> Partes(const char *nombre, uint32_t total) {
  std::map<uint32_t, std::string> partes;
  for (uint32_t parte = 1; parte <= total; ++parte) {
    std::size_t largo = parte == total ? 5 : kContenido;
    partes[parte] = Datagrama(parte, total, nombre, std::string(largo, char(0x40 + parte)));
  }
  return partes;
}

// The input layout of the target: the mode byte, then each datagram after two big-endian
// bytes of length, whose top bit marks it truncated and whose third bit merges it into the
// message before it.
static std::string Entrada(int modo, const std::vector<std::string> &datagramas,
                           const std::vector<std::size_t> &truncados,
                           const std::vector<std::size_t> &fundidos) {
  std::string salida(1, char(modo));
  for (std::size_t i = 0; i < datagramas.size(); ++i) {
    unsigned cabeza = static_cast<unsigned>(datagramas[i].size());
    for (std::size_t t : truncados) cabeza |= t == i ? kBitTruncado : 0;
    for (std::size_t f : fundidos) cabeza |= f == i ? kBitFundir : 0;
    salida += char(cabeza >> 8);
    salida += char(cabeza & 0xff);
    salida += datagramas[i];
  }
  return salida;
}

struct Caso {
  const char *nombre;
  std::vector<std::string> datagramas;
  std::vector<std::size_t> truncados;
  std::vector<std::size_t> fundidos = {};
};

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "Uso: %s <directorio>\n", argv[0]);
    return 1;
  }
  auto tres = Partes("tres.bin", 3), una = Partes("una.txt", 1);
  std::string corto = Datagrama(2, 0, "", "").substr(0, 8) + "xyz";
  const Caso casos[] = {
      {"tres_partes", {tres[1], tres[2], tres[3]}, {}},
      {"una_parte", {una[1]}, {}},
      // the last part first: placed before the part size is known, put right at the end
      {"desordenado", {tres[3], tres[1], tres[2]}, {}},
      // a short datagram after a whole one reads what that one left
      {"corto", {tres[1], corto, tres[2], tres[3]}, {}},
      // repeated parts, a truncated one, then a second file
      {"repetido", {tres[1], tres[1], tres[2], una[1], tres[2]}, {1}},
      // a run merged by the kernel, its last datagram shorter, then a short one
      {"fundido", {tres[1], tres[2], tres[3], corto}, {}, {1, 2}},
  };
  // mode 2, four files in progress, resumed: an unfinished file interleaved with another
  const int kModoReanuda = 0x26;
  const Caso reanuda = {"reanuda", {tres[1], una[1], tres[3]}, {}};
  for (int modo : {0, 1, 2, kModoReanuda}) {
    for (const Caso &caso : modo == kModoReanuda
                                ? std::vector<Caso>{reanuda}
                                : std::vector<Caso>(std::begin(casos), std::end(casos))) {
      std::string ruta = std::string(argv[1]) + "/modo" + std::to_string(modo) + "_" + caso.nombre;
      FILE *f = fopen(ruta.c_str(), "wb");
      std::string bytes = Entrada(modo, caso.datagramas, caso.truncados, caso.fundidos);
      if (f == nullptr || fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || fclose(f)) {
        perror(ruta.c_str());
        return 1;
      }
    }
  }
  return 0;
}
