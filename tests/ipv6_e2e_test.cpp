// End-to-end tests of IPv6 groups: files sent by emisor and received by client over a veth pair,
// plain, in merged runs, from one source alone, on an interface by name or index; and the
// texts that are no IPv6 group, which keep to IPv4. Each test runs in a namespace of its own.
#include <net/if.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>

#include "e2e.h"

namespace {

const std::string kPruebe = "Pruebe 'client --help' para mas informacion.\n";

class Ipv6E2E : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ExigirRedPrivada());
    if (!RedIpv6Propia()) GTEST_SKIP() << "no IPv6 or no veth here";
    dir = DirectorioNuevo();
  }
  void TearDown() override {
    // only a child not yet waited for: a pid already reaped may be another process's now
    if (cliente.pid > 0 && waitpid(cliente.pid, nullptr, WNOHANG) == 0) kill(cliente.pid, SIGKILL);
    // the pair goes with the namespace; gone now, a next test in this process sees no other
    EXPECT_EQ(system("ip link del v6a 2>/dev/null; true"), 0);
    BorrarDirectorio(dir);
  }
  // The quiet receiver with the options given, once it has joined.
  void Cliente(std::vector<std::string> opciones) {
    opciones.insert(opciones.begin(), {CLIENT_PATH, "-q"});
    opciones.insert(opciones.end(), {destino.grupo, puerto, "2"});
    cliente = Lanzar(opciones, dir);
    ASSERT_TRUE(EsperarUnion(destino)) << cliente.error;
  }
  // A file of largo bytes sent by emisor out of the sending end, with the options given.
  std::string EnviarFichero(const std::string &nombre, std::size_t largo,
                            std::vector<std::string> opciones) {
    std::string contenido = ContenidoAleatorio(largo, static_cast<unsigned>(largo));
    std::ofstream(dir + "/" + nombre, std::ios::binary) << contenido;
    opciones.insert(opciones.begin(), {EMISOR_PATH, "-i", kIpv6Envia});
    opciones.insert(opciones.end(), {destino.grupo, puerto, dir + "/" + nombre});
    Proceso emisor = Lanzar(opciones);
    EXPECT_EQ(EsperarFin(emisor), 0) << emisor.error;
    return contenido;
  }
  std::string Inicio() {
    return "Recibiendo " + destino.grupo + ", puerto " + puerto + ", modo 2, en " + dir + "\n";
  }
  Destino destino = DestinoNuevoIpv6();
  std::string puerto = std::to_string(destino.puerto), dir;
  Proceso cliente;
};

// Each file comes whole in the default part of 1408 bytes, which an IPv6 packet carries in a
// 1500-byte frame, joined as routed, by the interface's name or index, for its sender alone, and
// in runs that the kernel merges.
TEST_F(Ipv6E2E, UnFicheroLlegaEnteroPorIpv6) {
  const std::string indice = std::to_string(if_nametoindex(kIpv6Recibe));
  struct Caso {
    std::vector<std::string> cliente, emisor;
    std::size_t largo;
  } casos[] = {
      {{}, {}, 3000},
      {{"-i", kIpv6Recibe}, {"--gso"}, 200 * 1408 + 5},
      {{"--interfaz", indice, "-e", "e.json"}, {"--gso"}, 90 * 1408},
      {{"-s", "fd00::2"}, {}, 5000},
      {{"-s", "fd00::2", "-s", "fd00::3", "-i", kIpv6Recibe}, {"--gso"}, 100 * 1408},
  };
  for (const Caso &caso : casos) {
    std::string nombre = "f" + std::to_string(&caso - casos);
    SCOPED_TRACE(nombre);
    ASSERT_NO_FATAL_FAILURE(Cliente(caso.cliente));
    std::string contenido = EnviarFichero(nombre, caso.largo, caso.emisor);
    std::string log = Inicio() + "0001-0002-" + nombre + ": Empezado con " +
                      std::to_string((caso.largo + 1407) / 1408) + " partes de 1408 bytes.\n" +
                      "0001-0002-" + nombre + ": Completado!\n";
    EXPECT_TRUE(LeerHastaTexto(cliente, "Completado!\n")) << cliente.salida;
    EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
    EXPECT_EQ(cliente.salida, log);
    EXPECT_EQ(cliente.error, "");
    EXPECT_TRUE(LeerFichero(dir + "/0001-0002-" + nombre) == contenido);
    if (std::count(caso.cliente.begin(), caso.cliente.end(), "-e") > 0) {
      EXPECT_NE(LeerFichero(dir + "/e.json").find("\"unido\": true,"), std::string::npos);
    }
  }
}

// A receiver for another source takes nothing of emisor's file, and what that source sends.
TEST_F(Ipv6E2E, OtraFuenteNoLlega) {
  ASSERT_EQ(system("ip addr add fd00::3/128 dev lo nodad"), 0);
  ASSERT_NO_FATAL_FAILURE(Cliente({"--fuente", "fd00::3"}));
  EnviarFichero("ajeno", 3000, {});
  Enviar(destino, Datagrama(1, 2, 1, 1, "propio", "ok"), "fd00::3");
  ASSERT_TRUE(LeerHastaTexto(cliente, "Completado!\n")) << cliente.salida;
  EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
  EXPECT_EQ(cliente.salida, Inicio() +
                                "0001-0002-propio: Empezado con 1 partes de 2 bytes.\n"
                                "0001-0002-propio: Completado!\n");
}

// A source of the other family, an interface that is not there, and group texts that are no
// IPv6 multicast address, which go as IPv4 always has.
TEST_F(Ipv6E2E, LoQueNoEsUnGrupoIpv6SeRechazaComoSiempre) {
  const std::string g = destino.grupo;
  struct Caso {
    std::vector<std::string> argumentos;
    std::string error;
  } casos[] = {
      {{CLIENT_PATH, "-s", "10.0.0.2", g, "5000", "2"},
       "Direccion de fuente no valida: 10.0.0.2\n" + kPruebe},
      {{CLIENT_PATH, "-s", "fd00::2", "239.1.2.3", "5000", "2"},
       "Direccion de fuente no valida: fd00::2\n" + kPruebe},
      {{CLIENT_PATH, "-i", "99", g, "5000", "2"}, "Interfaz desconocida: 99\n"},
      {{CLIENT_PATH, "fd00::1", "5000", "2"}, "3Error al crear  el socket(): Invalid argument\n"},
      {{CLIENT_PATH, "grupo", "5000", "2"}, "3Error al crear  el socket(): Invalid argument\n"},
      {{EMISOR_PATH, "-i", "10.0.0.2", g, "5000", "/dev/null"},
       "Con un grupo IPv6, la interfaz se da por su nombre: 10.0.0.2\nPruebe 'emisor --help' "
       "para mas informacion.\n"},
  };
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.error);
    Proceso proceso = Lanzar(caso.argumentos);
    EXPECT_EQ(EsperarFin(proceso), 1);
    EXPECT_EQ(proceso.error, caso.error);
    EXPECT_EQ(proceso.salida, "");
  }
}

}  // namespace
