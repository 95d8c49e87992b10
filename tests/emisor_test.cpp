// End-to-end tests of the sender alone: what it refuses, and the datagrams it puts on a group
// joined over loopback. Run inside a network namespace of its own, with only lo in it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <numeric>
#include <regex>
#include <string>
#include <vector>

#include "e2e.h"
#include "formato.h"

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

// The summary line with its times, which no two runs share, as T and R.
static std::string SinTiempos(const std::string &resumen) {
  static const std::regex kTiempos("en [0-9]+\\.[0-9]{2} s, [0-9]+ datagramas/s");
  return std::regex_replace(resumen, kTiempos, "en T s, R datagramas/s");
}

static uint32_t Parte(const std::string &datagrama) {
  return static_cast<uint32_t>(
             IndiceDeParte(reinterpret_cast<const unsigned char *>(datagrama.data()))) +
         1u;
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
    int cola = 4 << 20;
    setsockopt(sock_, SOL_SOCKET, SO_RCVBUFFORCE, &cola, sizeof cola);
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
  // a part of a byte more than a header can number, in a file that holds no blocks
  std::string grande = Crear("grande", "");
  std::filesystem::resize_file(grande, 1ull << 31);
  std::string normal = Crear("normal", "hola");
  std::filesystem::create_directory(dir_ + "/carpeta");
  std::string fifo = dir_ + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string uso = Ejecutar({"--help"}).salida;
  ASSERT_EQ(uso.rfind("Uso: emisor [opciones] <IP Multicast> <Puerto> <fichero>...\n", 0), 0u);
  for (const char *linea : {"defecto 1428, que viaja sin fragmentos por Ethernet)\n",
                            "  --repetir N         enviar cada fichero N veces seguidas en cada",
                            "  --perdida P         para pruebas: dejar sin enviar, al azar, esa",
                            "de los datagramas (de 0 a 1, o un porcentaje: 1%)\n",
                            "INTERFAZ interfaz de salida, por su nombre (eth1) o por una\n",
                            "  -V, --version           mostrar la version y salir\n"})
    EXPECT_NE(uso.find(linea), std::string::npos) << linea;
  for (const char *opcion : {"-V", "--version"})
    EXPECT_EQ(Ejecutar({opcion}).salida, "emisor" + kVersionConCommit) << opcion;
  std::string largo(32, 'n');
  struct Caso {
    std::vector<std::string> argumentos;
    std::string mensaje;
  };
  std::vector<Caso> casos = {
      {{"-n", largo, kGrupo, kPuertoTexto, normal},
       "El nombre \"" + largo + "\" tiene 32 bytes; el maximo es 31\n"},
      {{"-n", "a/b", kGrupo, kPuertoTexto, normal}, "El nombre \"a/b\" contiene '/'\n"},
      {{"-n", "x.tmp", kGrupo, kPuertoTexto, normal},
       "El nombre \"x.tmp\" termina en '.tmp', que los receptores rechazan\n"},
      {{"-p", "1", kGrupo, kPuertoTexto, grande},
       "El fichero " + grande + " no cabe en 2147483647 partes de 1 bytes\n"},
      {{kGrupo, kPuertoTexto, dir_ + "/falta"},
       "Error al abrir el fichero " + dir_ + "/falta: No such file or directory\n"},
      {{kGrupo, kPuertoTexto, dir_ + "/carpeta"},
       "Error al leer el fichero " + dir_ + "/carpeta: Is a directory\n"},
      {{kGrupo, kPuertoTexto, fifo}, "El fichero " + fifo + " no es un fichero regular\n"},
      {{kGrupo, kPuertoTexto, normal, Crear("informe.pdf.tmp", "")},
       "El nombre \"informe.pdf.tmp\" termina en '.tmp', que los receptores rechazan\n"},
      {{kGrupo, kPuertoTexto, normal, dir_ + "/carpeta/../normal"},
       "El nombre \"normal\" se repite en " + normal + " y " + dir_ + "/carpeta/../normal\n"},
      {{kGrupo, kPuertoTexto}, "Faltan argumentos\n" + kPruebe},
      {{"--fec", "8", kGrupo, kPuertoTexto, normal},
       "FEC no valido: 8 (K:M, con K + M hasta 255)\n" + kPruebe},
      // a repair datagram of the longest name, past an Ethernet frame and past 1500 bytes
      {{"--fec", "4:2", "-p", "1456", "-n", std::string(31, 'n'), kGrupo, kPuertoTexto, normal},
       "Con --fec y -p 1456, los datagramas de reparacion de " + normal +
           " ocupan 1521 bytes, mas de 1472: viajan en fragmentos por Ethernet (con ese nombre, -p "
           "1407 como mucho)\nCon --fec, el fichero " +
           normal + " no cabe en datagramas de reparacion: 1521 bytes, 1500 como mucho (nombre mas corto, o "
           "-p menor)\n"},
  };
  // Files whose size is not their content exist only where the kernel shows them: procfs states
  // 0 bytes, sysfs a page whatever the attribute holds. A build root may mount neither.
  const std::string kProc = "/proc/self/stat", kSys = "/sys/devices/system/cpu/online";
  if (std::filesystem::exists(kProc))
    casos.push_back({{kGrupo, kPuertoTexto, kProc},
                     "El fichero " + kProc + " dice tener 0 bytes, pero tiene mas\n"});
  else
    std::cout << "not tried: " << kProc << " is absent here (no procfs mounted)\n";
  if (std::filesystem::exists(kSys))
    casos.push_back({{kGrupo, kPuertoTexto, kSys},
                     "El fichero " + kSys + " dice tener " +
                         std::to_string(std::filesystem::file_size(kSys)) +
                         " bytes, pero tiene menos\n"});
  else
    std::cout << "not tried: " << kSys << " is absent here (no sysfs mounted)\n";
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
  // with --fec, parts whose repair datagrams, with a name of 21 bytes, go unfragmented, or are told
  const std::string largo = Crear("un-nombre-de-veinte-b", std::string(3000, 'z'));
  const std::string aviso = "Con --fec y -p 1428, los datagramas de reparacion de " + largo +
                            " ocupan 1483 bytes, mas de 1472: viajan en fragmentos por Ethernet "
                            "(con ese nombre, -p 1417 como mucho)\n";
  auto partes = [](std::vector<int> tams) {
    std::vector<std::string> datagramas;
    for (std::size_t i = 0; i < tams.size(); ++i)
      datagramas.push_back(Datagrama(1, 2, static_cast<uint32_t>(i + 1),
                                     static_cast<uint32_t>(tams.size()), "un-nombre-de-veinte-b",
                                     std::string(tams[i], 'z')));
    return datagramas;
  };
  struct Caso {
    std::vector<std::string> argumentos;
    std::vector<std::string> datagramas;
    std::string aviso = "";
  } casos[] = {
      {{"--fec", "4:2", kGrupo, kPuertoTexto, largo}, partes({1417, 1417, 166})},
      {{"--fec", "4:2", "-p", "1428", kGrupo, kPuertoTexto, largo},
       partes({1428, 1428, 144}),
       aviso},
      {{"-t", "abCD", "-s", "0102", "-p", "100", kGrupo, kPuertoTexto,
        Crear("datos.bin", contenido)},
       {Datagrama(0xabcd, 0x0102, 1, 4, "datos.bin", contenido.substr(0, 100)),
        Datagrama(0xabcd, 0x0102, 2, 4, "datos.bin", contenido.substr(100, 100)),
        Datagrama(0xabcd, 0x0102, 3, 4, "datos.bin", contenido.substr(200, 100)),
        Datagrama(0xabcd, 0x0102, 4, 4, "datos.bin", contenido.substr(300))}},
      {{"-n", "otro", kGrupo, kPuertoTexto, Crear("vacio", "")},
       {Datagrama(0x0001, 0x0002, 1, 1, "otro", "")}},
      {{"-i", "lo", kGrupo, kPuertoTexto, Crear("por-lo", "x")},
       {Datagrama(0x0001, 0x0002, 1, 1, "por-lo", "x")}},
  };
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.argumentos.back());
    Resultado resultado = Ejecutar(caso.argumentos);
    ASSERT_EQ(resultado.estado, 0) << resultado.error;
    EXPECT_EQ(resultado.error.rfind(caso.aviso + "Datagramas enviados: ", 0), 0u)
        << resultado.error;
    EXPECT_EQ(resultado.salida, "");
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

// Options go after the arguments here, where getopt finds them as well: an option that lacks
// its value is then the last word.
TEST_F(Emisor, UnaOpcionMalEscritaSeNombraEnUnaLinea) {
  std::string f = Crear("f", "x");
  struct Caso {
    std::vector<std::string> opciones;
    std::string linea;
  } casos[] = {
      {{"-x"}, "Opcion no valida: -x"},
      {{"--nada=1"}, "Opcion no valida: --nada=1"},
      {{"--sin-limite=5"}, "La opcion --sin-limite no lleva valor: --sin-limite=5"},
      {{"--carr=1"}, "La opcion --carrusel no lleva valor: --carr=1"},
      {{"--s"}, "Opcion ambigua: --s (--subtipo, --sin-limite, --semilla)"},
      {{"-i", "eth9"}, "Interfaz desconocida: eth9"},
      {{"-r"}, "Falta el valor de la opcion -r"},
      {{"--perdida"}, "Falta el valor de la opcion --perdida"},
      {{"-r", "0x10"}, "Ritmo no valido: 0x10"},
      {{"-r", "0x1p4"}, "Ritmo no valido: 0x1p4"},
      {{"-r", "1e3"}, "Ritmo no valido: 1e3"},
      {{"-r", "1e300G"}, "Ritmo no valido: 1e300G"},
      {{"-r", "9999999999999999999g"}, "Ritmo no valido: 9999999999999999999g"},
      {{"-r", "5mb"}, "Ritmo no valido: 5mb"},
      {{"-v", "0x10"}, "Numero de vueltas no valido: 0x10"},
      {{"--repetir", "0"}, "Numero de repeticiones no valido: 0"},
      {{"--perdida", "1.5"}, "Perdida no valida: 1.5"},
      {{"--perdida", "101%"}, "Perdida no valida: 101%"},
      {{"-p", "1457"}, "Tamano de parte no valido: 1457"},
      {{"--ttl", "256"}, "TTL no valido: 256"},
      {{"-t", "12345"}, "Tipo no valido: 12345"},
      {{"-o", "al-azar"}, "Orden no valido: al-azar"},
      {{"--semilla", "0x10"}, "Semilla no valida: 0x10"},
      {{"-n", "a", f}, "La opcion --nombre solo vale con un unico fichero"},
  };
  for (Caso &caso : casos) {
    SCOPED_TRACE(caso.linea);
    caso.opciones.insert(caso.opciones.begin(), {kGrupo, kPuertoTexto, f});
    Resultado resultado = Ejecutar(caso.opciones);
    EXPECT_EQ(resultado.estado, 1);
    EXPECT_EQ(resultado.error, caso.linea + "\n" + kPruebe);
  }
  EXPECT_TRUE(Recibidos().empty());
}

// --repetir sends each file again before the next; --perdida leaves datagrams out, and the
// summary, written however the run is watched, counts what left and what did not.
TEST_F(Emisor, RepiteCadaFicheroYCuentaLoQueDejaSinEnviar) {
  std::string a = Crear("a", std::string(20, 'a')), b = Crear("b", std::string(10, 'b'));
  const std::string kFin = "Datagramas enviados: ";
  struct Caso {
    std::vector<std::string> opciones;
    std::vector<uint32_t> partes;
    std::string resumen;
  } casos[] = {
      {{"--repetir", "2", "-v", "2", "-r", "100m"},
       {1, 2, 1, 2, 1, 1, 1, 2, 1, 2, 1, 1},
       kFin + "12 (648 bytes) en T s, R datagramas/s; sin enviar: 0\n"},
      {{"--perdida", "100%", "-r", "2.5K"},
       {},
       kFin + "0 (0 bytes) en T s, R datagramas/s; sin enviar: 0; omitidos por --perdida: 3\n"},
      {{"--perdida", "0", "-r", "1G"},
       {1, 2, 1},
       kFin + "3 (162 bytes) en T s, R datagramas/s; sin enviar: 0; omitidos por --perdida: 0\n"},
  };
  for (Caso &caso : casos) {
    SCOPED_TRACE(caso.opciones[0]);
    caso.opciones.insert(caso.opciones.end(), {"-p", "10", kGrupo, kPuertoTexto, a, b});
    Resultado resultado = Ejecutar(caso.opciones);
    ASSERT_EQ(resultado.estado, 0) << resultado.error;
    EXPECT_EQ(SinTiempos(resultado.error), caso.resumen);
    EXPECT_EQ(PartesRecibidas(), caso.partes);
  }
  // a share, drawn per datagram: the summary counts what arrived, and a seed repeats the draws
  // (200 datagrams, which the test's socket holds without SO_RCVBUFFORCE)
  std::string c = Crear("c", std::string(200, 'c'));
  std::vector<std::string> argumentos = {"--perdida", "25%", "--semilla", "9",          "-p", "1",
                                         "-r",        "0",   kGrupo,      kPuertoTexto, c};
  std::string resumen = SinTiempos(Ejecutar(argumentos).error);
  std::vector<uint32_t> partes = PartesRecibidas();
  EXPECT_EQ(resumen, kFin + std::to_string(partes.size()) + " (" +
                         std::to_string(45 * partes.size()) + " bytes) en T s, R datagramas/s; " +
                         "sin enviar: 0; omitidos por --perdida: " +
                         std::to_string(200 - partes.size()) + "\n");
  EXPECT_GT(partes.size(), 110u);
  EXPECT_LT(partes.size(), 190u);
  EXPECT_EQ(SinTiempos(Ejecutar(argumentos).error), resumen);
  EXPECT_EQ(PartesRecibidas(), partes);
}

// A carrusel ends by a signal with its summary and status 0; a send that a signal cuts short
// says so after its summary, and one that a shrinking file ends says so before it, status 1.
TEST_F(Emisor, UnaSenalOUnFicheroQueEncogeTerminanElEnvioConSuResumen) {
  std::string ruta = Crear("f", std::string(100, 'x'));
  std::string resumen = "Datagramas enviados: 1 (54 bytes) en T s, R datagramas/s; sin enviar: 0\n";
  struct Caso {
    std::vector<std::string> opciones;
    bool encoger;  // truncate the file instead of sending a signal
    int estado;
    std::string error;
  } casos[] = {
      {{"-c"}, false, 0, resumen},
      {{}, false, 1, resumen + "Envio interrumpido: 1 de 10 datagramas enviados\n"},
      {{}, true, 1, "El fichero " + ruta + " ha encogido durante el envio\n" + resumen},
  };
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.error);
    std::vector<std::string> argumentos = {EMISOR_PATH, "-i", "127.0.0.1", "-r", "2", "-p", "10"};
    argumentos.insert(argumentos.end(), caso.opciones.begin(), caso.opciones.end());
    argumentos.insert(argumentos.end(), {kGrupo, kPuertoTexto, ruta});
    Proceso emisor = Lanzar(argumentos);
    pollfd fd{sock_, POLLIN, 0};
    ASSERT_EQ(poll(&fd, 1, 5000), 1);
    if (caso.encoger) std::filesystem::resize_file(ruta, 5);
    if (!caso.encoger) kill(emisor.pid, SIGTERM);
    EXPECT_EQ(EsperarFin(emisor), caso.estado);
    EXPECT_EQ(SinTiempos(emisor.error), caso.error);
    EXPECT_EQ(emisor.salida, "");
    EXPECT_EQ(Recibidos().size(), 1u);
  }
}

// Each file is open only while it is sent: a thousand go under a limit of 16 descriptors.
TEST_F(Emisor, MilFicherosCabenEnDieciseisDescriptores) {
  for (int i = 0; i < 1000; ++i) Crear(std::to_string(i), "");
  Proceso emisor = Lanzar({"/bin/bash", "-c",
                           "ulimit -n 16 && exec " EMISOR_PATH " -i 127.0.0.1 " + kGrupo + " " +
                               kPuertoTexto + " " + dir_ + "/*"});
  EXPECT_EQ(EsperarFin(emisor), 0);
  EXPECT_EQ(SinTiempos(emisor.error),
            "Datagramas enviados: 1000 (44000 bytes) en T s, R datagramas/s; sin enviar: 0\n");
  EXPECT_EQ(Recibidos().size(), 1000u);
}

// On a terminal the line names the file and the pass, stays within the terminal's width, and
// gives way to the summary.
TEST_F(Emisor, LaLineaDeProgresoCabeEnElTerminal) {
  std::string ruta = Crear("informe.pdf", std::string(30, 'x'));
  std::string orden = "stty cols 95; " EMISOR_PATH " -i 127.0.0.1 -r 4 -p 10 -v 2 " + kGrupo + " " +
                      kPuertoTexto + " " + ruta;
  Proceso script = Lanzar({"/usr/bin/script", "-qfec", orden, "/dev/null"});
  ASSERT_EQ(EsperarFin(script), 0) << script.salida;
  // every digit as #: the figures vary from run to run, their widths do not
  std::string salida = std::regex_replace(script.salida, std::regex("[0-9]"), "#");
  std::string marco =
      "\rPartes enviadas: #/#  quedan #:##:##  # datagramas/s  #.# Mbit/s  "
      "pasada #/#  informe.pdf";
  marco.resize(1 + 94, ' ');  // the carriage return, then 94 of the 95 columns
  std::size_t en = 0, marcos = 0;
  for (; salida.compare(en, marco.size(), marco) == 0; en += marco.size()) ++marcos;
  EXPECT_GE(marcos, 3u) << script.salida;
  EXPECT_EQ(salida.substr(en), "\r" + std::string(94, ' ') +
                                   "\rDatagramas enviados: # (### bytes) en #.## s, # "
                                   "datagramas/s; sin enviar: #\r\n");
}

// Behind a queue that holds a few datagrams: a token bucket on the loopback of a network
// namespace of this test alone, so that it never slows the tests that run beside it.
class EmisorTrasUnaColaPequena : public Emisor {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ExigirRedPrivada());
    ASSERT_EQ(unshare(CLONE_NEWNET), 0) << strerror(errno);
    ASSERT_EQ(system("ip link set lo up && ip route add 224.0.0.0/4 dev lo && "
                     "tc qdisc add dev lo root tbf rate 2mbit burst 1000 limit 600"),
              0);
    Emisor::SetUp();
  }
  void TearDown() override {
    Emisor::TearDown();
    EXPECT_EQ(system("tc qdisc del dev lo root"), 0);
  }
};

// A full queue is waited out, so every datagram arrives; a datagram larger than the bucket is
// never taken, and the summary counts it as not sent.
TEST_F(EmisorTrasUnaColaPequena, EsperaAQueLaColaSeVacieYCuentaLoQueNoCabe) {
  struct Caso {
    std::string tamparte;
    std::size_t largo;
    std::vector<uint32_t> partes;
    std::string resumen;
  } casos[] = {
      {"100", 20000, {}, "200 (28800 bytes) en T s, R datagramas/s; sin enviar: 0\n"},
      {"1428", 2 * 1428 + 8, {3}, "1 (52 bytes) en T s, R datagramas/s; sin enviar: 2\n"},
  };
  casos[0].partes.resize(200);
  std::iota(casos[0].partes.begin(), casos[0].partes.end(), 1u);
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.tamparte);
    std::string ruta = Crear("f", std::string(caso.largo, 'x'));
    Resultado resultado =
        Ejecutar({"--sin-limite", "-p", caso.tamparte, kGrupo, kPuertoTexto, ruta});
    EXPECT_EQ(resultado.estado, 0);
    EXPECT_EQ(SinTiempos(resultado.error), "Datagramas enviados: " + caso.resumen);
    EXPECT_EQ(PartesRecibidas(), caso.partes);
  }
}

// A carrusel as its operator meets it, in a network namespace of this test alone whose route
// to the groups it takes away; without -i, the sender takes the route as any program does.
class EmisorEnCarrusel : public Emisor {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ExigirRedPrivada());
    ASSERT_EQ(unshare(CLONE_NEWNET), 0) << strerror(errno);
    ASSERT_EQ(system("ip link set lo up && ip route add 224.0.0.0/4 dev lo"), 0);
    Emisor::SetUp();
  }
  void TearDown() override {
    // only a child not yet waited for: a pid already reaped may be another process's now
    if (emisor_.pid > 0 && waitpid(emisor_.pid, nullptr, WNOHANG) == 0) kill(emisor_.pid, SIGKILL);
    Emisor::TearDown();
  }
  // Reads the group, 10 s at most, until part 1 of that file comes; the rest is thrown away.
  bool Esperar(const std::string &nombre, uint32_t partes, const std::string &contenido) {
    std::string datagrama = Datagrama(1, 2, 1, partes, nombre, contenido);
    char b[2048];
    auto hasta = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (pollfd fd{sock_, POLLIN, 0}; std::chrono::steady_clock::now() < hasta;)
      if (poll(&fd, 1, 100) > 0 &&
          std::string(b, std::max<ssize_t>(recv(sock_, b, sizeof b, 0), 0)) == datagrama)
        return true;
    return false;
  }
  // Waits for the end, asked by a signal or not, and its summary, with dir_ as D and numbers
  // as #: returns what was said before.
  std::string Fin(bool senal, int estado) {
    if (senal) kill(emisor_.pid, SIGTERM);
    EXPECT_EQ(EsperarFin(emisor_), estado);
    std::string error = std::regex_replace(emisor_.error, std::regex(dir_), "D");
    error = std::regex_replace(error, std::regex("[0-9]+"), "#");
    std::size_t resumen = std::min(error.rfind("Datagramas enviados: "), error.size());
    EXPECT_EQ(error.substr(resumen),
              "Datagramas enviados: # (# bytes) en #.# s, # datagramas/s; sin enviar: #\n");
    return error.substr(0, resumen);
  }
  Proceso emisor_;
};

// Gone for a while, the route is said once and waited for; a single send ends instead.
TEST_F(EmisorEnCarrusel, UnaRutaQueSeVaSeEsperaYSeDiceUnaVez) {
  std::string f = Crear("f", std::string(30, 'f'));
  emisor_ = Lanzar({EMISOR_PATH, "-c", "-r", "200", "-p", "10", kGrupo, kPuertoTexto, f});
  ASSERT_TRUE(Esperar("f", 3, std::string(10, 'f')));
  ASSERT_EQ(system("ip route del 224.0.0.0/4 dev lo"), 0);
  Recibidos();  // until nothing came for 200 ms: what comes next left with the route back
  ASSERT_EQ(system("ip route add 224.0.0.0/4 dev lo"), 0);
  ASSERT_TRUE(Esperar("f", 3, std::string(10, 'f')));
  EXPECT_EQ(Fin(true, 0),
            "Error al enviar la parte #/# de D/f: Network is unreachable\n"
            "Envio reanudado en la parte #/# de D/f\n");
  ASSERT_EQ(system("ip route del 224.0.0.0/4 dev lo"), 0);
  emisor_ = Lanzar({EMISOR_PATH, "-p", "10", kGrupo, kPuertoTexto, f});
  EXPECT_EQ(Fin(false, 1), "Error al enviar la parte #/# de D/f: Network is unreachable\n");
}

// Each send opens the file by its name, as it is then: shrunk during a send, replaced, gone
// and back. What lasts is said once.
TEST_F(EmisorEnCarrusel, CadaEnvioTomaElFicheroComoEsta) {
  std::string a = Crear("a", "primero"), b = Crear("b", std::string(1000, 'b'));
  emisor_ = Lanzar({EMISOR_PATH, "-c", "-r", "400", "-p", "10", kGrupo, kPuertoTexto, a, b});
  ASSERT_TRUE(Esperar("b", 100, std::string(10, 'b')));
  std::filesystem::resize_file(b, 15);
  ASSERT_TRUE(Esperar("b", 2, std::string(10, 'b')));
  std::rename(Crear("nuevo", "segundo").c_str(), a.c_str());
  ASSERT_TRUE(Esperar("a", 1, "segundo"));
  std::filesystem::remove(a);
  // what waited to be read is a pass at most: of four more, two at least look for a in vain
  for (int pasada = 0; pasada < 4; ++pasada) ASSERT_TRUE(Esperar("b", 2, std::string(10, 'b')));
  Crear("a", "tercero");
  ASSERT_TRUE(Esperar("a", 1, "tercero"));
  EXPECT_EQ(Fin(true, 0),
            "El fichero D/b ha encogido durante el envio\n"
            "Error al abrir el fichero D/a: No such file or directory\n"
            "El fichero D/a vuelve a enviarse\n");
}
