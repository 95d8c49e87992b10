// The dump of a datagram's first 50 bytes, captured byte for byte.
#include "volcado.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "entrada.h"

namespace {

std::string Volcar(const unsigned char *paquete, int tampaquete) {
  char *texto = nullptr;
  size_t largo = 0;
  FILE *salida = open_memstream(&texto, &largo);
  ImprimirVolcado(paquete, tampaquete, salida);
  fclose(salida);
  std::string resultado(texto, largo);
  free(texto);
  return resultado;
}

std::vector<std::string> Lineas(const std::string &texto) {
  std::vector<std::string> lineas;
  std::istringstream entrada(texto);
  for (std::string linea; std::getline(entrada, linea);) lineas.push_back(linea);
  return lineas;
}

std::string Repetir(const std::string &celda, int veces) {
  std::string fila;
  for (int i = 0; i < veces; ++i) fila += celda;
  return fila;
}

TEST(Volcado, UnDatagramaSeVuelcaEnDosBloquesEntreSeparadores) {
  unsigned char paquete[kTamRanura] = {0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x04, 0x00,
                                       0x00, 0x00, 0x0a, 'd',  'a',  't',  'o',  's'};
  const std::string esperado =
      std::string(53, '=') + " 1500\n" +
      "00|01|02|03|04|05|06|07|08|09|10|11|12|13|14|15|16|17|18|19|20|21|22|23|24|\n"
      "00|01|00|02|00|00|00|04|00|00|00|0a|64|61|74|6f|73|00|00|00|00|00|00|00|00|\n"
      "NO|NO|NO|NO|NO|NO|NO|NO|NO|NO|NO|NO| d| a| t| o| s|NO|NO|NO|NO|NO|NO|NO|NO|\n" +
      std::string(58, '-') + " 1500\n" +
      "25|26|27|28|29|30|31|32|33|34|35|36|37|38|39|40|41|42|43|44|45|46|47|48|49|\n" +
      Repetir("00|", 25) + "\n" + Repetir("NO|", 25) + "\n" + std::string(53, '=') + "\n";
  EXPECT_EQ(Volcar(paquete, 1500), esperado);
}

TEST(Volcado, ElUmbralDeCaracteresEsExclamacion) {
  struct Caso {
    unsigned char byte;
    const char *celda;
  } casos[] = {
      {0x00, "NO|"}, {0x0a, "NO|"},    {0x20, "NO|"},    {0x21, "NO|"},    {0x22, " \"|"},
      {'~', " ~|"},  {0x7f, " \x7f|"}, {0x80, " \x80|"}, {0xff, " \xff|"},
  };
  for (const Caso &caso : casos) {
    SCOPED_TRACE(static_cast<int>(caso.byte));
    unsigned char paquete[kTamRanura] = {};
    paquete[0] = caso.byte;
    EXPECT_EQ(Lineas(Volcar(paquete, 1)).at(3).substr(0, 3), caso.celda);
  }
}

TEST(Volcado, CadaByteSeMuestraEnAmbosBloquesComoHexadecimalYCaracter) {
  for (int byte = 0x00; byte <= 0xff; ++byte) {
    SCOPED_TRACE(byte);
    unsigned char paquete[kTamRanura];
    memset(paquete, byte, sizeof paquete);
    char hexadecimal[8];
    snprintf(hexadecimal, sizeof hexadecimal, "%02x|", byte);
    const std::string caracter =
        byte >= '"' ? std::string(" ") + static_cast<char>(byte) + "|" : "NO|";
    std::vector<std::string> lineas = Lineas(Volcar(paquete, 50));
    ASSERT_EQ(lineas.size(), 9u);
    for (int fila : {2, 6}) EXPECT_EQ(lineas[fila], Repetir(hexadecimal, 25));
    for (int fila : {3, 7}) EXPECT_EQ(lineas[fila], Repetir(caracter, 25));
  }
}

TEST(Volcado, LosSeparadoresLlevanLaLongitudYElCierreNo) {
  for (int tampaquete : {0, 1, 9, 10, 43, 44, 99, 100, 1499, 1500}) {
    SCOPED_TRACE(tampaquete);
    unsigned char paquete[kTamRanura] = {};
    const std::string texto = Volcar(paquete, tampaquete);
    std::vector<std::string> lineas = Lineas(texto);
    ASSERT_EQ(lineas.size(), 9u);
    EXPECT_EQ(lineas[0], std::string(53, '=') + " " + std::to_string(tampaquete));
    EXPECT_EQ(lineas[4], std::string(58, '-') + " " + std::to_string(tampaquete));
    EXPECT_EQ(lineas[8], std::string(53, '='));
    EXPECT_EQ(texto.back(), '\n');
  }
}

}  // namespace
