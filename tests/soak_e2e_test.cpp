// Soak: good files sent again and again in shuffled order with hostile datagrams between their
// parts and junk files between them. The receiver must survive, rebuild every good file exactly
// and write nowhere but its working directory.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <random>

#include "e2e.h"
#include "formato.h"

namespace {

using Reloj = std::chrono::steady_clock;

struct Fichero {
  std::string nombre;
  std::string contenido;
};

std::string Parte(const Fichero &f, uint32_t i) {
  uint32_t total = static_cast<uint32_t>((f.contenido.size() + 1455) / 1456);
  return Datagrama(1, 2, i + 1, total, f.nombre, f.contenido.substr(i * 1456, 1456));
}

// A datagram that no file may take: each kind the receiver must refuse.
std::string Hostil(std::mt19937 &azar, const Fichero &en_curso) {
  std::string sin_nul(300, 'q');
  switch (azar() % 11) {
    case 0:
      return ContenidoAleatorio(azar() % TamCabecera, azar());
    case 1:
      return std::string();
    case 2:
      return Datagrama(1, 2, 1, 2, en_curso.nombre, ContenidoAleatorio(1600, azar()));  // cut
    case 3:
      return Datagrama(1, 2, 60000, 300, en_curso.nombre, "x");
    case 4:
      return Datagrama(1, 2, 0, 300, en_curso.nombre, "x");
    case 5:
      return Datagrama(1, 2, 1, 0, en_curso.nombre, "x");
    case 6:
      return Datagrama(1, 2, 1, 0x80000000u + azar() % 1000, en_curso.nombre, "x");
    case 7:
      return Datagrama(1, 2, 1, 2, "../fuera", "x");
    case 8:
      return Datagrama(1, 2, 1, 2, "trampa/dentro", "x");
    case 9:
      return Datagrama(1, 2, 1, 2, std::string(32, 'n'), sin_nul);
    default:
      return Datagrama(1, 2, 1, 49999, en_curso.nombre, "x");
  }
}

class Soak : public testing::Test {
 protected:
  void SetUp() override {
    ExigirRedPrivada();
    raiz = DirectorioNuevo();
    dir = raiz + "/trabajo";
    std::filesystem::create_directories(dir + "/0001-0002-trampa");
    cliente = LanzarCliente(destino, "2", dir);
  }
  void TearDown() override {
    if (cliente.estado < 0) Terminar(cliente);
    BorrarDirectorio(raiz);
  }
  // Sends, and every few datagrams waits until the receiver has shown them all.
  void Mandar(const std::string &datagrama) {
    Enviar(destino, datagrama);
    if (++enviados % 40 == 0) {
      ASSERT_TRUE(Alcanzado());
    }
  }
  bool Alcanzado() { return LeerResumenes(cliente, enviados, 10); }
  Destino destino = DestinoNuevo();
  std::string raiz, dir;
  Proceso cliente;
  std::size_t enviados = 0;
};

TEST_F(Soak, SobreviveAlTraficoHostilYReconstruyeCadaFichero) {
  const char *ajuste = getenv("RECEPTOR_SOAK_SEGUNDOS");
  double segundos = ajuste ? atof(ajuste) : 8;
  std::mt19937 azar(20261207);
  std::vector<Fichero> buenos = {{"bueno-uno", ContenidoAleatorio(700, azar())},
                                 {"bueno-siete", ContenidoAleatorio(6 * 1456 + 11, azar())},
                                 {"bueno-grande", ContenidoAleatorio(300 * 1456, azar())}};
  auto inicio = Reloj::now();
  int vueltas = 0;
  while (vueltas < 1000 &&
         std::chrono::duration<double>(Reloj::now() - inicio).count() < segundos) {
    for (const Fichero &f : buenos) {
      std::vector<uint32_t> orden((f.contenido.size() + 1455) / 1456);
      std::iota(orden.begin(), orden.end(), 0u);
      std::shuffle(orden.begin(), orden.end(), azar);
      for (uint32_t i : orden) {
        ASSERT_NO_FATAL_FAILURE(Mandar(Parte(f, i)));
        ASSERT_NO_FATAL_FAILURE(Mandar(Hostil(azar, f)));
      }
      Fichero basura{"basura-" + std::to_string(azar() % 5),
                     ContenidoAleatorio(azar() % 4000, azar())};
      for (uint32_t i = 0; i * 1456 < basura.contenido.size(); ++i)
        if (azar() % 3 != 0) {
          ASSERT_NO_FATAL_FAILURE(Mandar(Parte(basura, i)));
        }
    }
    ++vueltas;
  }
  ASSERT_TRUE(Alcanzado());
  ASSERT_EQ(waitpid(cliente.pid, nullptr, WNOHANG), 0) << "the receiver ended";
  for (const Fichero &f : buenos)
    EXPECT_TRUE(LeerFichero(dir + "/0001-0002-" + f.nombre) == f.contenido) << f.nombre;
  EXPECT_EQ(Listar(raiz), std::vector<std::string>{"trabajo"});
  EXPECT_TRUE(Listar(dir + "/0001-0002-trampa").empty());
  int temporales = 0;
  for (const auto &e : std::filesystem::directory_iterator(dir)) {
    std::string nombre = e.path().filename();
    if (nombre == "0001-0002-trampa") continue;
    EXPECT_TRUE(e.is_regular_file()) << nombre;
    EXPECT_EQ(nombre.rfind("0001-0002-", 0), 0u) << nombre;
    temporales += nombre.size() > 4 && nombre.substr(nombre.size() - 4) == ".tmp";
  }
  EXPECT_LE(temporales, 1);
  EXPECT_GT(vueltas, 0);
}

}  // namespace
