// The sender's pace, on times given by the test: no socket, no clock.
#include "ritmo.h"

#include <gtest/gtest.h>

namespace {

constexpr int64_t kMs = 1000000;

TEST(Ritmo, CadaDatagramaEsperaSuTurnoYSoloSeOlvidaLoQuePasaDeUnSegundo) {
  struct Caso {
    const char *que;
    double por_segundo;
    bool en_bits;
    int datagramas;  // already counted, of 1000 bytes each
    int64_t ahora;
    int64_t espera;  // what the pace answers
    int64_t origen;  // where the schedule starts afterwards
  } casos[] = {
      {"sin limite nunca espera", 0, false, 1000, 0, 0, 0},
      {"a 100/s el cuarto sale a los 30 ms", 100, false, 3, 10 * kMs, 20 * kMs, 0},
      {"en su turno sale ya", 100, false, 3, 30 * kMs, 0, 0},
      {"un retraso corto se recupera", 100, false, 3, 34 * kMs, 0, 0},
      {"un retraso de 100 ms tambien", 100, false, 3, 130 * kMs, 0, 0},
      {"de un retraso de 1,5 s se olvida medio", 100, false, 3, 1530 * kMs, 0, 500 * kMs},
      {"en bits cuenta los bytes", 400e3, true, 3, 0, 60 * kMs, 0},
      {"en bits, retrasado", 400e3, true, 3, 61 * kMs, 0, 0},
  };
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.que);
    Ritmo ritmo{caso.por_segundo, caso.en_bits, 0, 0};
    for (int i = 0; i < caso.datagramas; ++i) ContarDatagrama(ritmo, 1000);
    EXPECT_EQ(EsperaHastaTurno(ritmo, caso.ahora), caso.espera);
    EXPECT_EQ(ritmo.origen, caso.origen);
  }
}

// A sender stalled at the start, then sending the instant it may, on a clock moved only by the
// waits it is told: it catches up at twice the rate, in bursts of 1 ms worth at most.
TEST(Ritmo, TrasUnParonRecuperaLaMediaEnRafagasDeUnMilisegundo) {
  struct Caso {
    double por_segundo;    // datagrams
    int64_t paron, hasta;  // ms of the stall, and by when all that is owed has left
    int rafaga;            // most datagrams in a row without a wait
    int enviados;          // by hasta: of a stall longer than a second, a second is owed
  } casos[] = {{100000, 500, 1000, 100, 100000}, {1000, 2000, 3000, 1, 2000}};
  for (const Caso &caso : casos) {
    Ritmo ritmo{caso.por_segundo, false, 0, 0};
    int seguidos = 0, rafaga = 0, enviados = 0;
    for (int64_t ahora = caso.paron * kMs, espera; ahora < caso.hasta * kMs && enviados < 1e6;) {
      ahora += espera = EsperaHastaTurno(ritmo, ahora);
      rafaga = std::max(rafaga, seguidos = espera == 0 ? seguidos + 1 : 0);
      if (espera == 0) ContarDatagrama(ritmo, 1000), ++enviados;
    }
    EXPECT_EQ(rafaga, caso.rafaga);
    EXPECT_NEAR(enviados, caso.enviados, 1);
  }
}

}  // namespace
