// End-to-end tests of IPv6 groups: files sent by emisor and received by client over a veth pair,
// plain, in merged runs, from one source alone, on an interface by name or index; and the
// texts that are no IPv6 group, which keep to IPv4. Each test runs in a namespace of its own.
#include <net/if.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>

#include "e2e.h"

namespace {

const std::string kPruebe = "Pruebe 'client --help' para mas informacion.\n";

class Ipv6E2E : public E2E {
 protected:
  Ipv6E2E() : E2E(DestinoNuevoIpv6()) {}
};

// Each file comes whole in the default part of 1408 bytes, which an IPv6 packet carries in a
// 1500-byte frame, joined as routed, by the interface's name or index, for its sender alone, and
// in runs that the kernel merges. A receiver for another source takes nothing of emisor's file,
// and what that source sends.
TEST_F(Ipv6E2E, UnFicheroLlegaEnteroPorIpv6) {
  ASSERT_EQ(system("ip addr add fd00::3/128 dev lo nodad"), 0);
  const std::string indice = std::to_string(if_nametoindex(kIpv6Recibe));
  struct Caso {
    std::vector<std::string> cliente, emisor;
    std::size_t largo;
    bool ajeno = false;  // the file is another source's; fd00::3 sends "propio" after it
  } casos[] = {
      {{"-q"}, {}, 3000},
      {{"-q", "-i", kIpv6Recibe}, {"--gso"}, 200 * 1408 + 5},
      {{"-q", "--interfaz", indice, "-e", "e.json"}, {"--gso"}, 90 * 1408},
      {{"-q", "-s", "fd00::2"}, {}, 5000},
      {{"-q", "-s", "fd00::2", "-s", "fd00::3", "-i", kIpv6Recibe}, {"--gso"}, 100 * 1408},
      {{"-q", "--fuente", "fd00::3"}, {}, 3000, true},
  };
  for (const Caso &caso : casos) {
    std::string nombre = "f" + std::to_string(&caso - casos);
    SCOPED_TRACE(nombre);
    ASSERT_NO_FATAL_FAILURE(Arrancar(caso.cliente));
    // a file of largo bytes sent by emisor out of the sending end
    std::string contenido = ContenidoAleatorio(caso.largo, static_cast<unsigned>(caso.largo));
    std::ofstream(aparte + "/" + nombre, std::ios::binary) << contenido;
    std::vector<std::string> emisor = {EMISOR_PATH, "-i", kIpv6Envia};
    emisor.insert(emisor.end(), caso.emisor.begin(), caso.emisor.end());
    emisor.insert(emisor.end(),
                  {destino.grupo, std::to_string(destino.puerto), aparte + "/" + nombre});
    Proceso proceso = Lanzar(emisor);
    EXPECT_EQ(EsperarFin(proceso), 0) << proceso.error;
    std::size_t largo = caso.largo;
    if (caso.ajeno) {
      nombre = "propio", contenido = "ok", largo = 2;
      Enviar(destino, Datagrama(1, 2, 1, 1, nombre, contenido), "fd00::3");
    }
    std::string id = "0001-0002-" + nombre;
    std::string log = Inicio() + id + ": Empezado con " + std::to_string((largo + 1407) / 1408) +
                      " partes de " + std::to_string(std::min<std::size_t>(largo, 1408)) +
                      " bytes.\n" + id + ": Completado!\n";
    EXPECT_TRUE(LeerHastaTexto(cliente, "Completado!\n")) << cliente.salida;
    EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
    EXPECT_EQ(cliente.salida, log);
    EXPECT_EQ(cliente.error, "");
    EXPECT_TRUE(LeerFichero(dir + "/" + id) == contenido);
    if (caso.cliente.back() == "e.json") {
      EXPECT_NE(LeerFichero(dir + "/e.json").find("\"unido\": true,"), std::string::npos);
    }
  }
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
