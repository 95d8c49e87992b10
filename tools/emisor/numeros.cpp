#include "numeros.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

// More integer digits than this are refused rather than rounded or wrapped.
static constexpr int kMaxCifras = 18;

static bool EsCifra(char c) {
  return isdigit(static_cast<unsigned char>(c)) != 0;
}

// Digits, then optionally a point and more digits. Leaves in fin what follows the number.
static bool LeerDecimal(const char *texto, const char *&fin, long double &valor) {
  const char *c = texto;
  valor = 0;
  for (; EsCifra(*c); ++c) {
    if (c - texto == kMaxCifras) return false;
    valor = valor * 10 + (*c - '0');
  }
  if (c == texto) return false;
  if (*c == '.') {
    ++c;
    if (!EsCifra(*c)) return false;
    long double peso = 0.1L;
    for (; EsCifra(*c); ++c, peso /= 10) valor += peso * (*c - '0');
  }
  fin = c;
  return true;
}

bool LeerSemilla(const char *texto, uint64_t &semilla) {
  if (!EsCifra(texto[0])) return false;
  errno = 0;
  char *fin;
  unsigned long long leida = strtoull(texto, &fin, 10);
  if (errno != 0 || *fin != '\0') return false;
  semilla = leida;
  return true;
}

bool LeerHex4(const char *texto, uint16_t &valor) {
  if (strlen(texto) != 4 || strspn(texto, "0123456789abcdefABCDEF") != 4) return false;
  valor = static_cast<uint16_t>(strtoul(texto, nullptr, 16));
  return true;
}

bool LeerRitmo(const char *texto, double &por_segundo, bool &en_bits) {
  const char *fin;
  long double valor;
  if (!LeerDecimal(texto, fin, valor)) return false;
  long double factor = 1;
  switch (tolower(static_cast<unsigned char>(*fin))) {
    case '\0':
      break;
    case 'k':
      factor = 1e3L;
      break;
    case 'm':
      factor = 1e6L;
      break;
    case 'g':
      factor = 1e9L;
      break;
    default:
      return false;
  }
  if (*fin != '\0' && fin[1] != '\0') return false;
  // a rate near 0 would make the schedule outgrow the nanosecond clock
  if (valor != 0 && valor * factor < 1e-3L) return false;
  por_segundo = static_cast<double>(valor * factor);
  en_bits = *fin != '\0';
  return true;
}

bool LeerProporcion(const char *texto, double &proporcion) {
  const char *fin;
  long double valor;
  if (!LeerDecimal(texto, fin, valor)) return false;
  long double entero = strcmp(fin, "%") == 0 ? 100 : 1;
  if ((*fin != '\0' && entero == 1) || valor > entero) return false;
  proporcion = static_cast<double>(valor / entero);
  return true;
}
