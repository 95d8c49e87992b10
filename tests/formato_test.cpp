// The wire format: header encoding, decoding and identity, on datagrams built in memory.
#include "formato.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A receive buffer as the loop hands it over: zeroed, the datagram, its NUL after it.
struct Datagrama {
  unsigned char bytes[kTamMaxPaquete + 1] = {};
  std::size_t legibles;  // the datagram and its NUL
  explicit Datagrama(const std::vector<unsigned char> &contenido) : legibles(contenido.size() + 1) {
    memcpy(bytes, contenido.data(), contenido.size());
    bytes[contenido.size()] = 0;
  }
};

DatagramaActual Decodificar(const std::vector<unsigned char> &contenido) {
  Datagrama datagrama(contenido);
  DatagramaActual actual;
  DecodificarCabecera(datagrama.bytes, datagrama.legibles, actual);
  // the name points into the buffer, which dies here
  actual.nombre = {};
  return actual;
}

std::vector<unsigned char> Cabecera(std::vector<unsigned char> campos, const std::string &nombre) {
  campos.resize(12);
  campos.insert(campos.end(), nombre.begin(), nombre.end());
  return campos;
}

TEST(Cabecera, TipoYSubtipoSonCuatroCifrasHexadecimalesMinusculas) {
  for (int alto = 0; alto <= 0xff; ++alto) {
    const unsigned char bajo = static_cast<unsigned char>(0xff - alto);
    DatagramaActual actual = Decodificar(Cabecera(
        {static_cast<unsigned char>(alto), bajo, bajo, static_cast<unsigned char>(alto)}, "x"));
    char tipo[8], subtipo[8];
    snprintf(tipo, sizeof tipo, "%02x%02x", alto, bajo);
    snprintf(subtipo, sizeof subtipo, "%02x%02x", bajo, alto);
    SCOPED_TRACE(tipo);
    EXPECT_STREQ(actual.eltipo, tipo);
    EXPECT_STREQ(actual.elsubtipo, subtipo);
  }
}

TEST(Cabecera, LosNumerosSonBigEndianConSignoYLaParteSeCuentaDesdeCero) {
  struct Caso {
    std::vector<unsigned char> parte, total;
    int32_t parteactual, totpartes;
  } casos[] = {
      {{0, 0, 0, 1}, {0, 0, 0xc3, 0x50}, 0, 50000},
      {{0, 0, 0, 0}, {0x80, 0, 0, 0}, -1, INT32_MIN},
      {{0x80, 0, 0, 1}, {0xff, 0xff, 0xff, 0xff}, INT32_MIN, -1},
      {{0x80, 0, 0, 0}, {0x7f, 0xff, 0xff, 0xff}, INT32_MAX, INT32_MAX},
      {{0x01, 0x02, 0x03, 0x05}, {0x00, 0x00, 0x01, 0x00}, 0x01020304, 256},
  };
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.parteactual);
    std::vector<unsigned char> campos = {0, 1, 0, 2};
    campos.insert(campos.end(), caso.parte.begin(), caso.parte.end());
    campos.insert(campos.end(), caso.total.begin(), caso.total.end());
    DatagramaActual actual = Decodificar(Cabecera(campos, "datos"));
    EXPECT_EQ(actual.parteactual, caso.parteactual);
    EXPECT_EQ(actual.totpartes, caso.totpartes);
  }
}

TEST(Cabecera, ElNombreLlegaHastaElPrimerNulAunqueCruceSuCampo) {
  const std::string lleno(32, 'n');
  struct Caso {
    std::string bytes_nombre;  // from offset 12 to the datagram's end
    std::string identidad;
  } casos[] = {
      {"datos", "0001-0002-datos"},
      {"", "0001-0002-"},
      {std::string("ab\0cd", 5), "0001-0002-ab"},
      // a name without NUL in its 32 bytes runs into the content
      {lleno + "contenido" + std::string("\0resto", 6), "0001-0002-" + lleno + "contenido"},
      {lleno, "0001-0002-" + lleno},
  };
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.identidad);
    EXPECT_EQ(Decodificar(Cabecera({0, 1, 0, 2}, caso.bytes_nombre)).elnombre, caso.identidad);
  }
}

TEST(Cabecera, UnNombreSinNulTerminaEnElFinDelDatagramaParaCadaLongitud) {
  for (std::size_t largo = 0; largo <= 50; ++largo) {
    SCOPED_TRACE(largo);
    Datagrama datagrama(Cabecera({0, 1, 0, 2}, std::string(largo, 'a')));
    DatagramaActual actual;
    DecodificarCabecera(datagrama.bytes, datagrama.legibles, actual);
    EXPECT_EQ(actual.nombre, std::string(largo, 'a'));
  }
}

TEST(Cabecera, LaIdentidadSeRehaceEnteraConCadaDatagrama) {
  DatagramaActual actual;
  Datagrama largo(Cabecera({0xab, 0xcd, 0xef, 0x01}, "un_nombre_bastante_largo"));
  DecodificarCabecera(largo.bytes, largo.legibles, actual);
  EXPECT_EQ(actual.elnombre, "abcd-ef01-un_nombre_bastante_largo");
  Datagrama corto(Cabecera({0, 1, 0, 2}, "x"));
  DecodificarCabecera(corto.bytes, corto.legibles, actual);
  EXPECT_EQ(actual.elnombre, "0001-0002-x");
}

// What the encoder writes, the decoder reads back; a name is bounded by the bytes at hand even
// when no NUL comes before them.
TEST(Cabecera, LoQueSeCodificaSeDecodificaIgual) {
  struct Caso {
    CamposCabecera campos;
    std::size_t legibles;
    std::string nombre_leido;
  } casos[] = {
      {{0x0001, 0x0002, 1, 3, "datos"}, TamCabecera, "datos"},
      {{0xffff, 0x8000, 50000, 50000, ""}, TamCabecera, ""},
      {{0x0a0b, 0x0c0d, 0x80000000u, 0xffffffffu, std::string_view("x\0y", 3)}, TamCabecera, "x"},
      {{1, 2, 1, 1, "nombre_de_treinta_y_dos_bytes_!!"},
       TamCabecera,
       "nombre_de_treinta_y_dos_bytes_!!"},
      {{1, 2, 1, 1, "nombre_de_treinta_y_dos_bytes_!!"},
       TamCabecera - 2,
       "nombre_de_treinta_y_dos_bytes_"},
      {{1, 2, 1, 1, "nombre_de_mas_de_treinta_y_dos_bytes"},
       TamCabecera,
       "nombre_de_mas_de_treinta_y_dos_b"},
  };
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.nombre_leido);
    // no NUL anywhere after the header: only legibles bounds the name
    std::vector<unsigned char> bytes(TamCabecera + 8, 'z');
    CodificarCabecera(caso.campos, bytes.data());
    DatagramaActual actual;
    DecodificarCabecera(bytes.data(), caso.legibles, actual);
    char tipo[5];
    snprintf(tipo, sizeof tipo, "%04x", caso.campos.tipo);
    EXPECT_STREQ(actual.eltipo, tipo);
    EXPECT_EQ(actual.parteactual, static_cast<int32_t>(caso.campos.parte - 1u));
    EXPECT_EQ(actual.totpartes, static_cast<int32_t>(caso.campos.totpartes));
    EXPECT_EQ(actual.nombre, caso.nombre_leido);
  }
}

}  // namespace
