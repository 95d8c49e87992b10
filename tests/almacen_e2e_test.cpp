// End-to-end tests of mode 2: files rebuilt by the real client from real datagrams.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <numeric>

#include "e2e.h"
#include "formato.h"

namespace {

std::string Linea(const std::string &nombre, int parteactual, int totpartes, int tamparte,
                  int faltan) {
  return Resumen("0001", "0002", nombre, parteactual, totpartes, tamparte, faltan);
}

// Part i (counted from 0) of contenido cut in parts of tamparte bytes.
std::string Parte(const std::string &nombre, const std::string &contenido, std::size_t tamparte,
                  uint32_t i) {
  uint32_t total = static_cast<uint32_t>((contenido.size() + tamparte - 1) / tamparte);
  return Datagrama(1, 2, i + 1, total, nombre, contenido.substr(i * tamparte, tamparte));
}

class AlmacenE2E : public testing::Test {
 protected:
  void SetUp() override {
    ExigirRedPrivada();
    dir = DirectorioNuevo();
    cliente = LanzarCliente(destino, "2", dir);
  }
  void TearDown() override {
    if (cliente.estado < 0) Terminar(cliente);
    BorrarDirectorio(dir);
  }
  // Sends the datagrams and returns the output once it holds lineas lines and the client ended.
  std::string Recibir(const std::vector<std::string> &datagramas, std::size_t lineas) {
    for (const std::string &d : datagramas) Enviar(destino, d);
    EXPECT_TRUE(LeerLineas(cliente, lineas)) << cliente.salida;
    usleep(20000);
    EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
    return cliente.salida;
  }
  Destino destino = DestinoNuevo();
  std::string dir;
  Proceso cliente;
};

TEST_F(AlmacenE2E, ElEjemploCompletoDejaElFicheroExacto) {
  std::string contenido = ContenidoAleatorio(3012, 1);
  std::vector<std::string> datagramas;
  for (uint32_t i = 0; i < 3; ++i) datagramas.push_back(Parte("datos", contenido, 1456, i));
  datagramas.push_back(datagramas[0]);
  std::string salida = Recibir(datagramas, 10);
  EXPECT_EQ(salida,
            "T:0001|S:0002|Nom:datos|0/3|MxPrt:1456|Fltn:0|\n"
            "TotPart:3|MaxTAMprt:1456|TAMprt:4368\n"
            "NO LA TENGO,posicion 0....1456 bytes...\n"
            "T:0001|S:0002|Nom:datos|1/3|MxPrt:1456|Fltn:2|\n"
            "NO LA TENGO,posicion 1456....1456 bytes...\n"
            "T:0001|S:0002|Nom:datos|2/3|MxPrt:1456|Fltn:1|\n"
            "NO LA TENGO,posicion 2912....100 bytes...\n"
            "Completado!\n"
            "T:0001|S:0002|Nom:datos|0/3|MxPrt:1456|Fltn:0|\n"
            "Ya grabado antes...\n");
  EXPECT_EQ(cliente.error, "");
  EXPECT_EQ(LeerFichero(dir + "/0001-0002-datos"), contenido);
  EXPECT_EQ(Listar(dir), std::vector<std::string>{"0001-0002-datos"});
}

TEST_F(AlmacenE2E, PartesDesordenadasYRepetidasQuedanEnSuSitio) {
  std::string contenido = ContenidoAleatorio(10 * 1456 - 300, 2);
  std::vector<uint32_t> orden = {3, 0, 7, 3, 9, 1, 2, 4, 8, 6, 5};
  std::vector<std::string> datagramas;
  for (uint32_t i : orden) datagramas.push_back(Parte("desorden", contenido, 1456, i));
  std::string salida = Recibir(datagramas, 11 + 1 + 10 + 1);
  EXPECT_EQ(salida.substr(0, salida.find("NO LA TENGO")),
            Linea("desorden", 3, 10, 1456, 0) + "TotPart:10|MaxTAMprt:1456|TAMprt:14560\n");
  // the repeated part prints its summary line alone
  EXPECT_NE(salida.find(Linea("desorden", 3, 10, 1456, 7) + Linea("desorden", 9, 10, 1456, 7)),
            std::string::npos);
  EXPECT_NE(salida.find("NO LA TENGO,posicion 13104....1156 bytes...\n"), std::string::npos);
  EXPECT_EQ(salida.substr(salida.size() - 12), "Completado!\n");
  EXPECT_EQ(LeerFichero(dir + "/0001-0002-desorden"), contenido);
}

TEST_F(AlmacenE2E, UnFicheroDeUnaParteSeCompletaAlMomento) {
  std::string salida = Recibir({Datagrama(1, 2, 1, 1, "uno", "hola")}, 4);
  EXPECT_EQ(salida, Linea("uno", 0, 1, 0, 0) +
                        "TotPart:1|MaxTAMprt:0|TAMprt:0\n"
                        "NO LA TENGO,posicion 0....4 bytes...\n"
                        "Completado!\n");
  EXPECT_EQ(LeerFichero(dir + "/0001-0002-uno"), "hola");
}

TEST_F(AlmacenE2E, UnFicheroQueYaExisteNoSeRecibeOtraVez) {
  for (std::string tipo : {"regular", "directorio", "fifo"}) {
    SCOPED_TRACE(tipo);
    std::string nombre = "ya-" + tipo, ruta = dir + "/0001-0002-" + nombre;
    int hecho = tipo == "regular"      ? system(("echo previo > " + ruta).c_str())
                : tipo == "directorio" ? mkdir(ruta.c_str(), 0755)
                                       : mkfifo(ruta.c_str(), 0644);
    ASSERT_EQ(hecho, 0);
    Enviar(destino, Datagrama(1, 2, 1, 2, nombre, "nuevo"));
  }
  std::string salida = Recibir({}, 6);
  EXPECT_EQ(salida, Linea("ya-regular", 0, 2, 5, 0) + "Ya grabado antes...\n" +
                        Linea("ya-directorio", 0, 2, 5, 0) + "Ya grabado antes...\n" +
                        Linea("ya-fifo", 0, 2, 5, 0) + "Ya grabado antes...\n");
  EXPECT_EQ(LeerFichero(dir + "/0001-0002-ya-regular"), "previo\n");
}

TEST_F(AlmacenE2E, CambiarDeFicheroBorraElTemporalDelAnterior) {
  std::string salida = Recibir(
      {Datagrama(1, 2, 1, 3, "primero", "aaaa"), Datagrama(1, 2, 1, 2, "segundo", "bbbb")}, 6);
  EXPECT_EQ(salida, Linea("primero", 0, 3, 4, 0) + "TotPart:3|MaxTAMprt:4|TAMprt:12\n" +
                        "NO LA TENGO,posicion 0....4 bytes...\n" + Linea("segundo", 0, 2, 4, 2) +
                        "TotPart:2|MaxTAMprt:4|TAMprt:8\n" +
                        "NO LA TENGO,posicion 0....4 bytes...\n");
  EXPECT_EQ(Listar(dir), std::vector<std::string>{"0001-0002-segundo.tmp"});
}

// Refused datagrams leave the file in progress as it was: it still completes.
TEST_F(AlmacenE2E, LosPaquetesImposiblesSeRechazanSinTocarElFicheroEnCurso) {
  struct Caso {
    std::string datagrama;
    std::string salida;
  };
  const Caso casos[] = {
      {Datagrama(1, 2, 1, 2, "../fuera", "x"),
       Linea("../fuera", 0, 2, 1, 1) + "Nombre con '/' no permitido, descartado.\n"},
      {Datagrama(1, 2, 1, 2, "sub/dir", "x"),
       Linea("sub/dir", 0, 2, 1, 1) + "Nombre con '/' no permitido, descartado.\n"},
      {Datagrama(1, 2, 1, 2, std::string(32, 'L'), std::string(230, 'L') + '\0'),
       Linea(std::string(262, 'L'), 0, 2, 231, 1) +
           "Nombre demasiado largo (272 caracteres), descartado.\n"},
      {Datagrama(1, 2, 3, 2, "bueno", "x"),
       Linea("bueno", 2, 2, 231, 1) + "Parte 2/2 fuera del fichero, descartada.\n"},
      {Datagrama(1, 2, 0, 2, "bueno", "x"),
       Linea("bueno", -1, 2, 1, 1) + "Parte -1/2 fuera del fichero, descartada.\n"},
      {Datagrama(1, 2, 1, 0, "bueno", "x"),
       Linea("bueno", 0, 0, 1, 1) + "Total de partes 0 no valido, descartado.\n"},
      {Datagrama(1, 2, 1, 0xfffffffbu, "bueno", "x"),
       Linea("bueno", 0, -5, 1, 1) + "Total de partes -5 no valido, descartado.\n"},
      {Datagrama(1, 2, 1, 2, "bueno", std::string(1500, 'g')),
       Linea("bueno", 0, 2, 1456, 1) + "Paquete de mas de 1500 bytes, descartado.\n"},
      {Datagrama(1, 2, 2, 0, "", "").substr(0, offsetof(Cabecera, totpartes)),
       Linea("bueno", 1, 2, 1456, 1) +
           "Paquete de 8 bytes, mas corto que la cabecera, descartado.\n"},
      {Datagrama(1, 2, 1, 3, "bueno", ""),
       Linea("bueno", 0, 3, 0, 1) + "Parte 0/3 vacia sin ser la ultima, descartada.\n"},
      {Datagrama(1, 2, 2, 9, "bueno", "x"),
       Linea("bueno", 1, 9, 1, 1) +
           "Total de partes 9 distinto del fichero en curso (2), descartado.\n"},
  };
  std::vector<std::string> datagramas = {Datagrama(1, 2, 1, 2, "bueno", "x")};
  std::string esperado = Linea("bueno", 0, 2, 1, 0) + "TotPart:2|MaxTAMprt:1|TAMprt:2\n" +
                         "NO LA TENGO,posicion 0....1 bytes...\n";
  for (const Caso &caso : casos) {
    datagramas.push_back(caso.datagrama);
    esperado += caso.salida;
  }
  datagramas.push_back(Datagrama(1, 2, 2, 2, "bueno", "y"));
  esperado += Linea("bueno", 1, 2, 1, 1) + "NO LA TENGO,posicion 1....1 bytes...\nCompletado!\n";
  EXPECT_EQ(Recibir(datagramas, 3 + 2 * std::size(casos) + 3), esperado);
  EXPECT_EQ(LeerFichero(dir + "/0001-0002-bueno"), "xy");
  EXPECT_EQ(Listar(dir), std::vector<std::string>{"0001-0002-bueno"});
}

// A last part that arrives first is placed with the part size of an earlier file; once the
// file's own size is known it is put right, and the file is exact.
TEST_F(AlmacenE2E, UnaUltimaParteAdelantadaSeRecolocaAlCompletar) {
  std::string contenido = ContenidoAleatorio(3 * 1000 + 10, 3);
  std::string salida =
      Recibir({Datagrama(1, 2, 1, 2, "antes", std::string(1456, 'a')),
               Parte("recoloca", contenido, 1000, 3), Parte("recoloca", contenido, 1000, 0),
               Parte("recoloca", contenido, 1000, 2), Parte("recoloca", contenido, 1000, 1)},
              3 + 3 + 2 + 2 + 4);
  EXPECT_EQ(salida.substr(salida.find(Linea("recoloca", 3, 4, 1456, 1))),
            Linea("recoloca", 3, 4, 1456, 1) + "TotPart:4|MaxTAMprt:1456|TAMprt:5824\n" +
                "NO LA TENGO,posicion 4368....10 bytes...\n" + Linea("recoloca", 0, 4, 1000, 3) +
                "NO LA TENGO,posicion 0....1000 bytes...\n" + Linea("recoloca", 2, 4, 1000, 2) +
                "NO LA TENGO,posicion 2000....1000 bytes...\n" + Linea("recoloca", 1, 4, 1000, 1) +
                "NO LA TENGO,posicion 1000....1000 bytes...\n" +
                "Ultima parte recolocada,posicion 3000....10 bytes...\nCompletado!\n");
  EXPECT_EQ(LeerFichero(dir + "/0001-0002-recoloca"), contenido);
}

// The temporary file is never filled ahead: the receiver would stop reading meanwhile. Under a
// file size limit of 4 MiB, a fill of the 72.8 MB that the file announces would end the receiver.
TEST_F(AlmacenE2E, EmpezarUnFicheroGrandeNoRellenaElTemporal) {
  Terminar(cliente);
  Destino limitado = DestinoNuevo();
  limitado.puerto = static_cast<uint16_t>(limitado.puerto + 1);
  cliente = LanzarClienteLimitado(limitado, 4096, dir);
  Enviar(limitado, Datagrama(1, 2, 7, 50000, "enorme", std::string(1456, 'e')));
  ASSERT_TRUE(LeerLineas(cliente, 3));
  struct stat datos {};
  ASSERT_EQ(stat((dir + "/0001-0002-enorme.tmp").c_str(), &datos), 0);
  EXPECT_EQ(datos.st_size, 7 * 1456);
  EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
  EXPECT_EQ(cliente.salida, Linea("enorme", 6, 50000, 1456, 0) +
                                "TotPart:50000|MaxTAMprt:1456|TAMprt:72800000\n"
                                "NO LA TENGO,posicion 8736....1456 bytes...\n");
}

TEST_F(AlmacenE2E, SinPoderCrearElTemporalTerminaConUno) {
  ASSERT_EQ(mkdir((dir + "/0001-0002-ocupado.tmp").c_str(), 0755), 0);
  Enviar(destino, Datagrama(1, 2, 1, 2, "ocupado", "x"));
  EXPECT_EQ(EsperarFin(cliente), 1);
  EXPECT_EQ(cliente.salida, Linea("ocupado", 0, 2, 1, 0));
  EXPECT_EQ(cliente.error, "Error al crear el fichero temporal.: File exists\n");
  // on one stream, the lines printed before come before the message
  Proceso juntos = Lanzar({"/bin/bash", "-c", "exec \"$0\" \"$@\" 2>&1", CLIENT_PATH, destino.grupo,
                           std::to_string(destino.puerto), "2"},
                          dir);
  ASSERT_TRUE(EsperarUnion(destino));
  Enviar(destino, Datagrama(1, 2, 1, 2, "ocupado", "x"));
  EXPECT_EQ(EsperarFin(juntos), 1);
  EXPECT_EQ(juntos.salida,
            Linea("ocupado", 0, 2, 1, 0) + "Error al crear el fichero temporal.: File exists\n");
}

// A name that is another file's temporary name is refused; a file moved away by its consumer
// is received again; a stray part of another layout does not complete the file in progress.
TEST_F(AlmacenE2E, LosNombresYLasDisposicionesQueChocanNoEstropeanNingunFichero) {
  std::string mil = std::string(1000, 'm'), ultima = std::string(800, 'u');
  struct Caso {
    std::string datagrama;
    std::string salida;
  };
  const Caso casos[] = {
      {Datagrama(1, 2, 1, 1, "movido", "uno"),
       Linea("movido", 0, 1, 0, 0) + "TotPart:1|MaxTAMprt:0|TAMprt:0\n" +
           "NO LA TENGO,posicion 0....3 bytes...\nCompletado!\n"},
      {Datagrama(1, 2, 1, 1, "movido", "uno"),
       Linea("movido", 0, 1, 0, 0) + "Ya grabado antes...\n"},
      {"mover", ""},
      {Datagrama(1, 2, 1, 1, "movido", "dos"),
       Linea("movido", 0, 1, 0, 0) + "TotPart:1|MaxTAMprt:0|TAMprt:0\n" +
           "NO LA TENGO,posicion 0....3 bytes...\nCompletado!\n"},
      {Datagrama(1, 2, 1, 2, "datos", mil), Linea("datos", 0, 2, 1000, 0) +
                                                "TotPart:2|MaxTAMprt:1000|TAMprt:2000\n" +
                                                "NO LA TENGO,posicion 0....1000 bytes...\n"},
      {Datagrama(1, 2, 1, 1, "datos.tmp", "t"),
       Linea("datos.tmp", 0, 1, 1000, 1) +
           "Nombre terminado en '.tmp' no permitido, descartado.\n"},
      {Datagrama(1, 2, 1, 2, "datos", std::string(1456, 'd')),
       Linea("datos", 0, 2, 1456, 1) +
           "Parte de 1456 bytes distinta de las del fichero en curso (1000), descartada.\n"},
      {Datagrama(1, 2, 1, 2, "datos", mil), Linea("datos", 0, 2, 1000, 1)},
      {Datagrama(1, 2, 2, 2, "datos", std::string(1001, 'd')),
       Linea("datos", 1, 2, 1000, 1) +
           "Parte de 1001 bytes distinta de las del fichero en curso (1000), descartada.\n"},
      {Datagrama(1, 2, 2, 2, "datos", ultima),
       Linea("datos", 1, 2, 1000, 1) + "NO LA TENGO,posicion 1000....800 bytes...\nCompletado!\n"},
      // a last part first, longer than the parts that follow, is dropped and awaited again
      {Datagrama(1, 2, 3, 3, "tarde", mil), Linea("tarde", 2, 3, 1000, 0) +
                                                "TotPart:3|MaxTAMprt:1000|TAMprt:3000\n" +
                                                "NO LA TENGO,posicion 2000....1000 bytes...\n"},
      {Datagrama(1, 2, 1, 3, "tarde", ultima),
       Linea("tarde", 0, 3, 800, 2) + "NO LA TENGO,posicion 0....800 bytes...\n" +
           "Ultima parte de 1000 bytes, mayor que las del fichero (800), descartada.\n"},
      {Datagrama(1, 2, 2, 3, "tarde", ultima),
       Linea("tarde", 1, 3, 800, 2) + "NO LA TENGO,posicion 800....800 bytes...\n"},
      {Datagrama(1, 2, 3, 3, "tarde", "fin"),
       Linea("tarde", 2, 3, 800, 1) + "NO LA TENGO,posicion 1600....3 bytes...\nCompletado!\n"},
  };
  std::string esperado;
  for (const Caso &caso : casos) {
    if (caso.datagrama == "mover") {
      ASSERT_TRUE(LeerHastaTexto(cliente, esperado));
      ASSERT_EQ(rename((dir + "/0001-0002-movido").c_str(), (dir + "/movido-1").c_str()), 0);
      continue;
    }
    Enviar(destino, caso.datagrama);
    esperado += caso.salida;
  }
  ASSERT_TRUE(LeerHastaTexto(cliente, esperado));
  EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
  EXPECT_EQ(cliente.salida, esperado);
  EXPECT_EQ(LeerFichero(dir + "/movido-1"), "uno");
  EXPECT_EQ(LeerFichero(dir + "/0001-0002-movido"), "dos");
  EXPECT_EQ(LeerFichero(dir + "/0001-0002-datos"), mil + ultima);
  EXPECT_EQ(LeerFichero(dir + "/0001-0002-tarde"), ultima + ultima + "fin");
  EXPECT_EQ(Listar(dir), (std::vector<std::string>{"0001-0002-datos", "0001-0002-movido",
                                                   "0001-0002-tarde", "movido-1"}));
}

// Under a file size limit of 4 KiB, a last part whose place lies past it cannot be written:
// neither when it is put right on completion nor when it comes again. The file stays incomplete.
TEST_F(AlmacenE2E, LasEscriturasFallidasSeInformanYNoCompletanElFichero) {
  Terminar(cliente);
  cliente = LanzarClienteLimitado(destino, 4, dir);
  std::vector<std::string> datagramas = {Datagrama(1, 2, 1, 2, "antes", std::string(10, 'a')),
                                         Datagrama(1, 2, 5, 5, "limite", std::string(500, 'z'))};
  for (uint32_t parte = 1; parte <= 4; ++parte)
    datagramas.push_back(Datagrama(1, 2, parte, 5, "limite", std::string(1000, 'a')));
  datagramas.push_back(datagramas[1]);
  std::string salida = Recibir(datagramas, 3 + 3 + 8 + 2);
  EXPECT_EQ(salida.substr(salida.find(Linea("limite", 3, 5, 1000, 1))),
            Linea("limite", 3, 5, 1000, 1) + "NO LA TENGO,posicion 3000....1000 bytes...\n" +
                Linea("limite", 4, 5, 1000, 1) + "NO LA TENGO,posicion 4000....500 bytes...\n");
  EXPECT_EQ(cliente.error,
            "0001-0002-limite: Error al recolocar la ultima parte en el fichero temporal: File "
            "too large\n0001-0002-limite: Error al grabar la parte en el fichero temporal: File "
            "too large\n");
  EXPECT_EQ(Listar(dir), std::vector<std::string>{"0001-0002-limite.tmp"});
}

// Past a file size limit a write stops part way: exactly the parts whose bytes did not reach the
// file are missing again, and counted when the file is dropped.
TEST_F(AlmacenE2E, UnFicheroQueTopaConElLimiteInformaDeCadaParteNoGrabada) {
  Terminar(cliente);
  cliente = LanzarClienteLimitado(destino, 8, dir);
  std::string contenido = ContenidoAleatorio(11 * 1000 + 500, 5);
  Enviar(destino, Parte("rafaga", contenido, 1000, 0));
  ASSERT_TRUE(LeerLineas(cliente, 3));
  std::string esperado = cliente.salida;
  for (uint32_t i = 1; i < 12; ++i) {
    // shown once written: each write has answered before the next part comes
    Enviar(destino, Parte("rafaga", contenido, 1000, i));
    ASSERT_TRUE(LeerLineas(cliente, 3 + 2 * i));
    int faltan = std::max(4, 12 - static_cast<int>(i));
    esperado += Linea("rafaga", static_cast<int>(i), 12, 1000, faltan) + "NO LA TENGO,posicion " +
                std::to_string(i * 1000) + "...." + (i < 11 ? "1000" : "500") + " bytes...\n";
  }
  for (int vez = 0; vez < 2; ++vez) Enviar(destino, Datagrama(1, 2, 1, 1, "otra", "ok!"));
  esperado += Linea("otra", 0, 1, 1000, 4) + "TotPart:1|MaxTAMprt:1000|TAMprt:1000\n" +
              "NO LA TENGO,posicion 0....3 bytes...\nCompletado!\n" + Linea("otra", 0, 1, 1000, 0) +
              "Ya grabado antes...\n";
  ASSERT_TRUE(LeerHastaTexto(cliente, "Ya grabado antes...\n")) << cliente.salida;
  EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
  EXPECT_EQ(cliente.salida, esperado);
  EXPECT_EQ(cliente.error,
            "0001-0002-rafaga: Error al grabar la parte en el fichero temporal: File too large\n"
            "0001-0002-rafaga: Fichero 0001-0002-rafaga abandonado: 4 partes no grabadas.\n");
  EXPECT_EQ(LeerFichero(dir + "/0001-0002-otra"), "ok!");
}

TEST_F(AlmacenE2E, UnRenombradoFallidoNoSeAnunciaComoCompletado) {
  Enviar(destino, Datagrama(1, 2, 1, 2, "pierde", "ab"));
  ASSERT_TRUE(LeerLineas(cliente, 3));
  ASSERT_EQ(unlink((dir + "/0001-0002-pierde.tmp").c_str()), 0);
  std::string salida = Recibir({Datagrama(1, 2, 2, 2, "pierde", "c")}, 5);
  EXPECT_EQ(salida.substr(salida.rfind("T:")),
            Linea("pierde", 1, 2, 2, 1) + "NO LA TENGO,posicion 2....1 bytes...\n");
  EXPECT_EQ(cliente.error,
            "0001-0002-pierde: Error al renombrar el fichero temporal: No such file or directory\n");
}

// Sends the file in rounds small enough for the socket's buffer, each round once the client
// has shown the previous one.
TEST_F(AlmacenE2E, UnFicheroDeCincuentaMilPartesLlegaExacto) {
  std::string contenido = ContenidoAleatorio(50000 * 1456, 4);
  constexpr uint32_t kRonda = 50;
  for (uint32_t i = 0; i < 50000; ++i) {
    Enviar(destino, Parte("maximo", contenido, 1456, i));
    if ((i + 1) % kRonda == 0) {
      ASSERT_TRUE(LeerLineas(cliente, 1 + 2 * (i + 1), 20)) << i;
    }
  }
  ASSERT_TRUE(LeerHastaTexto(cliente, "Completado!\n"));
  EXPECT_TRUE(LeerFichero(dir + "/0001-0002-maximo") == contenido);
  EXPECT_EQ(Listar(dir), std::vector<std::string>{"0001-0002-maximo"});
}

}  // namespace
