// End-to-end tests of client: the real binary, real datagrams on loopback, output byte for byte.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

#include <gtest/gtest.h>

#include "e2e.h"
#include "formato.h"

namespace {

const std::string kUso = "Version 1.0\nUso: " CLIENT_PATH
                         " <IP Multicast> <Puerto Multicast> <Modo>\n"
                         "Modos:\n0 - Solo obtener las  cabeceras e imprimirlas en pantalla\n"
                         "2 - Almacenar ficheros\n"
                         "Otro - Ver una linea por paquete\n";

std::string Limite(int totpartes, int maximo = 50000) {
  return "El total de partes (" + std::to_string(totpartes) + ") EXCEDE al MAX_TROZOS (" +
         std::to_string(maximo) +
         "), amplialo en MAX_TROZOS en el DEFINE y recompila, "
         "prometo hacerlo en la proxima versi\xf3n yo mismo si tengo tiempo.\n";
}

const std::string kDatos = Datagrama(0x0001, 0x0002, 4, 10, "datos", std::string(1456, 'x'));

const std::string kVolcadoDatos =
    "===================================================== 1500\n"
    "00|01|02|03|04|05|06|07|08|09|10|11|12|13|14|15|16|17|18|19|20|21|22|23|24|\n"
    "00|01|00|02|00|00|00|04|00|00|00|0a|64|61|74|6f|73|00|00|00|00|00|00|00|00|\n"
    "NO|NO|NO|NO|NO|NO|NO|NO|NO|NO|NO|NO| d| a| t| o| s|NO|NO|NO|NO|NO|NO|NO|NO|\n"
    "---------------------------------------------------------- 1500\n"
    "25|26|27|28|29|30|31|32|33|34|35|36|37|38|39|40|41|42|43|44|45|46|47|48|49|\n"
    "00|00|00|00|00|00|00|00|00|00|00|00|00|00|00|00|00|00|00|78|78|78|78|78|78|\n"
    "NO|NO|NO|NO|NO|NO|NO|NO|NO|NO|NO|NO|NO|NO|NO|NO|NO|NO|NO| x| x| x| x| x| x|\n"
    "=====================================================\n";

class ClientE2E : public testing::Test {
 protected:
  void SetUp() override { ExigirRedPrivada(); }
  Destino destino = DestinoNuevo();
};

TEST_F(ClientE2E, ConPocosArgumentosMuestraElUsoYSaleConUno) {
  for (int cuantos = 0; cuantos <= 2; ++cuantos) {
    SCOPED_TRACE(cuantos);
    std::vector<std::string> argumentos = {CLIENT_PATH};
    for (int i = 0; i < cuantos; ++i) argumentos.push_back("239.1.1.1");
    Proceso cliente = Lanzar(argumentos);
    EXPECT_EQ(EsperarFin(cliente), 1);
    EXPECT_EQ(cliente.error, kUso);
    EXPECT_EQ(cliente.salida, "");
  }
}

TEST_F(ClientE2E, ImprimeLaLineaResumenYIgnoraArgumentosDeMas) {
  Proceso cliente =
      Lanzar({CLIENT_PATH, destino.grupo, std::to_string(destino.puerto), "1", "sobra"});
  ASSERT_TRUE(EsperarUnion(destino));
  Enviar(destino, kDatos);
  ASSERT_TRUE(LeerLineas(cliente, 1));
  EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
  EXPECT_EQ(cliente.salida, "T:0001|S:0002|Nom:datos|3/10|MxPrt:1456|Fltn:0|\n");
  EXPECT_EQ(cliente.error, "");
}

TEST_F(ClientE2E, ElPuertoSeCortaADieciseisBits) {
  Destino corto{destino.grupo, static_cast<uint16_t>(destino.puerto)};
  Proceso cliente =
      Lanzar({CLIENT_PATH, destino.grupo, std::to_string(65536 + destino.puerto), "1"});
  ASSERT_TRUE(EsperarUnion(corto));
  Enviar(corto, kDatos);
  ASSERT_TRUE(LeerLineas(cliente, 1));
  Terminar(cliente);
  EXPECT_EQ(cliente.salida, "T:0001|S:0002|Nom:datos|3/10|MxPrt:1456|Fltn:0|\n");
}

// --max-partes moves the limit, whatever the mode.
TEST_F(ClientE2E, CincuentaMilPartesPasanYCincuentaMilYUnaTerminanConDos) {
  for (int maximo : {50000, 3000000}) {
    for (std::string modo : {"0", "1", "2", "x"}) {
      SCOPED_TRACE(modo + " " + std::to_string(maximo));
      std::string dir = DirectorioNuevo();
      Destino d = DestinoNuevo();
      std::vector<std::string> argumentos = {CLIENT_PATH, d.grupo, std::to_string(d.puerto), modo};
      if (maximo != 50000)
        argumentos.insert(argumentos.begin() + 1, {"--max-partes", std::to_string(maximo)});
      Proceso cliente = Lanzar(argumentos, dir);
      ASSERT_TRUE(EsperarUnion(d));
      Enviar(d, Datagrama(1, 2, maximo, maximo, "grande", "abc"));
      ASSERT_TRUE(LeerHastaTexto(
          cliente, "|" + std::to_string(maximo - 1) + "/" + std::to_string(maximo) + "|"));
      Enviar(d, Datagrama(1, 2, 1, maximo + 1, "grande", "abc"));
      EXPECT_EQ(EsperarFin(cliente), 2);
      std::size_t limite = cliente.salida.find("El total");
      ASSERT_NE(limite, std::string::npos);
      EXPECT_EQ(cliente.salida.substr(limite), Limite(maximo + 1, maximo));
      EXPECT_EQ(cliente.error, "");
      BorrarDirectorio(dir);
    }
  }
}

TEST_F(ClientE2E, ElModoCeroVuelcaLosPrimerosCincuentaBytes) {
  for (std::string modo : {"0", "x"}) {
    SCOPED_TRACE(modo);
    Destino d = DestinoNuevo();
    Proceso cliente = LanzarCliente(d, modo);
    Enviar(d, kDatos);
    ASSERT_TRUE(LeerLineas(cliente, 10));
    Terminar(cliente);
    EXPECT_EQ(cliente.salida, "T:0001|S:0002|Nom:datos|3/10|MxPrt:1456|Fltn:0|\n" + kVolcadoDatos);
  }
}

TEST_F(ClientE2E, UnPaqueteCortoMuestraLoQueDejaronLosAnteriores) {
  Proceso cliente = LanzarCliente(destino, "0");
  Enviar(destino, kDatos);
  Enviar(destino, "AB\"!");
  ASSERT_TRUE(LeerLineas(cliente, 20));
  Terminar(cliente);
  std::string esperado =
      "T:0001|S:0002|Nom:datos|3/10|MxPrt:1456|Fltn:0|\n" + kVolcadoDatos +
      "T:4142|S:2221|Nom:datos|3/10|MxPrt:1456|Fltn:0|\n"
      "===================================================== 4\n"
      "00|01|02|03|04|05|06|07|08|09|10|11|12|13|14|15|16|17|18|19|20|21|22|23|24|\n"
      "41|42|22|21|00|00|00|04|00|00|00|0a|64|61|74|6f|73|00|00|00|00|00|00|00|00|\n"
      " A| B| \"|NO|NO|NO|NO|NO|NO|NO|NO|NO| d| a| t| o| s|NO|NO|NO|NO|NO|NO|NO|NO|\n"
      "---------------------------------------------------------- 4\n"
      "25|26|27|28|29|30|31|32|33|34|35|36|37|38|39|40|41|42|43|44|45|46|47|48|49|\n"
      "00|00|00|00|00|00|00|00|00|00|00|00|00|00|00|00|00|00|00|78|78|78|78|78|78|\n"
      "NO|NO|NO|NO|NO|NO|NO|NO|NO|NO|NO|NO|NO|NO|NO|NO|NO|NO|NO| x| x| x| x| x| x|\n"
      "=====================================================\n";
  EXPECT_EQ(cliente.salida, esperado);
}

// A count read from leftovers of earlier datagrams is not a count: it must not stop the
// receiver, nor may the short datagram change the part size.
TEST_F(ClientE2E, UnPaqueteCortoNoAplicaElLimiteNiCambiaElTamanoDeParte) {
  Proceso cliente = LanzarCliente(destino, "1");
  Enviar(destino, Datagrama(1, 2, 1, 50000, "a", std::string(100, 'z')));
  // nine bytes: byte 8 is 0x01 and the NUL after them makes the count 0x0100c350
  // the header up to the first byte of the part count, 01
  Enviar(destino,
         Datagrama(1, 2, 1, 0x01000000u, "", "").substr(0, offsetof(Cabecera, totpartes) + 1));
  Enviar(destino, std::string());
  Enviar(destino, Datagrama(1, 2, 2, 3, "b", "fin"));
  ASSERT_TRUE(LeerLineas(cliente, 4));
  EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
  EXPECT_EQ(cliente.salida,
            "T:0001|S:0002|Nom:a|0/50000|MxPrt:100|Fltn:0|\n"
            "T:0001|S:0002|Nom:a|0/16827216|MxPrt:100|Fltn:0|\n"
            "T:0001|S:0002|Nom:a|0/16827216|MxPrt:100|Fltn:0|\n"
            "T:0001|S:0002|Nom:b|1/3|MxPrt:3|Fltn:0|\n");
}

TEST_F(ClientE2E, LosCamposDeCabeceraSeDecodificanConSigno) {
  struct Caso {
    std::string datagrama;
    std::string linea;
  };
  const Caso casos[] = {
      {Datagrama(0x0aff, 0x0001, 0, 0x80000000u, "neg", "12"),
       "T:0aff|S:0001|Nom:neg|-1/-2147483648|MxPrt:2|Fltn:0|\n"},
      {Datagrama(1, 2, 1, 1, "unica", "1234"), "T:0001|S:0002|Nom:unica|0/1|MxPrt:2|Fltn:0|\n"},
      {Datagrama(1, 2, 1, 10, "", "1234"), "T:0001|S:0002|Nom:|0/10|MxPrt:4|Fltn:0|\n"},
      {Datagrama(1, 2, 10, 10, std::string(32, 'n'), "cola"),
       "T:0001|S:0002|Nom:" + std::string(32, 'n') + "cola|9/10|MxPrt:4|Fltn:0|\n"},
  };
  Proceso cliente = LanzarCliente(destino, "-1");
  std::string esperado;
  for (const Caso &caso : casos) {
    Enviar(destino, caso.datagrama);
    esperado += caso.linea;
  }
  ASSERT_TRUE(LeerLineas(cliente, std::size(casos)));
  Terminar(cliente);
  EXPECT_EQ(cliente.salida, esperado);
}

TEST_F(ClientE2E, UnPuertoYaOcupadoFallaConElMensajeDos) {
  int ocupante = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(destino.puerto);
  ASSERT_EQ(bind(ocupante, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
  Proceso cliente = Lanzar({CLIENT_PATH, destino.grupo, std::to_string(destino.puerto), "1"});
  EXPECT_EQ(EsperarFin(cliente), 1);
  close(ocupante);
  // a receiver that shares the port is no such holder
  EXPECT_EQ(cliente.error, "2Error al crear  el socket(): Address already in use\n");
  Proceso primero = LanzarCliente(destino, "1"), segundo = LanzarCliente(destino, "1");
  EXPECT_TRUE(EsperarUnion(destino, 5, 2));
  EXPECT_EQ(Terminar(primero), 128 + SIGTERM);
  EXPECT_EQ(Terminar(segundo), 128 + SIGTERM);
  EXPECT_EQ(cliente.error, "2Error al crear  el socket(): Address already in use\n");
  EXPECT_EQ(cliente.salida, "");
}

TEST_F(ClientE2E, UnGrupoQueNoEsDireccionFallaConElMensajeTres) {
  for (std::string grupo : {"no-es-ip", "10.1.2.3"}) {
    SCOPED_TRACE(grupo);
    Proceso cliente = Lanzar({CLIENT_PATH, grupo, std::to_string(destino.puerto), "1"});
    EXPECT_EQ(EsperarFin(cliente), 1);
    EXPECT_EQ(cliente.error, "3Error al crear  el socket(): Invalid argument\n");
    EXPECT_EQ(cliente.salida, "");
  }
}

// What was printed before the receiver went idle is on its output even when a signal ends it.
TEST_F(ClientE2E, AlTerminarPorSenalEnReposoNoSePierdeNadaImpreso) {
  Proceso cliente = LanzarCliente(destino, "1");
  std::string esperado;
  for (uint32_t parte = 1; parte <= 200; ++parte) {
    Enviar(destino, Datagrama(1, 2, parte, 200, "lote", "x"));
    esperado += Resumen("0001", "0002", "lote", static_cast<int>(parte) - 1, 200, 1, 0);
  }
  ASSERT_TRUE(LeerLineas(cliente, 200));
  usleep(50000);
  EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
  EXPECT_EQ(cliente.salida, esperado);
}

// Receivers of one group share the port and see only their group: neither unicast datagrams
// sent to the port nor those of another group joined on the host on the same port.
TEST_F(ClientE2E, SoloLlegaElTraficoDelGrupoYVariosReceptoresLoComparten) {
  Destino otro_grupo{"239.250." + destino.grupo.substr(destino.grupo.find('.', 4) + 1),
                     destino.puerto};
  Destino unicast{"127.0.0.1", destino.puerto};
  struct Caso {
    Destino destino;
    std::string esperado;
  } casos[] = {{destino, "uno"}, {destino, "uno"}, {otro_grupo, "dos"}};
  std::vector<Proceso> clientes;
  for (const Caso &caso : casos) clientes.push_back(LanzarCliente(caso.destino, "1"));
  ASSERT_TRUE(EsperarUnion(destino, 5, 2));
  for (const auto &[a, nombre] : {std::pair{destino, "uno"},
                                  {otro_grupo, "dos"},
                                  {unicast, "tres"},
                                  {destino, "fin"},
                                  {otro_grupo, "fin"}})
    Enviar(a, Datagrama(1, 2, 1, 1, nombre, "x"));
  for (std::size_t i = 0; i < clientes.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(LeerLineas(clientes[i], 2));
    EXPECT_EQ(Terminar(clientes[i]), 128 + SIGTERM);
    EXPECT_EQ(clientes[i].salida, Resumen("0001", "0002", casos[i].esperado, 0, 1, 0, 0) +
                                      Resumen("0001", "0002", "fin", 0, 1, 0, 0));
  }
}

// A signal right after a burst: every datagram that had arrived is handled and every line it
// printed is on the output; the receiver then ends as the signal ends a process.
TEST_F(ClientE2E, UnaSenalTrasUnaRafagaNoPierdeNingunaLinea) {
  for (int senal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(senal);
    Proceso cliente = LanzarCliente(destino, "1");
    std::string esperado;
    for (uint32_t parte = 1; parte <= 200; ++parte) {
      Enviar(destino, Datagrama(1, 2, parte, 200, "rafaga", "x"));
      esperado += Resumen("0001", "0002", "rafaga", static_cast<int>(parte) - 1, 200, 1, 0);
    }
    kill(cliente.pid, senal);
    EXPECT_EQ(EsperarFin(cliente), 128 + senal);
    EXPECT_EQ(cliente.salida, esperado);
    EXPECT_EQ(cliente.error, "");
  }
}

// Past a file size limit a write fails and is reported once per file; the receiver goes on,
// and says how many parts the file it abandons never got.
TEST_F(ClientE2E, UnLimiteDeTamanoDeFicheroNoTerminaElReceptor) {
  std::string dir = DirectorioNuevo();
  Proceso cliente = LanzarClienteLimitado(destino, 1, dir);
  // each datagram once the previous one is shown, and so written or refused by the disk
  for (int vez = 0; vez < 2; ++vez) {
    Enviar(destino, Datagrama(1, 2, 2, 3, "grande", std::string(1000, 'g')));
    EXPECT_TRUE(LeerLineas(cliente, 3 + 2 * static_cast<std::size_t>(vez)));
  }
  Enviar(destino, Datagrama(1, 2, 1, 1, "sigue", "s"));
  EXPECT_TRUE(LeerLineas(cliente, 9));
  EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
  EXPECT_EQ(cliente.salida, Resumen("0001", "0002", "grande", 1, 3, 1000, 0) +
                                "TotPart:3|MaxTAMprt:1000|TAMprt:3000\n"
                                "NO LA TENGO,posicion 1000....1000 bytes...\n" +
                                Resumen("0001", "0002", "grande", 1, 3, 1000, 3) +
                                "NO LA TENGO,posicion 1000....1000 bytes...\n" +
                                Resumen("0001", "0002", "sigue", 0, 1, 1000, 3) +
                                "TotPart:1|MaxTAMprt:1000|TAMprt:1000\n"
                                "NO LA TENGO,posicion 0....1 bytes...\nCompletado!\n");
  EXPECT_EQ(cliente.error,
            "0001-0002-grande: Error al grabar la parte en el fichero temporal: File too large\n"
            "0001-0002-grande: Fichero 0001-0002-grande abandonado: 1 partes no grabadas.\n");
  BorrarDirectorio(dir);
}

// A signal while standard output is a full pipe loses no line: the write goes on once it is read.
TEST_F(ClientE2E, UnaSenalConLaSalidaLlenaNoPierdeNingunaLinea) {
  Proceso cliente = LanzarCliente(destino, "1");
  // more lines than the pipe and the stream's buffer hold together
  for (int i = 1; i <= 3000; ++i) {
    Enviar(destino, Datagrama(1, 2, 1, 2, "lleno", "x"));
    if (i % 50 == 0) usleep(2000);
  }
  // the first signal cuts a write short; the next one finds the pipe full
  for (int senal = 0; senal < 2; ++senal) {
    usleep(100000);
    kill(cliente.pid, SIGTERM);
  }
  EXPECT_EQ(EsperarFin(cliente), 128 + SIGTERM);
  EXPECT_EQ(ContarResumenes(cliente.salida), 3000u);
}

// On a terminal, a name cannot carry control sequences to it, nor can the dump's character row.
TEST_F(ClientE2E, EnUnTerminalLosBytesDeControlSeMuestranComoInterrogacion) {
  std::string nombre =
      "a\x1b]0;t\x07\x7f\x9b"
      "b";
  std::string contenido = "\x7f\x80\x9f\xa0\x1bz";
  Proceso cliente = Lanzar({"/usr/bin/script", "-qec",
                            "stty raw -echo; exec " CLIENT_PATH " " + destino.grupo + " " +
                                std::to_string(destino.puerto) + " 0",
                            "/dev/null"});
  ASSERT_TRUE(EsperarUnion(destino));
  Enviar(destino, Datagrama(1, 2, 1, 1, nombre, contenido));
  EXPECT_TRUE(LeerLineas(cliente, 10));
  kill(cliente.pid, SIGTERM);
  EsperarFin(cliente);
  EXPECT_EQ(cliente.salida.substr(0, cliente.salida.find('\n') + 1),
            "T:0001|S:0002|Nom:a?]0;t??\x9b"
            "b|0/1|MxPrt:0|Fltn:0|\n");
  EXPECT_NE(cliente.salida.find("NO| a|NO| ]| 0| ;| t|NO| ?| ?| b|NO|"), std::string::npos);
  EXPECT_NE(cliente.salida.find("| ?| ?| ?| \xa0|NO| z|"), std::string::npos);
}

}  // namespace
