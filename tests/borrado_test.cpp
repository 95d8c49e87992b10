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
    std::vector<std::vector<unsigned char>> rehechas(faltan.size(),
                                                     std::vector<unsigned char>(kTam));
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

std::set<int32_t> Tramo(int32_t desde, int32_t hasta) {
  std::set<int32_t> tramo;
  for (int32_t i = desde; i < hasta; ++i) tramo.insert(i);
  return tramo;
}

TEST(Borrado, PatronesDePerdida) {
  // one in ten of the parts and of the rows, at random: a block comes back when no more of its
  // datagrams were lost than it has rows
  Caso azar{"al azar", 1000, {32, 6, 8}, {}, {}, {}};
  std::mt19937 sorteo(7);
  Codigo &c = azar.codigo;
  for (int32_t b = 0; b < BloquesDe(1000, c); ++b) {
    std::set<int32_t> del_bloque;
    int filas = c.m;
    for (int pos = 0; pos < c.k; ++pos)
      if (int32_t p = ParteDelBloque(1000, c, b, pos); p >= 0 && sorteo() % 10 == 0)
        azar.partes_perdidas.insert(p), del_bloque.insert(p);
    for (int j = 0; j < c.m; ++j)
      if (sorteo() % 10 == 0) azar.filas_perdidas.insert({b, j}), --filas;
    if (static_cast<int>(del_bloque.size()) > filas)
      azar.sin_recuperar.insert(del_bloque.begin(), del_bloque.end());
  }
  std::vector<Caso> casos = {
      azar,
      // 60 parts in a row spread over the 16 blocks of their window: 4 each at most
      {"rafaga", 600, {16, 4, 16}, Tramo(100, 160), {}, {}},
      // a burst over rows: row 0 of every block of the first window, row 1 of one, 3 parts
      {"rafaga de filas", 600, {16, 4, 16}, Tramo(0, 3), {}, {}},
      // a whole block, more than its rows: only it stays missing, the others come back
      {"bloque entero", 40, {8, 2, 1}, {3, 8, 9, 10, 11, 12, 13, 14, 15, 30}, {}, Tramo(8, 16)},
      // the last window of 5 parts is one block of 5 and 3 zeros; its last part is short
      {"ultimo bloque", 37, {8, 3, 2}, {33, 34, 36}, {}, {}},
      {"ultimo bloque sin filas", 37, {8, 3, 2}, {36}, {{4, 0}, {4, 1}, {4, 2}}, {36}},
      {"una parte", 1, {1, 1, 16}, {0}, {}, {}},
  };
  for (int j = 0; j < 16; ++j) casos[2].filas_perdidas.insert({j, 0});
  casos[2].filas_perdidas.insert({3, 1});
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.que);
    EXPECT_EQ(Perder(caso), caso.sin_recuperar);
  }
}

// Every part lies in one block at one position, and the blocks of a window take turns.
TEST(Borrado, CadaParteEnUnSoloSitio) {
  for (int32_t total : {1, 7, 37, 256, 1000})
    for (Codigo c : {Codigo{1, 1, 1}, Codigo{8, 3, 2}, Codigo{16, 4, 16}, Codigo{128, 18, 16}}) {
      std::vector<int> veces(total, 0);
      for (int32_t b = 0; b < BloquesDe(total, c); ++b)
        for (int pos = 0; pos < c.k; ++pos)
          if (int32_t p = ParteDelBloque(total, c, b, pos); p >= 0) ++veces[p];
      EXPECT_EQ(std::count(veces.begin(), veces.end(), 1), total) << total << " " << c.k;
    }
  EXPECT_EQ(ParteDelBloque(600, {16, 4, 16}, 1, 0), 1);
  EXPECT_EQ(ParteDelBloque(600, {16, 4, 16}, 1, 1), 17);
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
  EXPECT_EQ(std::string(r.fichero.nombre), nombre);
  EXPECT_EQ(r.fichero.largo, 937);
  EXPECT_EQ(r.codigo.k * 10000 + r.codigo.m * 100 + r.codigo.entrelazado, 40216);
  EXPECT_EQ(r.bloque * 10 + r.fila, 21);
  EXPECT_EQ(memcmp(r.contenido, fila.data(), 100), 0);
  for (std::size_t corte = 0; corte < largo; ++corte)
    EXPECT_FALSE(DecodificarReparacion(bytes, corte, r)) << corte;
  EXPECT_FALSE(DecodificarReparacion(bytes, largo + 1, r));
  // offset of each field after the name, the value no sender writes there
  const std::size_t tras = 6 + nombre.size();
  struct Dano {
    const char *que;
    std::size_t donde;
    unsigned char valor;
  };
  for (const Dano &d :
       {Dano{"tipo de datagrama", 0, 1}, Dano{"nombre largo", 5, 32}, Dano{"nombre con NUL", 7, 0},
        Dano{"sin partes", tras + 3, 0}, Dano{"largo imposible", tras + 15, 0},
        Dano{"k 0", tras + 16, 0}, Dano{"m 0", tras + 17, 0}, Dano{"k + m 256", tras + 16, 254},
        Dano{"sin entrelazado", tras + 18, 0}, Dano{"bloque 3", tras + 22, 3},
        Dano{"fila 2", tras + 23, 2}}) {
    SCOPED_TRACE(d.que);
    unsigned char copia[sizeof bytes];
    memcpy(copia, bytes, largo);
    copia[d.donde] = d.valor;
    EXPECT_FALSE(DecodificarReparacion(copia, largo, r));
  }
}

}  // namespace
