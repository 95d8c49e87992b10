// One budget for the lines that anyone on the network can cause (refusals, files started and
// dropped): past a few a second, lines go untold and are counted by cause and sender, and one
// line a minute says what went untold.
#ifndef FRENO_H
#define FRENO_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

/// Lines told at most in a burst, and then each second.
inline constexpr int kLineasSeguidas = 10;
inline constexpr int kLineasPorSegundo = 3;
/// What went untold is said at most this often.
inline constexpr int64_t kMsEntreCallados = 60 * 1000;
/// Causes and senders counted apart at most; the rest count together.
inline constexpr std::size_t kMaxCallados = 64;

/// Lines of one cause and sender that went untold.
struct Callado {
  std::string causa, emisor;  // both empty: the rest, past kMaxCallados
  uint64_t veces = 0;
};

struct FrenoDeLineas {
  double fichas = kLineasSeguidas;  // lines that may be told now
  int64_t repuesto_ms = 0;            // when fichas were last refilled, monotonic
  // what went untold since it was last said, by cause and sender; a few, looked through in
  // order, as a flood makes one a datagram
  std::vector<Callado> callados;
  uint64_t sin_decir = 0;    // the sum of callados
  int64_t desde_ms = 0;      // when the first of them went untold
  uint64_t total_sin_decir = 0;  // since the start, for the status file
};

/// Whether a line may be told at ahora_ms, taking its share of the budget.
bool TomarFicha(FrenoDeLineas &freno, int64_t ahora_ms);

/// Counts a line about causa (a line's format, or a word such as "Empezado") caused by emisor as
/// untold, veces times.
void Callar(FrenoDeLineas &freno, int64_t ahora_ms, const char *causa, std::string_view emisor,
            uint64_t veces);

/// Once kMsEntreCallados have passed since a line first went untold (or now, with todo), says
/// what went untold on one line at warning: "Avisos sin decir en los ultimos S s: N. <causa>,
/// de <emisor>: n. ...", the most frequent first.
void DecirCallados(FrenoDeLineas &freno, int64_t ahora_ms, bool todo, FILE *salida);

#endif
