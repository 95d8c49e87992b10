// End-to-end tests of the sender alone: what it refuses, and the datagrams it puts on a group
// joined over loopback. Run inside a network namespace of its own, with only lo in it.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

#include "e2e.h"

extern char **environ;

// A group and port of this test process alone: tests run in parallel.
static const Destino &Aqui() {
  static const Destino destino = DestinoNuevo();
  return destino;
}
static const std::string kGrupo = Aqui().grupo;
static const uint16_t kPuerto = Aqui().puerto;
static const std::string kPuertoTexto = std::to_string(kPuerto);

struct Resultado {
  int estado = -1;      // exit status, -1 if it did not exit by itself
  std::string salida;   // its stdout
  std::string error;    // its stderr
  double segundos = 0;  // from start to exit
};

static std::string Leer(const std::string &ruta) {
  std::ifstream fichero(ruta, std::ios::binary);
  return {std::istreambuf_iterator<char>(fichero), {}};
}

static std::vector<std::string> InterfacesVisibles() {
  std::vector<std::string> nombres;
  struct if_nameindex *lista = if_nameindex();
  for (struct if_nameindex *i = lista; i != nullptr && i->if_index != 0; ++i)
    nombres.push_back(i->if_name);
  if (lista != nullptr) if_freenameindex(lista);
  return nombres;
}

static std::string BigEndian(uint32_t valor) {
  return {char(valor >> 24), char(valor >> 16), char(valor >> 8), char(valor)};
}

static std::string Datagrama(const std::string &tipos, uint32_t parte, uint32_t total,
                             const std::string &nombre, const std::string &contenido) {
  return tipos + BigEndian(parte) + BigEndian(total) + nombre +
         std::string(32 - nombre.size(), '\0') + contenido;
}

static uint32_t Parte(const std::string &datagrama) {
  return ntohl(*reinterpret_cast<const uint32_t *>(datagrama.data() + 4));
}

class Emisor : public ::testing::Test {
 protected:
  // Sending on a real network from a test is never acceptable: without a namespace, fail.
  void SetUp() override {
    ASSERT_EQ(InterfacesVisibles(), std::vector<std::string>{"lo"});
    char plantilla[] = "/tmp/emisor-test-XXXXXX";
    ASSERT_NE(mkdtemp(plantilla), nullptr);
    dir_ = plantilla;
    sock_ = socket(AF_INET, SOCK_DGRAM, 0);
    int si = 1;
    setsockopt(sock_, SOL_SOCKET, SO_REUSEADDR, &si, sizeof si);
    sockaddr_in local{AF_INET, htons(kPuerto), {inet_addr(kGrupo.c_str())}, {}};
    ASSERT_EQ(bind(sock_, reinterpret_cast<sockaddr *>(&local), sizeof local), 0);
    ip_mreq peticion{{inet_addr(kGrupo.c_str())}, {inet_addr("127.0.0.1")}};
    ASSERT_EQ(setsockopt(sock_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &peticion, sizeof peticion), 0);
  }
  void TearDown() override {
    if (sock_ >= 0) close(sock_);
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  // Runs the sender, always through loopback; kills it after 10 s, so that a hang fails.
  Resultado Ejecutar(std::vector<std::string> argumentos) {
    argumentos.insert(argumentos.begin(), {EMISOR_PATH, "-i", "127.0.0.1"});
    std::vector<char *> argv;
    for (std::string &argumento : argumentos) argv.push_back(argumento.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t acciones;
    posix_spawn_file_actions_init(&acciones);
    std::string salida = dir_ + "/.salida", error = dir_ + "/.error";
    posix_spawn_file_actions_addopen(&acciones, 1, salida.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&acciones, 2, error.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    auto inicio = std::chrono::steady_clock::now();
    pid_t pid, fin = 0;
    int estado = 0;
    if (posix_spawn(&pid, argv[0], &acciones, nullptr, argv.data(), environ) != 0) return {};
    posix_spawn_file_actions_destroy(&acciones);
    for (int i = 0; i < 10000 && (fin = waitpid(pid, &estado, WNOHANG)) == 0; ++i) usleep(1000);
    if (fin == 0) kill(pid, SIGKILL), waitpid(pid, &estado, 0);
    std::chrono::duration<double> segundos = std::chrono::steady_clock::now() - inicio;
    return {WIFEXITED(estado) ? WEXITSTATUS(estado) : -1, Leer(salida), Leer(error),
            segundos.count()};
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

TEST_F(Emisor, RefusesBadInputWithStatus1ItsMessageAndNothingSent) {
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
      {{kGrupo, kPuertoTexto}, "Faltan argumentos\n" + uso},
  };
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.mensaje);
    Resultado resultado = Ejecutar(caso.argumentos);
    EXPECT_EQ(resultado.estado, 1);
    EXPECT_EQ(resultado.error, caso.mensaje);
    EXPECT_TRUE(Recibidos().empty());
  }
}

TEST_F(Emisor, SendsEveryPartWithItsHeaderAndContent) {
  std::string contenido;
  for (int i = 0; i < 337; ++i) contenido.push_back(char(i * 7));
  std::string tipos = "\xab\xcd\x01\x02", omision("\0\1\0\2", 4);
  struct Caso {
    std::vector<std::string> argumentos;
    std::vector<std::string> datagramas;
  } casos[] = {
      {{"-t", "abCD", "-s", "0102", "-p", "100", kGrupo, kPuertoTexto,
        Crear("datos.bin", contenido)},
       {Datagrama(tipos, 1, 4, "datos.bin", contenido.substr(0, 100)),
        Datagrama(tipos, 2, 4, "datos.bin", contenido.substr(100, 100)),
        Datagrama(tipos, 3, 4, "datos.bin", contenido.substr(200, 100)),
        Datagrama(tipos, 4, 4, "datos.bin", contenido.substr(300))}},
      {{"-n", "otro", kGrupo, kPuertoTexto, Crear("vacio", "")},
       {Datagrama(omision, 1, 1, "otro", "")}},
  };
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.argumentos.back());
    Resultado resultado = Ejecutar(caso.argumentos);
    ASSERT_EQ(resultado.estado, 0) << resultado.error;
    EXPECT_EQ(resultado.error, "");
    EXPECT_EQ(Recibidos(), caso.datagramas);
  }
}

TEST_F(Emisor, SendsPartsInTheRequestedOrderPassAfterPass) {
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

TEST_F(Emisor, ShufflesIntoAPermutationThatTheSeedRepeats) {
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

TEST_F(Emisor, NeverExceedsTheRateLimit) {
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
