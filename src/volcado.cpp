#include "volcado.h"

#include <cstring>
#include <string_view>

#include "salida.h"

static constexpr int kCeldasPorFila = 25;
static constexpr std::string_view kLineaIgual =
    "=====================================================";
static constexpr std::string_view kLineaGuion =
    "----------------------------------------------------------";

static void AnadirSeparador(Renglon &r, std::string_view linea, int tampaquete) {
  Anadir(r, linea);
  Anadir(r, " ");
  AnadirEntero(r, tampaquete);
  Anadir(r, "\n");
}

// Two characters and the separator, written without a bound: the dump's rows hold at most
// kTamVistaCabecera cells of three bytes, far within a Renglon.
static void AnadirCelda(Renglon &r, char primero, char segundo) {
  r.texto[r.largo++] = primero;
  r.texto[r.largo++] = segundo;
  r.texto[r.largo++] = '|';
}

static bool EsControlParaTerminal(unsigned char byte) {
  return byte >= 0x7f && byte <= 0x9f;
}

static void AnadirBloque(Renglon &r, const unsigned char *paquete, int desde, bool a_terminal) {
  static const char kCifras[] = "0123456789abcdef";
  for (int i = desde; i < desde + kCeldasPorFila; ++i)
    AnadirCelda(r, static_cast<char>('0' + i / 10), static_cast<char>('0' + i % 10));
  r.texto[r.largo++] = '\n';
  for (int i = desde; i < desde + kCeldasPorFila; ++i)
    AnadirCelda(r, kCifras[paquete[i] >> 4], kCifras[paquete[i] & 0x0f]);
  r.texto[r.largo++] = '\n';
  for (int i = desde; i < desde + kCeldasPorFila; ++i) {
    // space and '!' hide too: only bytes above 0x21 show as themselves
    if (a_terminal && EsControlParaTerminal(paquete[i]))
      AnadirCelda(r, ' ', '?');
    else if (paquete[i] > 0x21)
      AnadirCelda(r, ' ', static_cast<char>(paquete[i]));
    else
      AnadirCelda(r, 'N', 'O');
  }
  r.texto[r.largo++] = '\n';
}

void ImprimirVolcado(const unsigned char *paquete, int tampaquete, FILE *salida, bool a_terminal) {
  Renglon r;
  AnadirSeparador(r, kLineaIgual, tampaquete);
  AnadirBloque(r, paquete, 0, a_terminal);
  AnadirSeparador(r, kLineaGuion, tampaquete);
  AnadirBloque(r, paquete, kCeldasPorFila, a_terminal);
  Anadir(r, kLineaIgual);
  Anadir(r, "\n");
  Emitir(r, salida);
}
