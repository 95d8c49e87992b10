#include "freno.h"

#include <algorithm>
#include <tuple>
#include <vector>

#include "salida.h"

/// Causes and senders named on the line of what went untold; the rest are summed.
static constexpr std::size_t kCalladosNombrados = 8;

static void Reponer(FrenoDeLineas &freno, int64_t ahora_ms) {
  double nuevas = static_cast<double>(ahora_ms - freno.repuesto_ms) * kLineasPorSegundo / 1000;
  freno.fichas = std::min<double>(kLineasSeguidas, freno.fichas + nuevas);
  freno.repuesto_ms = ahora_ms;
}

bool TomarFicha(FrenoDeLineas &freno, int64_t ahora_ms) {
  Reponer(freno, ahora_ms);
  if (freno.fichas < 1) return false;
  freno.fichas -= 1;
  return true;
}

static Callado *Buscar(FrenoDeLineas &freno, std::string_view causa, std::string_view emisor) {
  for (Callado &c : freno.callados)
    if (c.emisor == emisor && c.causa == causa) return &c;
  return nullptr;
}

void Callar(FrenoDeLineas &freno, int64_t ahora_ms, const char *causa, std::string_view emisor,
            uint64_t veces) {
  if (freno.sin_decir == 0) freno.desde_ms = ahora_ms;
  Callado *c = Buscar(freno, causa, emisor);
  if (c == nullptr && freno.callados.size() >= kMaxCallados) c = Buscar(freno, "", "");
  if (c == nullptr) {
    bool cabe = freno.callados.size() < kMaxCallados;
    c = &freno.callados.emplace_back(Callado{cabe ? causa : "", std::string(cabe ? emisor : ""), 0});
  }
  c->veces += veces;
  freno.sin_decir += veces;
  freno.total_sin_decir += veces;
}

// A cause as the line names it: its format without the numbers, the final stop or the newline.
static std::string NombreDeCausa(std::string_view formato) {
  std::string texto;
  for (std::size_t i = 0; i < formato.size(); ++i) {
    if (formato[i] != '%') {
      texto += formato[i];
      continue;
    }
    while (i + 1 < formato.size() && !isalpha(static_cast<unsigned char>(formato[i + 1]))) ++i;
    ++i;
    texto += 'N';
  }
  while (!texto.empty() && (texto.back() == '\n' || texto.back() == '.')) texto.pop_back();
  return texto;
}

void DecirCallados(FrenoDeLineas &freno, int64_t ahora_ms, bool todo, FILE *salida) {
  if (freno.sin_decir == 0 || (!todo && ahora_ms - freno.desde_ms < kMsEntreCallados)) return;
  // the most frequent first; of as many, by cause and sender
  std::vector<Callado> orden = freno.callados;
  std::sort(orden.begin(), orden.end(), [](const Callado &a, const Callado &b) {
    if (a.veces != b.veces) return a.veces > b.veces;
    return std::tie(a.causa, a.emisor) < std::tie(b.causa, b.emisor);
  });
  std::string linea = std::string(Prefijo(salida, Prioridad::kAviso)) +
                      "Avisos sin decir en los ultimos " +
                      std::to_string((ahora_ms - freno.desde_ms + 500) / 1000) +
                      " s: " + std::to_string(freno.sin_decir) + ".";
  uint64_t otros = 0;
  for (std::size_t i = 0; i < orden.size(); ++i) {
    const Callado &c = orden[i];
    if (i >= kCalladosNombrados || c.causa.empty()) {
      otros += c.veces;
      continue;
    }
    linea += " " + NombreDeCausa(c.causa) + ", de " + NombreVisible(c.emisor) + ": " +
             std::to_string(c.veces) + ".";
  }
  if (otros > 0) linea += " Otros: " + std::to_string(otros) + ".";
  linea += "\n";
  EscribirTexto(salida, linea);
  freno.callados.clear();
  freno.sin_decir = 0;
}
