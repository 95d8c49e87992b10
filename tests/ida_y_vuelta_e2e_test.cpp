// Round trip: files sent by the real emisor and rebuilt by the real client in mode 2, on a group
// joined over loopback inside the private network namespace. Every file is compared byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "e2e.h"

namespace {

constexpr double kEspera = 30;  // seconds for a send and its receipt; a hang fails, not blocks
constexpr std::size_t kParte = 1428;  // the sender's default part, which goes unfragmented

std::size_t Contar(const std::string &texto, const std::string &buscado) {
  std::size_t veces = 0;
  for (std::size_t en = texto.find(buscado); en != std::string::npos;
       en = texto.find(buscado, en + buscado.size()))
    ++veces;
  return veces;
}

std::size_t Partes(std::size_t largo, std::size_t tamparte) {
  return std::max<std::size_t>(1, (largo + tamparte - 1) / tamparte);
}

// The end of a long output is enough to see where it went wrong.
std::string Final(const std::string &salida) {
  return salida.size() > 2000 ? "..." + salida.substr(salida.size() - 2000) : salida;
}

struct Caso {
  std::string nombre;
  std::size_t largo;
  std::vector<std::string> opciones;  // for emisor, besides the rate and the interface
  std::size_t tamparte;               // content bytes per part that the options give
  std::string tipo = "0001";          // type and subtype as the receiver shows them
  std::string subtipo = "0002";
};

class IdaYVuelta : public E2E {
 protected:
  void SetUp() override {
    E2E::SetUp();
    if (!HasFatalFailure()) cliente = LanzarCliente(destino, "2", dir);
  }

  std::string Crear(const std::string &nombre, const std::string &contenido) {
    std::string ruta = aparte + "/" + nombre;
    std::ofstream(ruta, std::ios::binary) << contenido;
    return ruta;
  }

  // Sends with emisor at a rate whose bursts the socket queue always holds, reading the
  // receiver's output meanwhile so that it never waits on a full pipe. Returns that output up to
  // and including the veces-th fin; what follows stays for Leer.
  std::string EnviarYLeer(const std::vector<std::string> &opciones,
                          const std::vector<std::string> &rutas, const std::string &fin,
                          int veces) {
    std::vector<std::string> argumentos = {EMISOR_PATH, "-i", "127.0.0.1", "-r", "20000"};
    argumentos.insert(argumentos.end(), opciones.begin(), opciones.end());
    argumentos.push_back(destino.grupo);
    argumentos.push_back(std::to_string(destino.puerto));
    argumentos.insert(argumentos.end(), rutas.begin(), rutas.end());
    Proceso emisor = Lanzar(argumentos);
    std::string leido = Leer(fin, veces);
    EXPECT_EQ(EsperarFin(emisor, kEspera), 0) << emisor.error;
    // its summary alone
    EXPECT_EQ(emisor.error.rfind("Datagramas enviados: ", 0), 0u) << emisor.error;
    EXPECT_EQ(std::count(emisor.error.begin(), emisor.error.end(), '\n'), 1) << emisor.error;
    return leido;
  }

  // The receiver's output up to and including the veces-th fin still unread.
  std::string Leer(const std::string &fin, int veces) {
    std::string leido;
    for (int i = 0; i < veces; ++i) {
      if (!LeerHastaTexto(cliente, fin, kEspera)) {
        ADD_FAILURE() << "no llego \"" << fin << "\" numero " << i + 1 << ":\n"
                      << Final(leido + cliente.salida);
        break;
      }
      std::size_t hasta = cliente.salida.find(fin) + fin.size();
      leido += cliente.salida.substr(0, hasta);
      cliente.salida.erase(0, hasta);
    }
    return leido;
  }

  // Sends each file alone, one after another to the same receiver, and checks each one's output
  // and content, then that the directory holds exactly the rebuilt files.
  void CadaCasoPorSeparado(const std::vector<Caso> &casos) {
    std::vector<std::string> esperados;
    for (std::size_t i = 0; i < casos.size(); ++i) {
      const Caso &caso = casos[i];
      SCOPED_TRACE(caso.nombre);
      std::string contenido = ContenidoAleatorio(caso.largo, static_cast<unsigned>(i + 1));
      std::string salida =
          EnviarYLeer(caso.opciones, {Crear(caso.nombre, contenido)}, "Completado!\n", 1);
      std::size_t partes = Partes(caso.largo, caso.tamparte);
      // the output of this file alone: it starts with its first datagram, and each part is
      // shown and written exactly once before the file is announced
      EXPECT_EQ(
          salida.rfind("T:" + caso.tipo + "|S:" + caso.subtipo + "|Nom:" + caso.nombre + "|", 0),
          0u)
          << Final(salida);
      EXPECT_EQ(ContarResumenes(salida), partes);
      EXPECT_EQ(Contar(salida, "NO LA TENGO,posicion "), partes);
      EXPECT_EQ(Contar(salida, "\nTotPart:" + std::to_string(partes) + "|"), 1u);
      EXPECT_EQ(Contar(salida, "Completado!\n"), 1u);
      EXPECT_EQ(Contar(salida, "descartad"), 0u);
      std::string final = caso.tipo + "-" + caso.subtipo + "-" + caso.nombre;
      std::string reconstruido = LeerFichero(dir + "/" + final);
      EXPECT_EQ(reconstruido.size(), contenido.size());
      EXPECT_TRUE(reconstruido == contenido) << "el fichero reconstruido difiere del original";
      esperados.push_back(final);
    }
    std::sort(esperados.begin(), esperados.end());
    EXPECT_EQ(Listar(dir), esperados);
    Cerrar();
  }

  // Ends the receiver: nothing may follow the last expected line, and nothing went to stderr.
  void Cerrar() {
    EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
    EXPECT_EQ(cliente.salida, "");
    EXPECT_EQ(cliente.error, "");
  }
};

TEST_F(IdaYVuelta, CadaTamanoVuelveExactoByteAByte) {
  const std::vector<Caso> casos = {
      {"vacio", 0, {}, kParte},
      {"un-byte", 1, {}, kParte},
      {"parte-justa", kParte, {}, kParte},
      {"parte-y-un-byte", kParte + 1, {}, kParte},
      {"unas-partes", 4 * kParte + 300, {}, kParte},
      {"dos-mil-partes", 2000 * kParte - 123, {}, kParte},
      {"tipo-propio", 3000, {"-t", "00A1", "-s", "fF03"}, kParte, "00a1", "ff03"},
      {"partes-pequenas", 1000, {"-p", "7"}, 7},
      {"otra-vacia", 0, {}, kParte},
  };
  CadaCasoPorSeparado(casos);
}

// The receiver places each part by its number, whatever the order of arrival. A last part that
// comes first is placed before the file's part size is known, and must be put right.
TEST_F(IdaYVuelta, LosOrdenesInversoYAleatorioReconstruyenExacto) {
  const std::vector<Caso> casos = {
      {"inverso-primero", 3 * kParte + 10, {"-o", "inverso"}, kParte},
      {"aleatorio-pocas", 6 * kParte + 1, {"-o", "aleatorio", "--semilla", "1"}, kParte},
      {"inverso-dos-mil", 2000 * kParte - 77, {"-o", "inverso"}, kParte},
      {"aleatorio-dos-mil", 1999 * kParte + 5, {"-o", "aleatorio", "--semilla", "42"}, kParte},
      {"inverso-otra-parte", 10 * 1000 + 10, {"-o", "inverso", "-p", "1000"}, 1000},
      {"aleatorio-partes-de-7", 1000, {"-o", "aleatorio", "--semilla", "3", "-p", "7"}, 7},
      {"inverso-parte-justa", 2 * kParte, {"-o", "inverso"}, kParte},
  };
  CadaCasoPorSeparado(casos);
}

// Files of one command go one after another, never interleaved, so that each completes.
// Runs of parts that the kernel cuts into datagrams, and that the receiver takes merged: each
// part shown and stored once, whatever the order and the part size.
TEST_F(IdaYVuelta, LasTandasDelNucleoReconstruyenExacto) {
  const std::vector<Caso> casos = {
      {"tandas", 2000 * kParte - 77, {"--gso"}, kParte},
      {"tandas-justas", 86 * kParte, {"--gso", "-o", "inverso"}, kParte},
      {"tandas-al-azar", 500 * kParte + 5, {"--gso", "-o", "aleatorio", "--semilla", "9"}, kParte},
      {"tandas-de-7", 1000, {"--gso", "-p", "7"}, 7},
  };
  CadaCasoPorSeparado(casos);
}

TEST_F(IdaYVuelta, VariosFicherosDeUnaOrdenLleganUnoTrasOtro) {
  struct Fichero {
    std::string nombre;
    std::size_t largo;
  };
  const Fichero ficheros[] = {
      {"primero", 1}, {"segundo", 3000}, {"tercero", 20 * kParte}, {"cuarto", 0}};
  std::vector<std::string> esperados;
  for (const std::string orden : {"directo", "inverso", "aleatorio"}) {
    SCOPED_TRACE(orden);
    std::vector<std::string> rutas, contenidos;
    std::size_t partes = 0;
    for (const Fichero &f : ficheros) {
      contenidos.push_back(ContenidoAleatorio(f.largo, static_cast<unsigned>(rutas.size() + 30)));
      rutas.push_back(Crear(orden + "-" + f.nombre, contenidos.back()));
      esperados.push_back("0001-0002-" + orden + "-" + f.nombre);
      partes += Partes(f.largo, kParte);
    }
    std::string salida = EnviarYLeer({"-o", orden, "--semilla", "5"}, rutas, "Completado!\n",
                                     static_cast<int>(rutas.size()));
    EXPECT_EQ(ContarResumenes(salida), partes);
    for (std::size_t i = 0; i < rutas.size(); ++i) {
      SCOPED_TRACE(ficheros[i].nombre);
      EXPECT_TRUE(LeerFichero(dir + "/0001-0002-" + orden + "-" + ficheros[i].nombre) ==
                  contenidos[i]);
    }
  }
  std::sort(esperados.begin(), esperados.end());
  EXPECT_EQ(Listar(dir), esperados);
  Cerrar();
}

// A stored file is kept as it is: every later part of that identity is only answered.
TEST_F(IdaYVuelta, UnFicheroYaGrabadoNoSeReescribe) {
  std::string contenido = ContenidoAleatorio(4 * kParte + 100, 21);
  std::string ruta = Crear("guardado", contenido);
  std::string salida = EnviarYLeer({"-v", "2"}, {ruta}, "Completado!\n", 1);
  EXPECT_EQ(ContarResumenes(salida), 5u);
  std::string ya;
  for (int i = 0; i < 5; ++i)
    ya += Resumen("0001", "0002", "guardado", i, 5, kParte, 0) + "Ya grabado antes...\n";
  // the second pass finds it stored
  EXPECT_EQ(Leer("Ya grabado antes...\n", 5), ya);

  // the same name with another content and another part count
  std::string otro = Crear("otro", ContenidoAleatorio(2 * kParte, 22));
  std::string respuesta;
  for (int i = 0; i < 2; ++i)
    respuesta += Resumen("0001", "0002", "guardado", i, 2, kParte, 0) + "Ya grabado antes...\n";
  EXPECT_EQ(EnviarYLeer({"-n", "guardado"}, {otro}, "Ya grabado antes...\n", 2), respuesta);
  EXPECT_TRUE(LeerFichero(dir + "/0001-0002-guardado") == contenido);
  EXPECT_EQ(Listar(dir), std::vector<std::string>{"0001-0002-guardado"});
  Cerrar();
}

}  // namespace
