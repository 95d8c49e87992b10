// End-to-end tests of the sender alone: what it refuses, and the datagrams it puts on a group
// joined over loopback. Run inside a network namespace of its own, with only lo in it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

#include "e2e.h"

// A group and port of this test process alone: tests run in parallel.
static const Destino kDestino = DestinoNuevo();
static const std::string kGrupo = kDestino.grupo;
static const std::string kPuertoTexto = std::to_string(kDestino.puerto);

struct Resultado {
  int estado = -1;      // exit status
  std::string salida;   // its stdout
  std::string error;    // its stderr
  double segundos = 0;  // from start to exit
};

// The second line of every refused command line.
static const std::string kPruebe = "Pruebe 'emisor --help' para mas informacion.\n";

static uint32_t Parte(const std::string &datagrama) {
  return ntohl(*reinterpret_cast<const uint32_t *>(datagrama.data() + 4));
}

class Emisor : public ::testing::Test {
 protected:
  // Sending on a real network from a test is never acceptable: without a namespace, fail.
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ExigirRedPrivada());
    char plantilla[] = "/tmp/emisor-test-XXXXXX";
    ASSERT_NE(mkdtemp(plantilla), nullptr);
    dir_ = plantilla;
    sock_ = socket(AF_INET, SOCK_DGRAM, 0);
    int si = 1;
    setsockopt(sock_, SOL_SOCKET, SO_REUSEADDR, &si, sizeof si);
    sockaddr_in local{AF_INET, htons(kDestino.puerto), {inet_addr(kGrupo.c_str())}, {}};
    ASSERT_EQ(bind(sock_, reinterpret_cast<sockaddr *>(&local), sizeof local), 0);
    ip_mreq peticion{{inet_addr(kGrupo.c_str())}, {inet_addr("127.0.0.1")}};
    ASSERT_EQ(setsockopt(sock_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &peticion, sizeof peticion), 0);
  }
  void TearDown() override {
    if (sock_ >= 0) close(sock_);
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  // Runs the sender, always through loopback, until it ends by itself.
  Resultado Ejecutar(std::vector<std::string> argumentos) {
    argumentos.insert(argumentos.begin(), {EMISOR_PATH, "-i", "127.0.0.1"});
    auto inicio = std::chrono::steady_clock::now();
    Proceso emisor = Lanzar(argumentos);
    int estado = EsperarFin(emisor);
    std::chrono::duration<double> segundos = std::chrono::steady_clock::now() - inicio;
    return {estado, emisor.salida, emisor.error, segundos.count()};
  }
  std::string Crear(const std::string &nombre, const std::string &contenido) {
    std::string ruta = dir_ + "/" + nombre;
    std::ofstream(ruta, std::ios::binary) << contenido;
    return ruta;
  }
  // Everything already waiting on the group, after the sender has exited.
  std::vector<std::string> Recibidos() {
    std::vector<std::string> datagramas;
    char bloque[2048];
    for (pollfd fd{sock_, POLLIN, 0}; poll(&fd, 1, 200) > 0;)
      datagramas.emplace_back(bloque, recv(sock_, bloque, sizeof bloque, 0));
    return datagramas;
  }
  std::vector<uint32_t> PartesRecibidas() {
    std::vector<uint32_t> partes;
    for (const std::string &datagrama : Recibidos()) partes.push_back(Parte(datagrama));
    return partes;
  }
  std::string dir_;
  int sock_ = -1;
};

TEST_F(Emisor, RechazaLoQueElReceptorNoPodriaReconstruir) {
  std::string grande = Crear("grande", std::string(50001, 'x'));
  std::string normal = Crear("normal", "hola");
  std::filesystem::create_directory(dir_ + "/carpeta");
  std::string uso = Ejecutar({"--help"}).salida;
  ASSERT_EQ(uso.rfind("Uso: emisor [opciones] <IP Multicast> <Puerto> <fichero>...\n", 0), 0u);
  std::string largo(32, 'n');
  struct Caso {
    std::vector<std::string> argumentos;
    std::string mensaje;
  } casos[] = {
      {{"-n", largo, kGrupo, kPuertoTexto, normal},
       "El nombre \"" + largo + "\" tiene 32 bytes; el maximo es 31\n"},
      {{"-n", "a/b", kGrupo, kPuertoTexto, normal}, "El nombre \"a/b\" contiene '/'\n"},
      {{"-p", "1", kGrupo, kPuertoTexto, grande},
       "El fichero " + grande + " no cabe en 50000 partes de 1 bytes\n"},
      {{kGrupo, kPuertoTexto, dir_ + "/falta"},
       "Error al abrir el fichero " + dir_ + "/falta: No such file or directory\n"},
      {{kGrupo, kPuertoTexto, dir_ + "/carpeta"},
       "Error al leer el fichero " + dir_ + "/carpeta: Is a directory\n"},
      {{kGrupo, kPuertoTexto}, "Faltan argumentos\n" + kPruebe},
  };
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.mensaje);
    Resultado resultado = Ejecutar(caso.argumentos);
    EXPECT_EQ(resultado.estado, 1);
    EXPECT_EQ(resultado.error, caso.mensaje);
    EXPECT_TRUE(Recibidos().empty());
  }
}

TEST_F(Emisor, EnviaCadaParteConSuCabeceraYContenido) {
  std::string contenido;
  for (int i = 0; i < 337; ++i) contenido.push_back(char(i * 7));
  struct Caso {
    std::vector<std::string> argumentos;
    std::vector<std::string> datagramas;
  } casos[] = {
      {{"-t", "abCD", "-s", "0102", "-p", "100", kGrupo, kPuertoTexto,
        Crear("datos.bin", contenido)},
       {Datagrama(0xabcd, 0x0102, 1, 4, "datos.bin", contenido.substr(0, 100)),
        Datagrama(0xabcd, 0x0102, 2, 4, "datos.bin", contenido.substr(100, 100)),
        Datagrama(0xabcd, 0x0102, 3, 4, "datos.bin", contenido.substr(200, 100)),
        Datagrama(0xabcd, 0x0102, 4, 4, "datos.bin", contenido.substr(300))}},
      {{"-n", "otro", kGrupo, kPuertoTexto, Crear("vacio", "")},
       {Datagrama(0x0001, 0x0002, 1, 1, "otro", "")}},
  };
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.argumentos.back());
    Resultado resultado = Ejecutar(caso.argumentos);
    ASSERT_EQ(resultado.estado, 0) << resultado.error;
    EXPECT_EQ(resultado.error, "");
    EXPECT_EQ(Recibidos(), caso.datagramas);
  }
}

TEST_F(Emisor, EnviaLasPartesEnElOrdenPedidoEnCadaVuelta) {
  std::string ruta = Crear("f", std::string(30, 'x'));
  struct Caso {
    std::vector<std::string> opciones;
    std::vector<uint32_t> partes;
  } casos[] = {
      {{"-o", "directo"}, {1, 2, 3, 1, 2, 3}},
      {{"-o", "inverso"}, {3, 2, 1, 3, 2, 1}},
  };
  for (Caso &caso : casos) {
    SCOPED_TRACE(caso.opciones[1]);
    caso.opciones.insert(caso.opciones.end(), {"-p", "10", "-v", "2", kGrupo, kPuertoTexto, ruta});
    ASSERT_EQ(Ejecutar(caso.opciones).estado, 0);
    EXPECT_EQ(PartesRecibidas(), caso.partes);
  }
}

TEST_F(Emisor, BarajaEnUnaPermutacionQueLaSemillaRepite) {
  std::string ruta = Crear("f", std::string(30, 'x'));
  std::vector<std::string> argumentos = {"-o", "aleatorio", "--semilla",  "7", "-p",
                                         "1",  kGrupo,      kPuertoTexto, ruta};
  ASSERT_EQ(Ejecutar(argumentos).estado, 0);
  std::vector<uint32_t> primera = PartesRecibidas();
  ASSERT_EQ(Ejecutar(argumentos).estado, 0);
  EXPECT_EQ(PartesRecibidas(), primera);
  std::vector<uint32_t> ordenadas = primera, directo(30);
  std::sort(ordenadas.begin(), ordenadas.end());
  std::iota(directo.begin(), directo.end(), 1u);
  EXPECT_EQ(ordenadas, directo);
  EXPECT_NE(primera, directo);
}

TEST_F(Emisor, NuncaSuperaElRitmoPedido) {
  struct Caso {
    std::string ritmo;
    std::string tamparte;  // 956 makes 1000-byte datagrams, 8000 bits each
    int partes;
    double por_segundo;  // datagrams per second allowed
  } casos[] = {{"100", "10", 20, 100}, {"400k", "956", 10, 50}};
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.ritmo);
    std::string ruta = Crear("f", std::string(caso.partes * std::stoi(caso.tamparte), 'x'));
    Resultado resultado =
        Ejecutar({"-r", caso.ritmo, "-p", caso.tamparte, kGrupo, kPuertoTexto, ruta});
    ASSERT_EQ(resultado.estado, 0);
    EXPECT_EQ(Recibidos().size(), size_t(caso.partes));
    EXPECT_GE(resultado.segundos, 0.9 * caso.partes / caso.por_segundo);
  }
}
