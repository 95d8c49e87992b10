// End-to-end tests of the receiver's network: a join that waits for the network (-w), the
// membership taken again once its interface is made again, and the status file that shows both.
// Each test changes routes and links in a network namespace of its own.
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <regex>

#include "e2e.h"

namespace {

// A veth pair: the receiver joins on v1 (10.9.0.1), the sender sends out of v1p (10.9.0.2).
const std::string kVeth =
    "ip link add v1 type veth peer name v1p && ip addr add 10.9.0.1/24 dev v1 && "
    "ip addr add 10.9.0.2/24 dev v1p && ip link set v1 up && ip link set v1p up";

class RedE2E : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ExigirRedPrivada());
    // routes and links come and go here alone, never under the tests that run beside these
    ASSERT_EQ(unshare(CLONE_NEWNET), 0) << strerror(errno);
    // v1p's address is this namespace's too: a datagram from it must still be taken on v1
    ASSERT_EQ(system("ip link set lo up && ip link set lo multicast on && "
                     "echo 1 > /proc/sys/net/ipv4/conf/all/accept_local"),
              0);
    if (system((kVeth + " && ip link del v1").c_str()) != 0) GTEST_SKIP() << "no veth here";
    dir = DirectorioNuevo();
  }
  // No receiver, link, route or file left for the next case.
  void TearDown() override {
    // only a child not yet waited for: a pid already reaped may be another process's now
    if (cliente.pid > 0 && waitpid(cliente.pid, nullptr, WNOHANG) == 0) kill(cliente.pid, SIGKILL);
    EXPECT_EQ(system("ip link del v1 2>/dev/null; ip route del 224.0.0.0/4 2>/dev/null; true"), 0);
    BorrarDirectorio(dir);
  }
  void Cliente(std::vector<std::string> opciones, const std::string &grupo = "") {
    opciones.insert(opciones.begin(), {CLIENT_PATH, "-q"});
    opciones.insert(opciones.end(), {grupo.empty() ? destino.grupo : grupo, puerto, "2"});
    cliente = Lanzar(opciones, dir);
  }
  // A file of one byte sent by emisor from that address, taken whole by the receiver.
  void Enviar(const std::string &desde, const std::string &nombre) {
    std::ofstream(dir + "/" + nombre) << "x";
    Proceso emisor = Lanzar({EMISOR_PATH, "-i", desde, destino.grupo, puerto, dir + "/" + nombre});
    EXPECT_EQ(EsperarFin(emisor), 0) << emisor.error;
    ASSERT_TRUE(LeerHastaTexto(cliente, nombre + ": Completado!\n")) << cliente.salida;
  }
  // The quiet log: its first line, then texto with <g> and <p> as the group and the port, and
  // <f> as the lines of a file received.
  std::string Log(const std::string &texto, const std::string &f = "") {
    std::string log = "Recibiendo <g>, puerto <p>, modo 2, en " + dir + "\n" + texto;
    std::string recibido = "0001-0002-" + f + ": Empezado con 1 partes de 1 bytes.\n0001-0002-" +
                           f + ": Completado!\n";
    for (auto [de, a] : {std::pair{"<g>", destino.grupo}, {"<p>", puerto}, {"<f>", recibido}})
      log = std::regex_replace(log, std::regex(de), a);
    return log;
  }
  // The status file, its times as F, once it says whether joined (5 s at most), as it should be.
  void EsperarEstado(const std::string &unido, const std::string &ultimo, int recibidos) {
    std::string n = std::to_string(recibidos), leido;
    std::string esperado =
        "{\n  \"inicio\": F,\n  \"pid\": " + std::to_string(cliente.pid) +
        ",\n  \"version\": \"" RECEPTOR_VERSION "\",\n  \"commit\": " + kCommitJson +
        ",\n  \"actualizado\": F,\n  \"unido\": " + unido + ",\n  \"ultimo_datagrama\": " + ultimo +
        ",\n  \"datagramas\": " + n +
        ",\n  \"descartados_por_el_nucleo\": 0,\n  \"completados\": " + n +
        ",\n  \"fallos\": 0,\n  \"directorio_escribible\": true,\n  \"rechazados\": 0,\n  "
        "\"avisos_sin_decir\": 0,\n  \"en_curso\": [],\n  \"restos\": []\n}\n";
    for (int i = 0; i < 100 && leido.find("\"unido\": " + unido) == std::string::npos; ++i) {
      leido = std::regex_replace(LeerFichero(dir + "/e.json"),
                                 std::regex("\"[0-9-]{10}T[0-9:]{8}Z\""), "F");
      usleep(50000);
    }
    EXPECT_EQ(leido, esperado);
  }
  Destino destino = DestinoNuevo();
  std::string puerto = std::to_string(destino.puerto), dir;
  Proceso cliente;
};

// A start without the network: with -w, a missing route, interface or address is told once and
// waited for, and once there the receiver joins, says so and receives; a signal still ends the
// wait. Without -w, the same end as always, before the first line; with it, any other failure.
TEST_F(RedE2E, SinRedSeEsperaConEsperarRedOTerminaConElEstadoUno) {
  const std::string kRuta = "ip route add 224.0.0.0/4 dev lo",
                    kNo = "No se puede unir al grupo <g>", kEspera = "; se intenta cada segundo.\n",
                    kEnV1 = "Unido a <g>, puerto <p>, en v1.\n<f>";
  struct Caso {
    std::vector<std::string> opciones;
    std::string arreglo, error, salida;  // arreglo brings the network, if anything
    std::string grupo = "";
  } casos[] = {
      {{"-w"},
       kRuta,
       "",
       kNo + " todavia: No such device" + kEspera + "Unido a <g>, puerto <p>, en lo.\n<f>"},
      {{"-w", "-i", "v1"}, kVeth, "", kNo + " en v1 todavia: No such device" + kEspera + kEnV1},
      {{"--esperar-red", "-i", "10.9.0.1"},
       kVeth,
       "",
       kNo + " en 10.9.0.1 todavia: Cannot assign requested address" + kEspera + kEnV1},
      {{"-w"}, "", "", kNo + " todavia: No such device" + kEspera},
      {{}, "", "3Error al crear  el socket(): No such device\n", ""},
      {{"-i", "v1"}, "", "Interfaz desconocida: v1\n", ""},
      {{"-w"}, "", "3Error al crear  el socket(): Invalid argument\n", "", "10.1.2.3"},
  };
  for (const Caso &caso : casos) {
    std::string f = "f" + std::to_string(&caso - casos);
    SCOPED_TRACE(f);
    Cliente(caso.opciones, caso.grupo);
    bool espera = !caso.salida.empty();
    if (espera) {
      ASSERT_TRUE(LeerHastaTexto(cliente, kEspera)) << cliente.salida;
    }
    if (!caso.arreglo.empty()) {
      ASSERT_EQ(system(caso.arreglo.c_str()), 0);
      ASSERT_TRUE(LeerHastaTexto(cliente, "Unido a ")) << cliente.salida;
      Enviar(caso.arreglo == kRuta ? "127.0.0.1" : "10.9.0.2", f);
    }
    EXPECT_EQ(espera ? Terminar(cliente) : EsperarFin(cliente), espera ? 128 + SIGTERM : 1);
    EXPECT_EQ(cliente.salida, espera ? Log(caso.salida, f) : "");
    EXPECT_EQ(cliente.error, caso.error);
    TearDown();
    dir = DirectorioNuevo();
  }
}

// An interface deleted under the receiver is told lost after a few quiet seconds, and taken
// again once it is made again; the status file says whether the group is joined meanwhile.
TEST_F(RedE2E, UnaInterfazRehechaSeTomaDeNuevo) {
  ASSERT_EQ(system(kVeth.c_str()), 0);
  Cliente({"-i", "v1", "-e", "e.json"});
  EsperarEstado("true", "null", 0);
  Enviar("10.9.0.2", "antes");
  ASSERT_EQ(system("ip link del v1"), 0);
  ASSERT_TRUE(LeerHastaTexto(cliente, "cada segundo.\n", 15)) << cliente.salida;
  EsperarEstado("false", "F", 1);
  ASSERT_EQ(system(kVeth.c_str()), 0);
  std::string log =
      Log("<f>Perdida la union a <g> en v1.\nNo se puede unir al grupo <g> en v1 todavia: No such "
          "device; se intenta cada segundo.\nUnido a <g>, puerto <p>, en v1.\n",
          "antes");
  ASSERT_TRUE(LeerHastaTexto(cliente, log)) << cliente.salida;
  Enviar("10.9.0.2", "despues");
  EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
  EXPECT_EQ(cliente.salida, log + Log("<f>", "despues").substr(Log("").size()));
  EsperarEstado("true", "F", 2);
}

}  // namespace
