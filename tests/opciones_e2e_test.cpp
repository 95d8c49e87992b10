// End-to-end tests of the receiver's options: several files in progress on a lossy network,
// resuming after an orderly end, the quiet log, and wrong options.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>

#include "e2e.h"

namespace {

class OpcionesE2E : public testing::Test {
 protected:
  void SetUp() override {
    ExigirRedPrivada();
    dir = DirectorioNuevo();
  }
  void TearDown() override { BorrarDirectorio(dir); }
  Proceso Cliente(std::vector<std::string> opciones, const std::string &modo = "2") {
    opciones.insert(opciones.begin(), CLIENT_PATH);
    for (std::string a : {destino.grupo, std::to_string(destino.puerto), modo})
      opciones.push_back(a);
    Proceso cliente = Lanzar(opciones, dir);
    EXPECT_TRUE(EsperarUnion(destino));
    return cliente;
  }
  // Part i, counted from 1, of a file of parts of 100 bytes.
  std::string Parte(const std::string &nombre, const std::string &contenido, uint32_t i) {
    uint32_t total = static_cast<uint32_t>((contenido.size() + 99) / 100);
    return Datagrama(1, 2, i, total, nombre, contenido.substr((i - 1) * 100, 100));
  }
  Destino destino = DestinoNuevo();
  std::string dir;
};

TEST_F(OpcionesE2E, UnaOpcionErroneaSeNombraYNoAbreNingunSocket) {
  struct Caso {
    std::vector<std::string> argumentos;
    std::string error;
  } casos[] = {
      {{"-x"}, "opcion desconocida: -x"},
      {{"--otra"}, "opcion desconocida: --otra"},
      {{"-f", "0"}, "valor no valido para -f: '0' (de 1 a 1024)"},
      {{"--ficheros=1025"}, "valor no valido para --ficheros: '1025' (de 1 a 1024)"},
      {{"-f", "0x10"}, "valor no valido para -f: '0x10' (de 1 a 1024)"},
      {{"--reanudar=si"}, "la opcion --reanudar no admite valor"},
      {{"-qf"}, "falta el valor de -f"},
  };
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.error);
    std::vector<std::string> argumentos = {CLIENT_PATH};
    argumentos.insert(argumentos.end(), caso.argumentos.begin(), caso.argumentos.end());
    if (caso.error != "falta el valor de -f")
      argumentos.insert(argumentos.end(), {destino.grupo, "1", "2"});
    Proceso cliente = Lanzar(argumentos);
    EXPECT_EQ(EsperarFin(cliente), 1);
    EXPECT_EQ(cliente.error, "client: " + caso.error + "\nPruebe 'man client'.\n");
    EXPECT_EQ(cliente.salida, "");
  }
  // options alone leave too few arguments: the usage text, as without them
  Proceso cliente = Lanzar({CLIENT_PATH, "-f", "2", "-r", "-q", destino.grupo, "5000"});
  EXPECT_EQ(EsperarFin(cliente), 1);
  EXPECT_EQ(cliente.error.substr(0, cliente.error.find('\n')), "Version 1.0");
}

// Stopped in the middle of a file, the receiver keeps what it had; started again it asks only
// for the parts it lacks. Killed, it leaves no record, and the file starts afresh.
TEST_F(OpcionesE2E, ConReanudarUnFicheroSigueTrasUnaParadaOrdenada) {
  std::string contenido = ContenidoAleatorio(1000, 11);
  Proceso cliente = Cliente({"-f", "2", "-r"});
  for (uint32_t i : {1, 2, 3, 10}) Enviar(destino, Parte("sigue", contenido, i));
  ASSERT_TRUE(LeerHastaTexto(cliente, "posicion 900"));
  EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
  EXPECT_EQ(Listar(dir),
            (std::vector<std::string>{".0001-0002-sigue.partes", "0001-0002-sigue.tmp"}));

  cliente = Cliente({"-r", "-f", "2"});
  for (uint32_t i = 1; i <= 10; ++i) Enviar(destino, Parte("sigue", contenido, i));
  ASSERT_TRUE(LeerHastaTexto(cliente, "Completado!\n"));
  EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
  EXPECT_EQ(cliente.salida.substr(0, cliente.salida.find("NO LA TENGO")),
            Resumen("0001", "0002", "sigue", 0, 10, 100, 0) +
                "Reanudado 0001-0002-sigue con 4 de 10 partes.\n" +
                Resumen("0001", "0002", "sigue", 1, 10, 100, 6) +
                Resumen("0001", "0002", "sigue", 2, 10, 100, 6) +
                Resumen("0001", "0002", "sigue", 3, 10, 100, 6));
  EXPECT_EQ(ContarResumenes(cliente.salida), 10u);
  EXPECT_EQ(cliente.salida.find("posicion 900"), std::string::npos);
  EXPECT_EQ(LeerFichero(dir + "/0001-0002-sigue"), contenido);
  EXPECT_EQ(Listar(dir), std::vector<std::string>{"0001-0002-sigue"});

  cliente = Cliente({"-r"});
  Enviar(destino, Parte("muerto", contenido, 1));
  ASSERT_TRUE(LeerLineas(cliente, 3));
  kill(cliente.pid, SIGKILL);
  EXPECT_EQ(EsperarFin(cliente), 128 + SIGKILL);
  cliente = Cliente({"-r"});
  Enviar(destino, Parte("muerto", contenido, 2));
  ASSERT_TRUE(LeerLineas(cliente, 3));
  EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
  EXPECT_EQ(cliente.salida, Resumen("0001", "0002", "muerto", 1, 10, 100, 0) +
                                "TotPart:10|MaxTAMprt:100|TAMprt:1000\n"
                                "NO LA TENGO,posicion 100....100 bytes...\n");
}

// Two files interleaved complete with two in progress; a third drops the oldest, with one line.
// Quiet, the receiver prints one line per event of the store, each naming its file.
TEST_F(OpcionesE2E, VariosFicherosEnCursoYUnRegistroSilencioso) {
  std::string a = ContenidoAleatorio(300, 1), b = ContenidoAleatorio(250, 2);
  Proceso cliente = Cliente({"--ficheros", "2", "--silencioso"});
  for (uint32_t i = 1; i <= 3; ++i) {
    Enviar(destino, Parte("a", a, i));
    Enviar(destino, Parte("b", b, i));
  }
  Enviar(destino, Parte("c", a, 1));
  Enviar(destino, Parte("d", a, 1));
  Enviar(destino, Parte("a", a, 1));  // stored: nothing to say
  Enviar(destino, Parte("g", a, 1));
  Enviar(destino, Datagrama(1, 2, 1, 2, "e/f", "x"));
  ASSERT_TRUE(LeerLineas(cliente, 9)) << cliente.salida;
  EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
  EXPECT_EQ(cliente.salida,
            "0001-0002-a: TotPart:3|MaxTAMprt:100|TAMprt:300\n"
            "0001-0002-b: TotPart:3|MaxTAMprt:100|TAMprt:300\n"
            "0001-0002-a: Completado!\n"
            "0001-0002-b: Completado!\n"
            "0001-0002-c: TotPart:3|MaxTAMprt:100|TAMprt:300\n"
            "0001-0002-d: TotPart:3|MaxTAMprt:100|TAMprt:300\n"
            "Abandonado 0001-0002-c con 1 de 3 partes.\n"
            "0001-0002-g: TotPart:3|MaxTAMprt:100|TAMprt:300\n"
            "0001-0002-e/f: Nombre con '/' no permitido, descartado.\n");
  EXPECT_EQ(LeerFichero(dir + "/0001-0002-a"), a);
  EXPECT_EQ(LeerFichero(dir + "/0001-0002-b"), b);
  EXPECT_EQ(Listar(dir), (std::vector<std::string>{"0001-0002-a", "0001-0002-b", "0001-0002-d.tmp",
                                                   "0001-0002-g.tmp"}));
}

}  // namespace
