// Two senders of one file, each with its own version, interleaved at random as two carousels on
// one group: with several files at once (-f 2) or new versions taken (-a), each version is
// rebuilt apart, completes on its own and is never mixed with the other; with -r, each resumes
// with its own sender after a stop.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "e2e.h"

namespace {

constexpr uint32_t kPartes = 50;

class DosEmisores : public E2E {};

// A version is stored, whole, within two passes, or once stopped halfway with -r and resumed
// by each sender under its own name; later passes leave it whole. With -a each pass of each
// completes and replaces it, and each reaches the program; without it the first stays and the
// other sender's datagrams are answered as stored.
TEST_F(DosEmisores, CadaVersionSeCompletaSinMezclarse) {
  const std::string kId = "0001-0002-doc", origenes[2] = {"127.0.0.1", "127.0.0.2"};
  const std::string versiones[2] = {ContenidoAleatorio(kPartes * 1000, 33),
                                    ContenidoAleatorio(kPartes * 1000, 34)};
  std::mt19937 azar(33);
  auto enviar = [&](int emisor, uint32_t i) {
    std::string parte = versiones[emisor].substr((i - 1) * 1000, 1000);
    Enviar(destino, Datagrama(1, 2, i, kPartes, "doc", parte), origenes[emisor]);
  };
  // parts desde to hasta of both versions, in an order of their own each, interleaved at random
  auto pasada = [&](uint32_t desde = 1, uint32_t hasta = kPartes) {
    std::vector<std::pair<int, uint32_t>> envios;
    for (int emisor : {0, 1})
      for (uint32_t i = desde; i <= hasta; ++i) envios.emplace_back(emisor, i);
    std::shuffle(envios.begin(), envios.end(), azar);
    for (const auto &[emisor, i] : envios) enviar(emisor, i);
    Escuchar(cliente, 0.2);
    std::string guardado = LeerFichero(dir + "/" + kId);
    return guardado == versiones[0] || guardado == versiones[1];
  };
  std::ofstream(aparte + "/copiar") << "#!/bin/sh\ncp \"$1\" \"" << aparte << "/v.$$\"\n";
  chmod((aparte + "/copiar").c_str(), 0755);
  struct Caso {
    std::vector<std::string> opciones;
    bool ambas;     // both versions complete, each handed to the program
    bool reanudar;  // stopped after half a pass and started again
  } casos[] = {{{"-q", "-f", "2"}, false, false},
               {{"-q", "-r", "-f", "2"}, false, true},
               {{"-q", "-a", "-x", aparte + "/copiar"}, true, false}};
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.opciones[1]);
    ASSERT_NO_FATAL_FAILURE(Arrancar(caso.opciones));
    // the first sender's version takes the plain names
    enviar(0, 1);
    Escuchar(cliente, 0.1);
    pasada(1, kPartes / 2);
    if (caso.reanudar) {
      EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
      EXPECT_EQ(Listar(dir),
                (std::vector<std::string>{".." + kId + "@127.0.0.2.partes", "." + kId + ".partes",
                                          "." + kId + "@127.0.0.2.tmp", kId + ".tmp"}));
      ASSERT_NO_FATAL_FAILURE(Arrancar(caso.opciones));
    }
    // resumed, the half kept and the half sent make it whole; afresh, a second pass does
    bool entera = pasada(kPartes / 2 + 1, kPartes);
    if (!caso.reanudar) entera = pasada();
    EXPECT_TRUE(entera) << "no version whole";
    for (int vez = 0; vez < 4; ++vez) EXPECT_TRUE(pasada()) << "mixed or missing";
    Escuchar(cliente, 0.5);
    EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
    for (const std::string &apodo : {kId, kId + "@127.0.0.2"}) {
      std::size_t en = cliente.salida.find(apodo + ": Reanudado con 25 de 50 partes.\n");
      EXPECT_EQ(en != std::string::npos, caso.reanudar) << cliente.salida;
    }
    bool vistas[2] = {false, false};
    for (const std::string &copia : Listar(aparte))
      for (int v : {0, 1}) vistas[v] |= LeerFichero(aparte + "/" + copia) == versiones[v];
    EXPECT_EQ(vistas[0] && vistas[1], caso.ambas) << cliente.salida;
    // but the temporary file of a version in progress when the receiver ended, without -r
    for (const std::string &nombre : Listar(dir)) {
      EXPECT_TRUE(nombre == kId || (!caso.reanudar && nombre.ends_with(".tmp"))) << nombre;
      std::filesystem::remove(dir + "/" + nombre);
    }
  }
}

// A name a sender chooses never reaches what the receiver keeps for another sender's version: a
// file named "foo@<address>", stored or in progress, and the version of foo from that address
// are rebuilt apart, each equal to its source; what a version left before a kill -9 goes once
// its sender's version starts again under the plain names.
TEST_F(DosEmisores, UnNombreElegidoNoTocaLaVersionDeOtroEmisor) {
  const std::string kId = "0001-0002-";
  std::map<char, std::string> fuente;
  for (char c : {'A', 'B', 'C'}) fuente[c] = ContenidoAleatorio(4 * 500, c);
  struct Paso {
    char contenido;  // whose parts; '!' kills the receiver and starts it again
    std::string origen, nombre;
    uint32_t desde, hasta;
  };
  struct Caso {
    std::vector<std::string> opciones;
    std::map<std::string, std::string> antes;  // files in the directory before the start
    std::vector<Paso> pasos;
    std::map<std::string, char> despues;  // every file left, and whose content it holds
    std::string linea;                    // a line the log holds
  } casos[] = {
      {{"-q", "-f", "4"},
       {},
       {{'A', "127.0.0.1", "foo", 1, 1},
        {'C', "127.0.0.9", "foo@127.0.0.3", 1, 2},
        {'B', "127.0.0.3", "foo", 1, 1},
        {'A', "127.0.0.1", "foo", 2, 4},
        {'C', "127.0.0.9", "foo@127.0.0.3", 3, 4},
        {'B', "127.0.0.3", "foo", 2, 4}},
       {{"foo", 'A'}, {"foo@127.0.0.3", 'C'}},
       // the version's name in the log is not the other file's
       kId + "foo@127.0.0.3#2: Empezado con 4 partes de 500 bytes.\n"},
      {{"-q", "-a", "-f", "2"},
       {{kId + "foo@127.0.0.3", fuente['C']}},
       {{'A', "127.0.0.1", "foo", 1, 1},
        {'B', "127.0.0.3", "foo", 1, 1},
        {'C', "127.0.0.9", "foo@127.0.0.3", 1, 1},
        {'B', "127.0.0.3", "foo", 2, 4}},
       {{"foo", 'B'}, {"foo@127.0.0.3", 'C'}, {"foo.tmp", '-'}},
       kId + "foo@127.0.0.3#2: Completado!\n"},
      {{"-q", "-r", "-f", "2"},
       {{"..0001-0002-data@127.0.0.2.partes.nuevo", "x"}},
       {{'A', "127.0.0.1", "data", 1, 1},
        {'B', "127.0.0.2", "data", 1, 1},
        {'!', "", "", 0, 0},
        {'B', "127.0.0.2", "data", 1, 4},
        {'A', "127.0.0.1", "data", 1, 4}},
       {{"data", 'B'}},
       kId + "data: Completado!\n"},
  };
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.opciones[1]);
    for (const auto &[nombre, bytes] : caso.antes) std::ofstream(dir + "/" + nombre) << bytes;
    ASSERT_NO_FATAL_FAILURE(Arrancar(caso.opciones));
    for (const Paso &paso : caso.pasos) {
      if (paso.contenido == '!') {
        Acabar(cliente);
        ASSERT_NO_FATAL_FAILURE(Arrancar(caso.opciones));
        continue;
      }
      for (uint32_t i = paso.desde; i <= paso.hasta; ++i)
        Enviar(destino,
               Datagrama(1, 2, i, 4, paso.nombre, fuente[paso.contenido].substr((i - 1) * 500, 500)),
               paso.origen);
      Escuchar(cliente, 0.1);
    }
    EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
    EXPECT_NE(cliente.salida.find(caso.linea), std::string::npos) << cliente.salida;
    std::vector<std::string> esperados;
    for (const auto &[nombre, contenido] : caso.despues) {
      esperados.push_back(kId + nombre);
      if (contenido != '-') {
        EXPECT_EQ(LeerFichero(dir + "/" + kId + nombre), fuente[contenido]) << nombre;
      }
    }
    std::sort(esperados.begin(), esperados.end());
    EXPECT_EQ(Listar(dir), esperados) << cliente.salida;
    for (const std::string &nombre : Listar(dir)) std::filesystem::remove(dir + "/" + nombre);
  }
}

}  // namespace
