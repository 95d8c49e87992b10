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

// A file named "foo@<address>", stored or in progress, and that sender's version of foo are rebuilt
// apart; what a version left before a kill -9 goes when its sender starts again plainly named.
TEST_F(DosEmisores, UnNombreElegidoNoTocaLaVersionDeOtroEmisor) {
  std::map<char, std::string> fuente;
  for (char c : {'A', 'B', 'C'}) fuente[c] = ContenidoAleatorio(4 * 500, c);
  // pasos: "<content><last byte of its sender> <first part> <last part> <name>", "!" a kill -9
  // and a start again; despues: every file left, as "<name> <content>" ('-': any)
  struct Caso {
    std::vector<std::string> opciones, pasos, despues;
    std::string antes, linea;  // a file in the directory before the start; a line of the log
  } casos[] = {
      {{"-q", "-f", "4"},
       {"A1 1 1 foo", "C9 1 2 foo@127.0.0.3", "B3 1 1 foo", "A1 2 4 foo", "C9 3 4 foo@127.0.0.3",
        "B3 2 4 foo"},
       {"foo A", "foo@127.0.0.3 C"}, "",
       // the version's name in the log is not the other file's
       "foo@127.0.0.3#2: Empezado con 4 partes de 500 bytes.\n"},
      {{"-q", "-a", "-f", "2"}, {"A1 1 1 foo", "B3 1 1 foo", "C9 1 1 foo@127.0.0.3", "B3 2 4 foo"},
       {"foo B", "foo.tmp -", "foo@127.0.0.3 C"}, "0001-0002-foo@127.0.0.3",
       "foo@127.0.0.3#2: Completado!\n"},
      {{"-q", "-r", "-f", "2"}, {"A1 1 1 data", "B2 1 1 data", "!", "B2 1 4 data", "A1 1 4 data"},
       {"data B"}, "..0001-0002-data@127.0.0.2.partes.nuevo", "data: Completado!\n"},
  };
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.opciones[1]);
    if (!caso.antes.empty()) std::ofstream(dir + "/" + caso.antes) << fuente['C'];
    ASSERT_NO_FATAL_FAILURE(Arrancar(caso.opciones));
    for (const std::string &paso : caso.pasos) {
      if (paso == "!") Acabar(cliente), Arrancar(caso.opciones);
      char c = 0, nombre[33] = "";
      unsigned emisor = 0, desde = 1, hasta = 0;
      sscanf(paso.c_str(), "%c%u %u %u %32s", &c, &emisor, &desde, &hasta, nombre);
      for (uint32_t i = desde; i <= hasta; ++i)
        Enviar(destino, Datagrama(1, 2, i, 4, nombre, fuente[c].substr((i - 1) * 500, 500)),
               "127.0.0." + std::to_string(emisor));
      Escuchar(cliente, 0.1);
    }
    EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
    EXPECT_NE(cliente.salida.find("0001-0002-" + caso.linea), std::string::npos) << cliente.salida;
    std::vector<std::string> esperados;
    for (const std::string &fichero : caso.despues) {
      std::string nombre = "0001-0002-" + fichero.substr(0, fichero.find(' '));
      esperados.push_back(nombre);
      EXPECT_TRUE(fichero.back() == '-' || LeerFichero(dir + "/" + nombre) == fuente[fichero.back()])
          << nombre;
    }
    EXPECT_EQ(Listar(dir), esperados) << cliente.salida;
    for (const std::string &nombre : Listar(dir)) std::filesystem::remove(dir + "/" + nombre);
  }
}

}  // namespace
