// Two senders of one file, each with its own version, interleaved at random as two carousels on
// one group: with several files at once (-f 2) or new versions taken (-a), each version is
// rebuilt apart, completes on its own and is never mixed with the other; with -r, each resumes
// with its own sender after a stop.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>

#include "e2e.h"

namespace {

constexpr uint32_t kPartes = 50;
const std::string kId = "0001-0002-doc";

class DosEmisores : public testing::Test {
 protected:
  void SetUp() override {
    ExigirRedPrivada();
    dir = DirectorioNuevo();
    copias = DirectorioNuevo();
  }
  void TearDown() override {
    if (cliente.pid > 0 && cliente.estado < 0) Terminar(cliente);
    BorrarDirectorio(dir);
    BorrarDirectorio(copias);
  }
  void Arrancar(std::vector<std::string> opciones) {
    std::vector<std::string> argumentos = {CLIENT_PATH, "-q"};
    argumentos.insert(argumentos.end(), opciones.begin(), opciones.end());
    argumentos.insert(argumentos.end(), {destino.grupo, std::to_string(destino.puerto), "2"});
    cliente = Lanzar(argumentos, dir);
    ASSERT_TRUE(EsperarUnion(destino));
  }
  // Parts desde to hasta (counted from 1) of both versions, in an order of their own each,
  // interleaved at random.
  void Pasada(std::mt19937 &azar, uint32_t desde = 1, uint32_t hasta = kPartes) {
    std::vector<std::pair<int, uint32_t>> envios;
    for (int emisor : {0, 1})
      for (uint32_t i = desde; i <= hasta; ++i) envios.emplace_back(emisor, i);
    std::shuffle(envios.begin(), envios.end(), azar);
    for (const auto &[emisor, i] : envios)
      Enviar(destino,
             Datagrama(1, 2, i, kPartes, "doc", versiones[emisor].substr((i - 1) * 1000, 1000)),
             origenes[emisor]);
    Escuchar(cliente, 0.2);
  }
  bool EsUnaVersion(const std::string &contenido) {
    return contenido == versiones[0] || contenido == versiones[1];
  }
  Destino destino = DestinoNuevo();
  std::string dir, copias;
  const std::string versiones[2] = {ContenidoAleatorio(kPartes * 1000, 33),
                                    ContenidoAleatorio(kPartes * 1000, 34)};
  const std::string origenes[2] = {"127.0.0.1", "127.0.0.2"};
  Proceso cliente;
};

// Within two passes a version is stored, whole; with -a each pass of each completes and
// replaces it, and each reaches the program; without -a the first stays and the other sender's
// datagrams are answered as stored.
TEST_F(DosEmisores, CadaVersionSeCompletaSinMezclarse) {
  std::ofstream(copias + "/copiar") << "#!/bin/sh\ncp \"$1\" \"" << copias << "/v.$$\"\n";
  chmod((copias + "/copiar").c_str(), 0755);
  struct Caso {
    std::vector<std::string> opciones;
    bool ambas;  // both versions complete, each handed to the program
  } casos[] = {{{"-f", "2"}, false}, {{"-a", "-x", copias + "/copiar"}, true}};
  std::mt19937 azar(33);
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.opciones[0]);
    ASSERT_NO_FATAL_FAILURE(Arrancar(caso.opciones));
    for (int pasada = 0; pasada < 2; ++pasada) Pasada(azar);
    EXPECT_TRUE(EsUnaVersion(LeerFichero(dir + "/" + kId))) << "no version whole after two passes";
    for (int pasada = 0; pasada < 4; ++pasada) {
      Pasada(azar);
      EXPECT_TRUE(EsUnaVersion(LeerFichero(dir + "/" + kId))) << "mixed or missing";
    }
    Escuchar(cliente, 0.5);
    EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
    bool vistas[2] = {false, false};
    for (const std::string &copia : Listar(copias))
      for (int v : {0, 1}) vistas[v] |= LeerFichero(copias + "/" + copia) == versiones[v];
    EXPECT_EQ(vistas[0] && vistas[1], caso.ambas) << cliente.salida;
    // but the temporary file of a version in progress when the receiver ended
    for (const std::string &nombre : Listar(dir)) {
      EXPECT_TRUE(nombre == kId || nombre.ends_with(".tmp")) << nombre;
      std::filesystem::remove(dir + "/" + nombre);
    }
  }
}

// Stopped halfway with -r, each version resumes with its own sender, under its own name, and
// the one stored is one of them, whole.
TEST_F(DosEmisores, ConReanudarCadaVersionSigueConSuEmisor) {
  std::mt19937 azar(34);
  ASSERT_NO_FATAL_FAILURE(Arrancar({"-r", "-f", "2"}));
  // the first sender's version takes the plain names
  Enviar(destino, Datagrama(1, 2, 1, kPartes, "doc", versiones[0].substr(0, 1000)), origenes[0]);
  Escuchar(cliente, 0.1);
  Pasada(azar, 1, kPartes / 2);
  EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
  EXPECT_EQ(Listar(dir),
            (std::vector<std::string>{"." + kId + ".partes", "." + kId + "@127.0.0.2.partes",
                                      kId + ".tmp", kId + "@127.0.0.2.tmp"}));
  ASSERT_NO_FATAL_FAILURE(Arrancar({"-r", "-f", "2"}));
  Pasada(azar, kPartes / 2 + 1, kPartes);
  Escuchar(cliente, 0.3);
  EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
  for (const std::string &apodo : {kId, kId + "@127.0.0.2"})
    EXPECT_NE(cliente.salida.find(apodo + ": Reanudado con 25 de 50 partes.\n"), std::string::npos)
        << cliente.salida;
  EXPECT_TRUE(EsUnaVersion(LeerFichero(dir + "/" + kId))) << cliente.salida;
  EXPECT_EQ(Listar(dir), std::vector<std::string>{kId}) << "leftovers";
}

}  // namespace
