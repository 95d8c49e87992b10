#include "salida.h"

#include <cstring>

void EscribirTexto(FILE *salida, std::string_view texto) {
  fwrite_unlocked(texto.data(), 1, texto.size(), salida);
}

std::size_t FormatearEntero(char *destino, int64_t numero) {
  char cifras[20];
  std::size_t cuantas = 0;
  // work on the magnitude as unsigned so that the most negative value has one
  uint64_t magnitud = numero < 0 ? 0 - static_cast<uint64_t>(numero) : static_cast<uint64_t>(numero);
  do {
    cifras[cuantas++] = static_cast<char>('0' + magnitud % 10);
    magnitud /= 10;
  } while (magnitud != 0);
  std::size_t largo = 0;
  if (numero < 0) destino[largo++] = '-';
  while (cuantas > 0) destino[largo++] = cifras[--cuantas];
  return largo;
}

void EscribirEntero(FILE *salida, int64_t numero) {
  char texto[20];
  fwrite_unlocked(texto, 1, FormatearEntero(texto, numero), salida);
}
