#include "salida.h"
#include "reloj.h"

#include <stdio_ext.h>
#include <sys/stat.h>

#include <array>
#include <cstdlib>
#include <ctime>

// Two digits at a time: half the divisions of a digit-by-digit conversion.
static constexpr char kPares[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The powers of ten that a uint64_t holds, 10^0 to 10^19.
static constexpr auto kPotencias = [] {
  std::array<uint64_t, 20> potencias{};
  uint64_t potencia = 1;
  for (uint64_t &p : potencias) {
    p = potencia;
    potencia *= 10;  // past 10^19 it wraps, unsigned, and is not kept
  }
  return potencias;
}();

// Digits of a magnitude, from its bit length (1233 / 4096 is just over log10 2) and one
// comparison: no loop over the digits. 0 counts as 1, which has as many.
static std::size_t Cifras(uint64_t magnitud) {
  uint64_t v = magnitud | 1;
  auto t = static_cast<std::size_t>((64 - __builtin_clzll(v)) * 1233 >> 12);
  return t + 1 - (v < kPotencias[t] ? 1 : 0);
}

// The digits of the magnitude, written backwards from fin, two at a time.
static void EscribirCifras(char *fin, uint64_t magnitud) {
  while (magnitud >= 100) {
    fin -= 2;
    memcpy(fin, kPares + 2 * (magnitud % 100), 2);
    magnitud /= 100;
  }
  if (magnitud >= 10)
    memcpy(fin - 2, kPares + 2 * magnitud, 2);
  else
    fin[-1] = static_cast<char>('0' + magnitud);
}

// Up to four digits, forward, without leading zeros: the numbers of a line mostly have so few
// that a comparison or two beats counting their digits.
static std::size_t HastaCuatroCifras(char *destino, uint32_t n) {
  if (n < 10) {
    destino[0] = static_cast<char>('0' + n);
    return 1;
  }
  if (n < 100) {
    memcpy(destino, kPares + 2 * n, 2);
    return 2;
  }
  uint32_t alto = n / 100, bajo = n % 100;
  std::size_t largo = alto < 10 ? 1 : 2;
  if (alto < 10)
    destino[0] = static_cast<char>('0' + alto);
  else
    memcpy(destino, kPares + 2 * alto, 2);
  memcpy(destino + largo, kPares + 2 * bajo, 2);
  return largo + 2;
}

// Exactly four digits, zeros included.
static void CuatroCifras(char *destino, uint32_t n) {
  memcpy(destino, kPares + 2 * (n / 100), 2);
  memcpy(destino + 2, kPares + 2 * (n % 100), 2);
}

// Under 10^8, as a file's parts, counts and offsets mostly are, in groups of four digits.
std::size_t FormatearEntero(char *destino, int64_t numero) {
  if (numero >= 0 && numero < 10000)
    return HastaCuatroCifras(destino, static_cast<uint32_t>(numero));
  if (numero >= 0 && numero < 100000000) {
    auto n = static_cast<uint32_t>(numero);
    std::size_t largo = HastaCuatroCifras(destino, n / 10000);
    CuatroCifras(destino + largo, n % 10000);
    return largo + 4;
  }
  // the magnitude as unsigned, so that the most negative value has one
  uint64_t magnitud =
      numero < 0 ? 0 - static_cast<uint64_t>(numero) : static_cast<uint64_t>(numero);
  std::size_t largo = Cifras(magnitud) + (numero < 0 ? 1 : 0);
  if (numero < 0) destino[0] = '-';
  EscribirCifras(destino + largo, magnitud);
  return largo;
}

static void QuitarControles(char *desde, char *hasta) {
  for (char *c = desde; c != hasta; ++c) {
    unsigned char byte = static_cast<unsigned char>(*c);
    if (byte < 0x20 || byte == 0x7f) *c = '?';
  }
}

void AnadirNombre(Renglon &renglon, std::string_view nombre, bool a_terminal) {
  char *inicio = renglon.texto + renglon.largo;
  Anadir(renglon, nombre);
  if (a_terminal) QuitarControles(inicio, renglon.texto + renglon.largo);
}

std::string NombreVisible(std::string_view nombre) {
  std::string visible(nombre);
  QuitarControles(visible.data(), visible.data() + visible.size());
  return visible;
}

void VaciarSiHaEsperado(Vaciado &vaciado, FILE *salida) {
  if (__fpending(salida) == 0) {
    vaciado.pendiente = false;
    return;
  }
  int64_t ahora = AhoraNs();
  if (!vaciado.pendiente) {
    vaciado.pendiente = true;
    vaciado.desde = ahora;
  } else if (ahora - vaciado.desde >= kEsperaAntesDeVaciar) {
    Vaciar(vaciado, salida);
  }
}

int64_t EsperaHastaVaciar(const Vaciado &vaciado) {
  int64_t resta = vaciado.desde + kEsperaAntesDeVaciar - AhoraNs();
  return resta > 0 ? resta : 0;
}

void Vaciar(Vaciado &vaciado, FILE *salida) {
  fflush(salida);
  vaciado.pendiente = false;
}

// Which of standard output and standard error the journal reads, fixed for the run.
static bool g_al_diario[2] = {false, false};

void DetectarDiario() {
  const char *flujo = getenv("JOURNAL_STREAM");
  unsigned long long dispositivo = 0, nodo = 0;
  if (flujo == nullptr || sscanf(flujo, "%llu:%llu", &dispositivo, &nodo) != 2) return;
  for (int fd : {1, 2}) {
    struct stat datos;
    g_al_diario[fd - 1] =
        fstat(fd, &datos) == 0 && datos.st_dev == dispositivo && datos.st_ino == nodo;
  }
}

bool AlDiario(FILE *flujo) {
  int fd = flujo == stdout ? 1 : flujo == stderr ? 2 : 0;
  return fd != 0 && g_al_diario[fd - 1];
}

const char *Prefijo(FILE *flujo, Prioridad prioridad) {
  if (!AlDiario(flujo)) return "";
  return prioridad == Prioridad::kError ? "<3>" : prioridad == Prioridad::kAviso ? "<4>" : "<6>";
}
