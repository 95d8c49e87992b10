// Header decoding and identity, on datagrams built in memory.
#include "entrada.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A receive buffer as the loop hands it over: zeroed, the datagram, its NUL after it.
struct Datagrama {
  unsigned char bytes[kTamRanura] = {};
  explicit Datagrama(const std::vector<unsigned char> &contenido) {
    memcpy(bytes, contenido.data(), contenido.size());
    bytes[contenido.size()] = 0;
  }
};

DatagramaActual Decodificar(const std::vector<unsigned char> &contenido) {
  Datagrama datagrama(contenido);
  DatagramaActual actual;
  DecodificarCabecera(datagrama.bytes, actual);
  ConstruirIdentidad(actual);
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
    DecodificarCabecera(datagrama.bytes, actual);
    EXPECT_EQ(actual.nombre, std::string(largo, 'a'));
  }
}

TEST(Cabecera, LaIdentidadSeRehaceEnteraConCadaDatagrama) {
  DatagramaActual actual;
  Datagrama largo(Cabecera({0xab, 0xcd, 0xef, 0x01}, "un_nombre_bastante_largo"));
  DecodificarCabecera(largo.bytes, actual);
  ConstruirIdentidad(actual);
  EXPECT_EQ(actual.elnombre, "abcd-ef01-un_nombre_bastante_largo");
  Datagrama corto(Cabecera({0, 1, 0, 2}, "x"));
  DecodificarCabecera(corto.bytes, actual);
  ConstruirIdentidad(actual);
  EXPECT_EQ(actual.elnombre, "0001-0002-x");
}

}  // namespace
