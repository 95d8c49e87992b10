// The repair code without a network: a file's parts and repair rows as a sender makes them,
// some lost, rebuilt as a receiver does; and the repair datagram's bytes, whole and damaged.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "borrado.h"
#include "lateral.h"
#include "reparacion.h"

namespace {

constexpr int kTam = 64;

struct Caso {
  const char *que;
  int32_t totpartes;
  Codigo codigo;
  std::set<int32_t> partes_perdidas;
  std::set<std::pair<int32_t, int>> filas_perdidas;  // (block, row)
  std::set<int32_t> sin_recuperar;                   // what no k rows of its block give back
};

// Sends, loses and rebuilds: the parts not given back; each one given back equal to its own.
std::set<int32_t> Perder(const Caso &caso) {
  const Codigo &c = caso.codigo;
  std::mt19937 azar(1);
  std::vector<std::vector<unsigned char>> partes(caso.totpartes, std::vector<unsigned char>(kTam));
  for (auto &p : partes)
    for (auto &byte : p) byte = static_cast<unsigned char>(azar());
  // the last part is shorter: zeros after it, as both ends pad it
  std::fill(partes.back().begin() + 10, partes.back().end(), 0);
  CodigoBorrado codigo;
  PrepararCodigo(codigo, c.k, c.m);
  std::vector<unsigned char> ceros(kTam, 0);
  std::set<int32_t> perdidas;
  for (int32_t b = 0; b < BloquesDe(caso.totpartes, c); ++b) {
    unsigned char *datos[kMaxFilasCodigo], *rotos[kMaxFilasCodigo], *salidas[kMaxFilasCodigo];
    std::vector<int32_t> faltan;
    for (int pos = 0; pos < c.k; ++pos) {
      int32_t parte = ParteDelBloque(caso.totpartes, c, b, pos);
      datos[pos] = rotos[pos] = parte < 0 ? ceros.data() : partes[parte].data();
      if (caso.partes_perdidas.count(parte)) rotos[pos] = nullptr, faltan.push_back(parte);
    }
    std::vector<std::vector<unsigned char>> filas(c.m, std::vector<unsigned char>(kTam));
    std::vector<unsigned char *> punteros, llegadas;
    std::vector<int> numeros;
    for (auto &f : filas) punteros.push_back(f.data());
    CodificarBloque(codigo, datos, punteros.data(), kTam);
    for (int j = 0; j < c.m; ++j)
      if (!caso.filas_perdidas.count({b, j})) numeros.push_back(j), llegadas.push_back(punteros[j]);
    std::vector<std::vector<unsigned char>> rehechas(faltan.size(), filas[0]);
    for (std::size_t i = 0; i < faltan.size(); ++i) salidas[i] = rehechas[i].data();
    if (!RecuperarBloque(codigo, rotos, numeros.data(), llegadas.data(),
                         static_cast<int>(numeros.size()), salidas, kTam)) {
      perdidas.insert(faltan.begin(), faltan.end());
      continue;
    }
    for (std::size_t i = 0; i < faltan.size(); ++i)
      EXPECT_EQ(rehechas[i], partes[faltan[i]]) << "parte " << faltan[i];
  }
  return perdidas;
}

TEST(Borrado, PatronesDePerdida) {
  auto tramo = [](int32_t i, int32_t hasta) {
    std::set<int32_t> t;
    while (i < hasta) t.insert(i++);
    return t;
  };
  // one in fifty of the parts and of the rows, at random: never 7 of a block's 38
  Caso azar{"al azar", 1000, {32, 6, 8}, {}, {}, {}};
  std::mt19937 sorteo(7);
  for (int32_t i = 0; i < 1000; ++i)
    if (sorteo() % 50 == 0) azar.partes_perdidas.insert(i);
  for (int32_t b = 0; b < BloquesDe(1000, azar.codigo); ++b)
    if (sorteo() % 50 == 0) azar.filas_perdidas.insert({b, static_cast<int>(sorteo() % 6)});
  std::vector<Caso> casos = {
      azar,
      // 60 parts in a row spread over the 16 blocks of their window: 4 each at most
      {"rafaga", 600, {16, 4, 16}, tramo(100, 160), {}, {}},
      // a whole block, more than its rows: only it stays missing, the others come back
      {"bloque entero", 40, {8, 2, 1}, {3, 8, 9, 10, 11, 12, 13, 14, 15, 30}, {}, tramo(8, 16)},
      // the last window of 5 parts is one block of 5 and 3 zeros; its last part is short
      {"ultimo bloque", 37, {8, 3, 2}, {33, 34, 36}, {}, {}},
  };
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.que);
    EXPECT_EQ(Perder(caso), caso.sin_recuperar);
  }
}

// A repair datagram decodes to what was written; any cut, a byte more, or a field no sender
// writes is none.
TEST(Borrado, DatagramaDeReparacion) {
  const std::string nombre = "datos";
  std::vector<unsigned char> fila(100, 'r');
  FicheroDescrito f{1, 2, nombre, 10, 100, 937, 0};
  unsigned char bytes[kTamMaxPaquete + 1];
  std::size_t largo = CodificarReparacion(f, {4, 2, 16}, 2, 1, fila.data(), bytes);
  ASSERT_EQ(largo, kTamFijoReparacion + nombre.size() + 100);
  Reparacion r;
  ASSERT_TRUE(DecodificarReparacion(bytes, largo, r));
  EXPECT_EQ(std::string(r.fichero.nombre) + " " + std::to_string(r.fichero.largo), "datos 937");
  EXPECT_EQ(std::vector<int>({r.codigo.k, r.codigo.m, r.codigo.entrelazado, r.bloque, r.fila}),
            std::vector<int>({4, 2, 16, 2, 1}));
  EXPECT_EQ(memcmp(r.contenido, fila.data(), 100), 0);
  for (std::size_t corte = 0; corte < largo; ++corte)
    EXPECT_FALSE(DecodificarReparacion(bytes, corte, r)) << corte;
  EXPECT_FALSE(DecodificarReparacion(bytes, largo + 1, r));
  // offset of each field after the name, the value no sender writes there
  const std::size_t tras = 6 + nombre.size();
  // the type, a name too long, a NUL in it, no parts, an impossible length, k 0, m 0, k + m
  // 256, no windows, block 3, row 2
  const std::vector<std::pair<std::size_t, unsigned char>> danos = {
      {0, 1},         {5, 32},        {7, 0},         {tras + 3, 0},
      {tras + 15, 0}, {tras + 16, 0}, {tras + 17, 0}, {tras + 16, 254},
      {tras + 18, 0}, {tras + 22, 3}, {tras + 23, 2}};
  for (auto [donde, valor] : danos) {
    unsigned char copia[sizeof bytes];
    memcpy(copia, bytes, largo);
    copia[donde] = valor;
    EXPECT_FALSE(DecodificarReparacion(copia, largo, r)) << donde;
  }
  // a byte of the row changed is told by the sum alone
  EXPECT_TRUE(ReparacionIntacta(bytes, largo));
  bytes[largo - kTamSumaReparacion - 1] ^= 1;
  EXPECT_FALSE(ReparacionIntacta(bytes, largo));
}

}  // namespace
