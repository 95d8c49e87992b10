// The sender's pace, on times given by the test: no socket, no clock.
#include "ritmo.h"

#include <gtest/gtest.h>

namespace {

constexpr int64_t kMs = 1000000;

TEST(Ritmo, CadaDatagramaEsperaSuTurnoYUnRetrasoLargoSeOlvida) {
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
      {"un retraso largo se olvida", 100, false, 3, 100 * kMs, 0, 70 * kMs},
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

}  // namespace
