// The sender's progress figures and line, on counts and times given by the test.
#include "progreso.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr int64_t kMs = 1000000;

TEST(Progreso, LasCifrasSonLasDelUltimoSegundo) {
  struct Caso {
    const char *que;
    std::vector<Muestra> antes;  // the first one is the start
    Muestra ahora;
    uint64_t previstos;
    Cifras esperadas;
  } casos[] = {
      {"a 1/s, el primer dibujo ya dice 1/s",
       {{0, 0, 0, 0}},
       {250 * kMs, 1, 1, 1000},
       10,
       {1, 0.008, 9}},
      {"a 1000/s, la muestra de hace un segundo",
       {{0, 0, 0, 0},
        {1000 * kMs, 1000, 1000, 10000},
        {1250 * kMs, 1250, 1250, 12500},
        {2000 * kMs, 2000, 2000, 20000}},
       {2250 * kMs, 2250, 2250, 22500},
       5000,
       {1000, 0.08, 3}},
      {"lo omitido adelanta el final",
       {{0, 0, 0, 0}},
       {1000 * kMs, 400, 200, 2000},
       1000,
       {200, 0.016, 2}},
      {"en carrusel no hay final", {{0, 0, 0, 0}}, {500 * kMs, 50, 50, 500}, 0, {50, 0.004, -1}},
      {"sin nada enviado no hay final", {{0, 0, 0, 0}}, {500 * kMs, 0, 0, 0}, 10, {0, 0, -1}},
  };
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.que);
    Progreso progreso;
    for (const Muestra &muestra : caso.antes) AnotarMuestra(progreso, muestra);
    Cifras cifras = CifrasDelUltimoSegundo(progreso, caso.ahora, caso.previstos);
    EXPECT_DOUBLE_EQ(cifras.datagramas_s, caso.esperadas.datagramas_s);
    EXPECT_DOUBLE_EQ(cifras.mbit_s, caso.esperadas.mbit_s);
    EXPECT_EQ(cifras.quedan_s, caso.esperadas.quedan_s);
  }
}

TEST(Progreso, LaLineaNombraFicheroYPasadaYCabeEnElTerminal) {
  Cuentas cuentas{1234, 0, 0, 0, 5000};
  Cifras cifras{850, 9.7, 65};
  struct Caso {
    Posicion posicion;
    int columnas;
    std::string linea;
  } casos[] = {
      {{"informe.pdf", 2, 3, 1, 1},
       100,
       "Partes enviadas: 1234/5000  quedan 0:01:05  850 datagramas/s  9.7 Mbit/s  pasada 2/3  "
       "informe.pdf  "},
      {{"informe.pdf", 2, 3, 1, 1}, 40, "Partes enviadas: 1234/5000  quedan 0:01"},
      {{"a", 7, 0, 2, 3},
       102,
       "Partes enviadas: 1234/5000  quedan 0:01:05  850 datagramas/s  9.7 Mbit/s  pasada 7  "
       "repeticion 2/3  a"},
  };
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.columnas);
    EXPECT_EQ(LineaDeProgreso(cuentas, caso.posicion, cifras, caso.columnas), caso.linea);
  }
}

}  // namespace
