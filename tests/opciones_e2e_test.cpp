// End-to-end tests of the receiver's options: several files in progress on a lossy network,
// resuming after an orderly end, the quiet log, and wrong options.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <regex>

#include "e2e.h"

namespace {

class OpcionesE2E : public testing::Test {
 protected:
  void SetUp() override {
    ExigirRedPrivada();
    dir = DirectorioNuevo();
  }
  // a test that stops at a failed assertion leaves no receiver behind
  void TearDown() override {
    for (pid_t pid : lanzados) {
      // only a child not yet waited for: a pid already reaped may be another process's now
      if (waitpid(pid, nullptr, WNOHANG) != 0) continue;
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    BorrarDirectorio(dir);
  }
  // The receiver with the options given, in dir or in the directory given; what it prints goes
  // to a file when a test does not read it while it runs.
  // The environment given (NAME=value) is added to the receiver's.
  Proceso Cliente(std::vector<std::string> opciones, const std::string &en = "",
                  bool salida_a_nada = false, std::vector<std::string> entorno = {}) {
    std::vector<std::string> argumentos = {CLIENT_PATH};
    if (salida_a_nada)
      argumentos = {"/bin/bash", "-c", "exec \"$0\" \"$@\" >/dev/null", CLIENT_PATH};
    if (!entorno.empty()) {
      entorno.insert(entorno.begin(), "/usr/bin/env");
      argumentos.insert(argumentos.begin(), entorno.begin(), entorno.end());
    }
    argumentos.insert(argumentos.end(), opciones.begin(), opciones.end());
    argumentos.insert(argumentos.end(), {destino.grupo, std::to_string(destino.puerto), "2"});
    Proceso cliente = Lanzar(argumentos, en.empty() ? dir : en);
    lanzados.push_back(cliente.pid);
    EXPECT_TRUE(EsperarUnion(destino));
    return cliente;
  }
  std::vector<pid_t> lanzados;
  // Part i, counted from 1, of a file of parts of 100 bytes.
  std::string Parte(const std::string &nombre, const std::string &contenido, uint32_t i) {
    uint32_t total = static_cast<uint32_t>((contenido.size() + 99) / 100);
    return Datagrama(1, 2, i, total, nombre, contenido.substr((i - 1) * 100, 100));
  }
  // The first line of the quiet log.
  std::string Inicio() {
    return "Recibiendo " + destino.grupo + ", puerto " + std::to_string(destino.puerto) +
           ", modo 2, en " + dir + "\n";
  }
  Destino destino = DestinoNuevo();
  std::string dir;
};

TEST_F(OpcionesE2E, UnaOpcionErroneaSeNombraYNoAbreNingunSocket) {
  const std::string kPruebe = "\nPruebe 'client --help' para mas informacion.\n";
  const std::string g = destino.grupo;
  struct Caso {
    std::vector<std::string> argumentos;
    std::string error;
  } casos[] = {
      {{"-z", g, "1", "2"}, "Opcion no valida: -z" + kPruebe},
      {{"--otra=1", g, "1", "2"}, "Opcion no valida: --otra=1" + kPruebe},
      {{"--f", "1", g, "1", "2"}, "Opcion ambigua: --f (--fuente, --ficheros)" + kPruebe},
      {{"-f", "0", g, "1", "2"}, "Numero de ficheros no valido: 0 (de 1 a 1024)" + kPruebe},
      {{"--ficheros=1025", g, "1", "2"},
       "Numero de ficheros no valido: 1025 (de 1 a 1024)" + kPruebe},
      {{"-f", "0x10", g, "1", "2"}, "Numero de ficheros no valido: 0x10 (de 1 a 1024)" + kPruebe},
      {{"--caducar", "7x", g, "1", "2"},
       "Duracion no valida: 7x (un numero con s, m, h o d, como 7d)" + kPruebe},
      {{"--caducar=0d", g, "1", "2"},
       "Duracion no valida: 0d (un numero con s, m, h o d, como 7d)" + kPruebe},
      {{"--caducar", "d", g, "1", "2"},
       "Duracion no valida: d (un numero con s, m, h o d, como 7d)" + kPruebe},
      {{"--max-partes", "0", g, "1", "2"},
       "Numero de partes no valido: 0 (de 1 a 2147483647)" + kPruebe},
      {{"--max-partes=2147483648", g, "1", "2"},
       "Numero de partes no valido: 2147483648 (de 1 a 2147483647)" + kPruebe},
      {{"--max-partes", "-5", g, "1", "2"},
       "Numero de partes no valido: -5 (de 1 a 2147483647)" + kPruebe},
      {{"--max-partes", "mil", g, "1", "2"},
       "Numero de partes no valido: mil (de 1 a 2147483647)" + kPruebe},
      {{"--rean=si", g, "1", "2"}, "La opcion --reanudar no lleva valor: --rean=si" + kPruebe},
      {{"-qf"}, "Falta el valor de la opcion -f" + kPruebe},
      {{"-s", "emisor", g, "1", "2"}, "Direccion de fuente no valida: emisor" + kPruebe},
      {{g, "abc", "2"}, "Puerto no valido: 'abc'" + kPruebe},
      {{g, "", "2"}, "Puerto no valido: ''" + kPruebe},
      {{"-d", dir + "/falta", g, "1", "2"},
       "No se pueden guardar ficheros en el directorio " + dir +
           "/falta: No such file or "
           "directory\n"},
      {{"-i", "eth9", g, "1", "2"}, "Interfaz desconocida: eth9\n"},
      {{"-e", dir + "/falta/estado.json", g, "1", "2"},
       "No se puede escribir el fichero de estado " + dir +
           "/falta/estado.json: No such file or directory\n"},
  };
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.error);
    std::vector<std::string> argumentos = {CLIENT_PATH};
    argumentos.insert(argumentos.end(), caso.argumentos.begin(), caso.argumentos.end());
    Proceso cliente = Lanzar(argumentos);
    EXPECT_EQ(EsperarFin(cliente), 1);
    EXPECT_EQ(cliente.error, caso.error);
    EXPECT_EQ(cliente.salida, "");
  }
  for (const char *version : {"-V", "--version"}) {
    Proceso cliente = Lanzar({CLIENT_PATH, version});
    EXPECT_EQ(EsperarFin(cliente), 0);
    EXPECT_EQ(cliente.salida, "client" + kVersionConCommit);
  }
  Proceso ayuda = Lanzar({CLIENT_PATH, "--help"});
  EXPECT_EQ(EsperarFin(ayuda), 0);
  // within 80 columns, every option named
  for (std::size_t desde = 0, fin; (fin = ayuda.salida.find('\n', desde)) != std::string::npos;
       desde = fin + 1)
    EXPECT_LE(fin - desde, 80u);
  for (const char *opcion :
       {"--directorio", "--interfaz", "--fuente", "--al-completar", "--estado", "--caducar",
        "--max-partes", "--clave", "--puerto-lateral", "--reparar"})
    EXPECT_NE(ayuda.salida.find(opcion), std::string::npos) << opcion;
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

  // the end at the part-count limit is orderly too: a service starts the receiver again
  cliente = Cliente({"-r"});
  Enviar(destino, Parte("muerto", contenido, 3));
  Enviar(destino, Datagrama(1, 2, 1, 50001, "enorme", "x"));
  EXPECT_EQ(EsperarFin(cliente), 2);
  EXPECT_NE(cliente.salida.find("Reanudado 0001-0002-muerto con 1 de 10 partes.\n"),
            std::string::npos);
  EXPECT_EQ(Listar(dir), (std::vector<std::string>{".0001-0002-muerto.partes",
                                                   "0001-0002-muerto.tmp", "0001-0002-sigue"}));
}

// A resumed file refuses a first datagram of another layout; a part that comes again with other
// bytes than those on disk starts the file afresh; a stored file's leftovers go.
TEST_F(OpcionesE2E, LoReanudadoYLoRepetidoSeComparanConLoGuardado) {
  std::string contenido = ContenidoAleatorio(300, 3);
  Proceso cliente = Cliente({"-r"});
  Enviar(destino, Parte("capa", contenido, 1));
  ASSERT_TRUE(LeerLineas(cliente, 3));
  EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
  cliente = Cliente({"-r", "-q"});
  Enviar(destino, Datagrama(1, 2, 2, 3, "capa", std::string(50, 'x')));
  Enviar(destino, Datagrama(1, 2, 1, 3, "capa", std::string(100, 'v')));
  for (uint32_t i : {2, 3}) Enviar(destino, Parte("capa", contenido, i));
  ASSERT_TRUE(LeerHastaTexto(cliente, "Completado!\n"));
  for (std::string resto : {"/0001-0002-capa.tmp", "/.0001-0002-capa.partes"})
    fclose(fopen((dir + resto).c_str(), "w"));
  Enviar(destino, Parte("capa", contenido, 1));
  usleep(100000);
  EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
  EXPECT_EQ(
      cliente.salida,
      Inicio() +
          "0001-0002-capa: Reanudado con 1 de 3 partes.\n"
          "0001-0002-capa: Parte de 50 bytes distinta de las del fichero en curso (100), "
          "descartada.\n"
          "0001-0002-capa: Parte 0 distinta de la ya recibida: el fichero ha cambiado, se empieza "
          "de nuevo (emisor 127.0.0.1).\n"
          "0001-0002-capa: Empezado con 3 partes de 100 bytes.\n"
          "0001-0002-capa: Completado!\n"
          "0001-0002-capa: Ya grabado antes...\n");
  EXPECT_EQ(LeerFichero(dir + "/0001-0002-capa"), std::string(100, 'v') + contenido.substr(100));
  EXPECT_EQ(Listar(dir), std::vector<std::string>{"0001-0002-capa"});
}

// One receiver stores in a directory. A closed standard output ends it in order: its records
// are saved as at any other end.
TEST_F(OpcionesE2E, UnReceptorPorDirectorioYUnaSalidaCerradaGuardaLosRegistros) {
  Proceso cliente = Cliente({"-r"});
  Proceso segundo = Lanzar({CLIENT_PATH, destino.grupo, std::to_string(destino.puerto), "2"}, dir);
  EXPECT_EQ(EsperarFin(segundo), 1);
  EXPECT_EQ(segundo.error, "Otro receptor ya almacena ficheros en este directorio.\n");
  EXPECT_EQ(segundo.salida, "");
  std::string contenido = ContenidoAleatorio(300, 4);
  Enviar(destino, Parte("tubo", contenido, 1));
  ASSERT_TRUE(LeerLineas(cliente, 3));
  close(cliente.fd_salida);
  cliente.fd_salida = -1;
  Enviar(destino, Parte("tubo", contenido, 2));
  EXPECT_EQ(EsperarFin(cliente), 128 + SIGPIPE);
  EXPECT_EQ(Listar(dir),
            (std::vector<std::string>{".0001-0002-tubo.partes", "0001-0002-tubo.tmp"}));
}

// Files rebuilt in another directory; a sender not asked for is never printed, stored or
// counted; the status file names the file in progress while it arrives; the program gets the
// file's path and no standard input, and one that cannot run is told.
TEST_F(OpcionesE2E, OtraFuenteNoCuentaYCadaFicheroCompletoPasaAlPrograma) {
  std::string otro = DirectorioNuevo(), bueno = ContenidoAleatorio(250, 7);
  std::ofstream(otro + "/al-completar") << "#!/bin/sh\nread nada; echo \"$1 $nada\" >> hechos\n";
  chmod((otro + "/al-completar").c_str(), 0755);
  Proceso cliente =
      Cliente({"-q", "-d", dir, "-s", "127.0.0.1", "-x", "./al-completar", "-e", "e.json"}, otro);
  for (uint32_t i = 1; i <= 3; ++i) Enviar(destino, Parte("ajeno", bueno, i), "127.0.0.2");
  Enviar(destino, Parte("bueno", bueno, 1));
  ASSERT_TRUE(LeerHastaTexto(cliente, "Empezado"));
  usleep(1'200'000);  // the status file is written about once a second
  std::string durante = LeerFichero(otro + "/e.json");
  for (uint32_t i = 1; i <= 3; ++i) Enviar(destino, Parte("bueno", bueno, i));
  ASSERT_TRUE(LeerHastaTexto(cliente, "termino con estado 0.\n")) << cliente.salida;
  EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
  EXPECT_EQ(cliente.salida, Inicio() +
                                "0001-0002-bueno: Empezado con 3 partes de 100 bytes.\n"
                                "0001-0002-bueno: Completado!\n"
                                "0001-0002-bueno: ./al-completar termino con estado 0.\n");
  EXPECT_EQ(LeerFichero(dir + "/0001-0002-bueno"), bueno);
  EXPECT_EQ(LeerFichero(dir + "/hechos"), dir + "/0001-0002-bueno \n");
  durante = std::regex_replace(durante, std::regex("\"edad_s\": [0-9]+"), "\"edad_s\": E");
  EXPECT_NE(durante.find(
                "  \"datagramas\": 1,\n  \"descartados_por_el_nucleo\": 0,\n  "
                "\"completados\": 0,\n  \"fallos\": 0,\n  \"directorio_escribible\": true,\n  "
                "\"rechazados\": 0,\n  \"avisos_sin_decir\": 0,\n  \"en_curso\": [\n    "
                "{\"fichero\": \"0001-0002-bueno\", \"partes\": 1, \"total\": 3, \"edad_s\": E, "
                "\"error\": null}\n  ],\n  \"restos\": []\n}\n"),
            std::string::npos)
      << durante;
  EXPECT_NE(LeerFichero(otro + "/e.json").find("\"datagramas\": 4,"), std::string::npos);
  cliente = Cliente({"-x", "/no/existe"});
  Enviar(destino, Parte("otro", "ok", 1));
  // a name with control bytes is no file's: it never reaches the disk nor the program
  Enviar(destino, Parte("m\x1b[2Jal", "ok", 1));
  ASSERT_TRUE(LeerHastaTexto(cliente, "Completado!\n"));
  ASSERT_TRUE(LeerHastaTexto(cliente, "T:0001|S:0002|Nom:m\x1b[2Jal|0/1|MxPrt:0|Fltn:0|\nNombre con "
                                      "caracteres de control no permitido, descartado.\n"))
      << cliente.salida;
  EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
  EXPECT_EQ(cliente.error,
            "0001-0002-otro: No se pudo ejecutar /no/existe para 0001-0002-otro: No such file or "
            "directory\n");
  BorrarDirectorio(otro);
}

// Every file announced complete reaches its program at least once, however the receiver ends:
// completed while it ends, after a datagram over the part-count limit that a quiet receiver
// refuses, or killed while the program runs. The next start hands over what is pending. A program's
// path may be as long as a path can be.
TEST_F(OpcionesE2E, CadaFicheroCompletadoLlegaAlProgramaTermineComoTermineElReceptor) {
  // the program waits while "cerrado" exists, 10 s at most
  std::ofstream(dir + "/entregar")
      << "#!/bin/sh\ntouch empezado\nfor i in $(seq 200); do [ -e "
         "cerrado ] || break; sleep 0.05; done\necho \"$1\" >> hechos\n";
  chmod((dir + "/entregar").c_str(), 0755);
  std::string programa, contenido = ContenidoAleatorio(250, 5);
  while (programa.size() < 3000) programa += "./";
  programa += "entregar";
  const std::string pendiente = ": pendiente de " + programa + "; se le pasara al arrancar.\n";
  struct Caso {
    std::string nombre;
    bool en_marcha;     // the receiver ends while the program runs; else stopped before it starts
    int senal;          // what ends it; 0: SIGTERM after a datagram over the part-count
                        // limit, which a quiet receiver refuses and goes on
    std::string linea;  // its last lines, after the file's identity
  } casos[] = {
      {"senal", false, SIGTERM, pendiente},
      {"limite", true, 0,
       ": " + programa + " sigue en marcha; se le pasara de nuevo al arrancar.\n"},
      {"marcha", true, SIGTERM,
       ": " + programa + " sigue en marcha; se le pasara de nuevo al arrancar.\n"},
      {"muerto", true, SIGKILL, ""},
  };
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.nombre);
    std::string id = "0001-0002-" + caso.nombre, marca = dir + "/." + id + ".pendiente";
    for (const char *resto : {"/hechos", "/empezado"}) unlink((dir + resto).c_str());
    Proceso cliente = Cliente({"-q", "-x", programa});
    if (caso.en_marcha) std::ofstream(dir + "/cerrado");
    if (!caso.en_marcha) kill(cliente.pid, SIGSTOP);
    for (uint32_t i = 1; i <= 3; ++i) Enviar(destino, Parte(caso.nombre, contenido, i));
    if (caso.senal == 0) Enviar(destino, Datagrama(1, 2, 1, 50001, "enorme", "x"));
    for (int i = 0; caso.en_marcha && i < 200 && access((dir + "/empezado").c_str(), F_OK); ++i)
      usleep(20000);
    int senal = caso.senal == 0 ? SIGTERM : caso.senal;
    if (caso.senal == 0) {
      ASSERT_TRUE(LeerHastaTexto(cliente, "descartado.\n")) << cliente.salida;
    }
    kill(cliente.pid, senal);
    kill(cliente.pid, SIGCONT);
    // the program, left running, holds the receiver's output open until it ends
    unlink((dir + "/cerrado").c_str());
    EXPECT_EQ(EsperarFin(cliente), 128 + senal);
    std::string rechazo = caso.senal != 0 ? ""
                                          : "0001-0002-enorme: Total de partes 50001 mayor que el "
                                            "maximo (50000), descartado.\n";
    EXPECT_EQ(cliente.salida, Inicio() + id + ": Empezado con 3 partes de 100 bytes.\n" + id +
                                  ": Completado!\n" + rechazo +
                                  (caso.linea.empty() ? "" : id + caso.linea));
    EXPECT_EQ(access(marca.c_str(), F_OK), 0);

    cliente = Cliente({"-q", "-x", programa});
    ASSERT_TRUE(LeerHastaTexto(cliente, "termino con estado 0.\n")) << cliente.salida;
    EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
    EXPECT_EQ(cliente.salida, Inicio() + id + ": " + programa + " termino con estado 0.\n");
    EXPECT_NE(LeerFichero(dir + "/hechos").find(dir + "/" + id + "\n"), std::string::npos);
    EXPECT_NE(access(marca.c_str(), F_OK), 0);
  }
  // a pending file that went away is told and cleared
  std::ofstream(dir + "/.0001-0002-ido.pendiente");
  Proceso cliente = Cliente({"-x", programa});
  usleep(100000);
  EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
  EXPECT_EQ(cliente.error, "0001-0002-ido: ya no existe; no se le pasa a " + programa + ".\n");
  EXPECT_NE(access((dir + "/.0001-0002-ido.pendiente").c_str(), F_OK), 0);
}

// With -a, a stored file is received again when a datagram disagrees with it, in its bytes or
// its layout, and replaced whole once complete: a reader meanwhile sees one version or the
// other. The same version sent again changes nothing; a file mixed from two is mended.
TEST_F(OpcionesE2E, ConActualizarUnaVersionNuevaSustituyeALaGrabada) {
  const std::string id = "0001-0002-hoja", ruta = dir + "/" + id;
  std::string v1 = ContenidoAleatorio(300, 1), v2 = ContenidoAleatorio(300, 2);
  std::string v3 = ContenidoAleatorio(320, 3), mezcla = v2.substr(0, 100) + v3.substr(100);
  auto pasada = [&](const std::string &contenido, uint32_t tam) {
    uint32_t total = static_cast<uint32_t>((contenido.size() + tam - 1) / tam);
    for (uint32_t i = 1; i <= total; ++i) {
      Enviar(destino, Datagrama(1, 2, i, total, "hoja", contenido.substr((i - 1) * tam, tam)));
      std::string leido = LeerFichero(ruta);
      EXPECT_TRUE(leido.empty() || leido == v1 || leido == v2 || leido == v3 || leido == mezcla);
    }
  };
  Proceso cliente = Cliente({"-q", "-a"});
  pasada(v1, 100);
  ASSERT_TRUE(LeerHastaTexto(cliente, "Completado!\n"));
  struct stat antes, despues;
  ASSERT_EQ(stat(ruta.c_str(), &antes), 0);
  pasada(v1, 100);
  ASSERT_TRUE(LeerHastaTexto(cliente, "antes...\n"));
  ASSERT_EQ(stat(ruta.c_str(), &despues), 0);
  EXPECT_EQ(despues.st_ino, antes.st_ino);
  EXPECT_EQ(despues.st_mtim.tv_nsec, antes.st_mtim.tv_nsec);
  struct Caso {
    std::string contenido;  // "mezcla": v3, over a stored file mixed from two versions
    uint32_t tam;
  } casos[] = {{v2, 100}, {v3, 80}, {"mezcla", 80}};
  std::string esperado = Inicio() + id + ": Empezado con 3 partes de 100 bytes.\n" + id +
                         ": Completado!\n" + id + ": Ya grabado antes...\n";
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.tam);
    if (caso.contenido == "mezcla") std::ofstream(ruta, std::ios::binary) << mezcla;
    const std::string &contenido = caso.contenido == "mezcla" ? v3 : caso.contenido;
    pasada(contenido, caso.tam);
    esperado += id + ": Nueva version del fichero grabado: se recibe de nuevo (emisor 127.0.0.1).\n" + id +
                ": Empezado con " + std::to_string(contenido.size() / caso.tam) + " partes de " +
                std::to_string(caso.tam) + " bytes.\n" + id + ": Completado!\n";
    ASSERT_TRUE(LeerHastaTexto(cliente, esperado)) << cliente.salida;
    EXPECT_EQ(LeerFichero(ruta), contenido);
  }
  EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
  EXPECT_EQ(cliente.salida, esperado);
  EXPECT_EQ(Listar(dir), std::vector<std::string>{id});
}

// With -a and -r, a directory sync that fails after a new version took the stored file's name
// leaves a whole file under that name, old or new, at every moment; the new version is
// announced once a sync succeeds.
TEST_F(OpcionesE2E, UnDirectorioQueNoSeSincronizaNoDejaSinFicheroGrabado) {
  const std::string id = "0001-0002-hoja", ruta = dir + "/" + id;
  std::string v1 = ContenidoAleatorio(300, 11), v2 = ContenidoAleatorio(300, 12);
  std::string aparte = DirectorioNuevo(), senal = aparte + "/fallar";
  Proceso cliente = Cliente({"-q", "-a", "-r"}, "", false,
                            {"LD_PRELOAD=" SIN_SYNC_PATH, "RECEPTOR_PRUEBA_SIN_SYNC=" + senal,
                             "ASAN_OPTIONS=verify_asan_link_order=0"});
  for (uint32_t i = 1; i <= 3; ++i) Enviar(destino, Parte("hoja", v1, i));
  ASSERT_TRUE(LeerHastaTexto(cliente, "Completado!\n"));
  std::ofstream(senal).flush();
  for (uint32_t i = 1; i <= 3; ++i) {
    Enviar(destino, Parte("hoja", v2, i));
    for (int j = 0; j < 20; ++j) {
      std::string leido = LeerFichero(ruta);
      EXPECT_TRUE(leido == v1 || leido == v2) << "no whole file under the final name";
      usleep(5000);
    }
  }
  Escuchar(cliente, 0.2);
  EXPECT_EQ(LeerFichero(ruta), v2);
  std::string antes = Inicio() + id + ": Empezado con 3 partes de 100 bytes.\n" + id +
                      ": Completado!\n" + id +
                      ": Nueva version del fichero grabado: se recibe de nuevo (emisor 127.0.0.1).\n" + id +
                      ": Empezado con 3 partes de 100 bytes.\n";
  EXPECT_EQ(cliente.salida, antes);
  EXPECT_EQ(cliente.error,
            "0001-0002-hoja: Error al sincronizar el directorio de trabajo: Input/output error\n");
  unlink(senal.c_str());
  // the next save, within 5 s, syncs the directory
  EXPECT_TRUE(LeerHastaTexto(cliente, antes + id + ": Completado!\n")) << cliente.salida;
  EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
  EXPECT_EQ(Listar(dir), std::vector<std::string>{id});
  BorrarDirectorio(aparte);
}

// With -x, the marks on disk are the queue: a file that completes again while its program runs
// and the queue in memory is full is handed over again by a program started after that, and
// a quick program takes a thousand waiting files within seconds on an idle receiver.
TEST_F(OpcionesE2E, UnaEntregaQueNoCabeEnLaColaEsperaEnSuMarca) {
  // every program waits while "cerrado" exists, 60 s at most
  std::ofstream(dir + "/entregar")
      << "#!/bin/sh\nfor i in $(seq 1200); do [ -e cerrado ] || break; sleep 0.05; done\n"
         "echo \"${1##*/} $(cat \"$1\")\" >> hechos\n";
  chmod((dir + "/entregar").c_str(), 0755);
  std::ofstream(dir + "/cerrado").flush();
  Proceso cliente = Cliente({"-q", "-a", "-x", "./entregar"}, "", true);
  const std::string v1 = "primera", v2 = "segunda";
  std::vector<std::string> nombres = {"x", "o1", "o2", "o3"};
  for (int i = 0; i < 1024; ++i) nombres.push_back("uno" + std::to_string(i));
  // a few at a time: the socket's queue is not the test's subject
  for (std::size_t i = 0; i < nombres.size(); ++i) {
    Enviar(destino, Datagrama(1, 2, 1, 1, nombres[i], i == 0 ? v1 : "c"));
    if (i % 32 == 0) usleep(20000);
  }
  usleep(300000);
  Enviar(destino, Datagrama(1, 2, 1, 1, "x", v2));
  usleep(300000);
  unlink((dir + "/cerrado").c_str());
  auto lineas = [&] {
    std::string hechos = LeerFichero(dir + "/hechos");
    return std::count(hechos.begin(), hechos.end(), '\n');
  };
  for (int i = 0; i < 600 && lineas() < 1029; ++i) usleep(100000);
  EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
  std::string hechos = LeerFichero(dir + "/hechos");
  EXPECT_EQ(lineas(), 1029) << "every completion reaches a program started after it\n" << hechos;
  std::string ultima_x = hechos.substr(hechos.rfind("0001-0002-x "));
  EXPECT_EQ(ultima_x.substr(0, ultima_x.find('\n')), "0001-0002-x " + v2);
  EXPECT_EQ(cliente.error,
            "Demasiados ficheros esperan a ./entregar: desde 0001-0002-x, cada uno espera en su "
            "marca y se le pasara cuando haya sitio\n");
  for (const std::string &nombre : Listar(dir))
    EXPECT_EQ(nombre.find(".pendiente"), std::string::npos) << nombre;
}

// Leftovers of files that never came back age out: at the start, those unchanged for longer
// than --caducar go, each told; the rest wait, listed in the status file with their age.
TEST_F(OpcionesE2E, LosRestosViejosCaducanYLosDemasSeListan) {
  std::string contenido = ContenidoAleatorio(300, 29);
  Proceso cliente = Cliente({"-r", "-f", "2"});
  Enviar(destino, Parte("viejo", contenido, 1));
  Enviar(destino, Parte("reciente", contenido, 2));
  ASSERT_TRUE(LeerLineas(cliente, 6));
  EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
  std::ofstream(dir + "/0001-0002-suelto.tmp") << "x";
  std::ofstream(dir + "/otro.tmp") << "no es de ningun receptor";
  // a week and a day ago, and the record of "viejo" too, which keeps when a part came last
  const long long hace = time(nullptr) - 8 * 86400;
  std::string registro = LeerFichero(dir + "/.0001-0002-viejo.partes");
  std::ofstream(dir + "/.0001-0002-viejo.partes")
      << std::regex_replace(registro, std::regex("progreso [0-9]+"), "progreso " + std::to_string(hace));
  for (const char *nombre :
       {"0001-0002-viejo.tmp", ".0001-0002-viejo.partes", "0001-0002-suelto.tmp", "otro.tmp"}) {
    timespec veces[2] = {{hace, 0}, {hace, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (dir + "/" + nombre).c_str(), veces, 0), 0) << nombre;
  }
  cliente = Cliente({"-q", "--caducar", "7d", "-e", "e.json"});
  ASSERT_TRUE(LeerLineas(cliente, 3));
  usleep(100000);
  std::string estado = LeerFichero(dir + "/e.json");
  EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
  // the ages as E: a second may pass between the lines and the check
  std::regex edad("(en |edad_s\": )[0-9]+");
  EXPECT_EQ(std::regex_replace(cliente.salida, edad, "$1E"),
            Inicio() +
                "0001-0002-suelto: Caducado, sin registro, sin cambios en E s.\n"
                "0001-0002-viejo: Caducado con 1 de 3 partes, sin cambios en E s.\n");
  EXPECT_NE(cliente.salida.find("en 69120"), std::string::npos) << "8 days";
  std::string restos = estado.substr(estado.find("  \"restos\""));
  EXPECT_EQ(std::regex_replace(restos, edad, "$1E"),
            "  \"restos\": [\n    {\"fichero\": \"0001-0002-reciente\", \"partes\": 1, "
            "\"total\": 3, \"edad_s\": E}\n  ]\n}\n");
  EXPECT_EQ(Listar(dir),
            (std::vector<std::string>{".0001-0002-reciente.partes", "0001-0002-reciente.tmp",
                                      "e.json", "otro.tmp"}));
}

// A file's age is its time without a new part, which no stop resets: past --caducar it goes with
// its temporary file and record, in progress too, one line each.
TEST_F(OpcionesE2E, UnFicheroSinPartesNuevasCaducaEnCursoOTrasUnaParada) {
  for (bool parado : {false, true}) {
    Proceso cliente = Cliente({"-q", "-r", "-f", "4", "--caducar", parado ? "1d" : "2s"});
    for (uint32_t i = 1; i <= 2; ++i) Enviar(destino, Parte("t", std::string(400, 't'), i));
    Escuchar(cliente, parado ? 0.2 : 3);
    EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
    if (parado) {
      usleep(2500000);
      cliente = Cliente({"-q", "--caducar", "2s"});
      ASSERT_TRUE(LeerLineas(cliente, 2));
      EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
    }
    EXPECT_EQ(std::regex_replace(cliente.salida, std::regex("en [2-9] s"), "en E s"),
              Inicio() + (parado ? "" : "0001-0002-t: Empezado con 4 partes de 100 bytes.\n") +
                  "0001-0002-t: Caducado con 2 de 4 partes, sin cambios en E s.\n");
    EXPECT_EQ(Listar(dir), std::vector<std::string>{});
  }
}

// On the journal's stream (JOURNAL_STREAM names it), each line starts with its syslog priority:
// errors 3, warnings 4, events 6; on any other stream, never.
TEST_F(OpcionesE2E, EnElDiarioCadaLineaLlevaSuPrioridad) {
  // standard output is the journal's stream, standard error a pipe of its own
  Proceso cliente = Lanzar(
      {"/bin/bash", "-c", "JOURNAL_STREAM=$(stat -L -c %d:%i /proc/$$/fd/1) exec \"$0\" \"$@\"",
       CLIENT_PATH, "-q", "-x", "/no/existe", destino.grupo, std::to_string(destino.puerto), "2"},
      dir);
  lanzados.push_back(cliente.pid);
  ASSERT_TRUE(EsperarUnion(destino));
  Enviar(destino, Datagrama(1, 2, 1, 1, "d", "ok"));
  usleep(100000);
  Enviar(destino, Datagrama(1, 2, 1, 0, "e", "x"));
  // a name cannot forge a line of its own, nor make the journal keep its line as a blob
  Enviar(destino, Datagrama(1, 2, 1, 1, "x\n<3>y\x07", "x"));
  ASSERT_TRUE(LeerHastaTexto(cliente, "no permitido, descartado.\n")) << cliente.salida;
  EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
  EXPECT_EQ(cliente.salida,
            "<6>" + Inicio() +
                "<6>0001-0002-d: Empezado con 1 partes de 2 bytes.\n<6>0001-0002-d: "
                "Completado!\n<4>0001-0002-e: Total de partes 0 no valido, "
                "descartado.\n<4>0001-0002-x?<3>y?: Nombre con caracteres de control no "
                "permitido, descartado.\n");
  EXPECT_EQ(cliente.error,
            "0001-0002-d: No se pudo ejecutar /no/existe para 0001-0002-d: No such file or "
            "directory\n");
}

// Quiet, a refusal that repeats is told once and counted; a sender that changes the file in
// progress is followed, and the late datagrams of its old layout are refused without a flood.
TEST_F(OpcionesE2E, UnRechazoQueSeRepiteSeDiceUnaVezYSeCuenta) {
  const std::string id = "0001-0002-lluvia", nueva = ContenidoAleatorio(320, 9);
  auto parte = [&](uint32_t i) {
    return Datagrama(1, 2, i, 4, "lluvia", nueva.substr(i * 80 - 80, 80));
  };
  Proceso cliente = Cliente({"-q"});
  Enviar(destino, Datagrama(1, 2, 1, 3, "lluvia", std::string(100, 'a')));
  for (int i = 0; i < 30; ++i) Enviar(destino, Datagrama(1, 2, 9, 3, "lluvia", "x"));
  Enviar(destino, parte(1));
  Enviar(destino, parte(2));
  for (int i = 0; i < 30; ++i)
    Enviar(destino, Datagrama(1, 2, 2, 3, "lluvia", std::string(100, 'a')));
  Enviar(destino, parte(3));
  Enviar(destino, parte(4));
  ASSERT_TRUE(LeerHastaTexto(cliente, "Completado!\n")) << cliente.salida;
  EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
  const std::string fuera = id + ": Parte 8/3 fuera del fichero, descartada.";
  const std::string vieja =
      id + ": Total de partes 3 distinto del fichero en curso (4), descartado.";
  std::string salida = cliente.salida;
  // the seconds of each count depend on the machine
  for (std::size_t en; (en = salida.find(" s.\n")) != std::string::npos;)
    salida.replace(salida.rfind(' ', en - 1) + 1, en + 4 - salida.rfind(' ', en - 1) - 1, "S\n");
  EXPECT_EQ(salida, Inicio() + id + ": Empezado con 3 partes de 100 bytes.\n" + fuera + "\n" + id +
                        ": Total de partes 4 distinto del fichero en curso (3), descartado.\n" +
                        fuera + " Repetido 29 veces en S\n" + id +
                        ": Total de partes 4 distinto del fichero en curso (3): el fichero ha "
                        "cambiado, se empieza de nuevo (emisor 127.0.0.1).\n" +
                        id + ": Empezado con 4 partes de 80 bytes.\n" + vieja + "\n" + id +
                        ": Completado!\n" + vieja + " Repetido 29 veces en S\n");
  EXPECT_EQ(LeerFichero(dir + "/" + id), nueva);
}

// Stopped while its queue overflows, the receiver says so once it runs again.
TEST_F(OpcionesE2E, UnReceptorLentoSabeQueElNucleoDescarto) {
  Proceso cliente = Cliente({"-q"});
  long tope = std::stol(LeerFichero("/proc/sys/net/core/rmem_max"));
  kill(cliente.pid, SIGSTOP);
  std::string parte = Datagrama(1, 2, 1, 3, "lleno", std::string(1400, 'l'));
  // more than the largest queue the kernel grants, whatever each datagram costs it
  for (long i = 0; i < 2 * tope / 1400 + 500; ++i) Enviar(destino, parte);
  kill(cliente.pid, SIGCONT);
  usleep(200000);
  Enviar(destino, parte);  // the count comes with a datagram queued after the drops
  ASSERT_TRUE(LeerHastaTexto(cliente, "no da abasto.\n")) << cliente.salida;
  EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
  std::string linea = cliente.salida.substr(cliente.salida.find("El nucleo"));
  std::string n = linea.substr(19, linea.find(' ', 19) - 19);
  EXPECT_EQ(linea, "El nucleo descarto " + n + " datagramas sin sitio en la cola (" + n +
                       " desde el inicio): el receptor no da abasto.\n");
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
  Enviar(destino, Parte("a", a, 1));  // stored: said once
  Enviar(destino, Parte("a", a, 2));
  Enviar(destino, Parte("g", a, 1));
  Enviar(destino, Datagrama(1, 2, 1, 2, "e/f", "x"));
  ASSERT_TRUE(LeerLineas(cliente, 10)) << cliente.salida;
  EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
  EXPECT_EQ(cliente.salida, Inicio() +
                                "0001-0002-a: Empezado con 3 partes de 100 bytes.\n"
                                "0001-0002-b: Empezado con 3 partes de 100 bytes.\n"
                                "0001-0002-a: Completado!\n"
                                "0001-0002-b: Completado!\n"
                                "0001-0002-c: Empezado con 3 partes de 100 bytes.\n"
                                "0001-0002-d: Empezado con 3 partes de 100 bytes.\n"
                                "0001-0002-a: Ya grabado antes...\n"
                                "0001-0002-c: Abandonado con 1 de 3 partes.\n"
                                "0001-0002-g: Empezado con 3 partes de 100 bytes.\n"
                                "0001-0002-e/f: Nombre con '/' no permitido, descartado.\n");
  EXPECT_EQ(LeerFichero(dir + "/0001-0002-a"), a);
  EXPECT_EQ(LeerFichero(dir + "/0001-0002-b"), b);
  EXPECT_EQ(Listar(dir), (std::vector<std::string>{"0001-0002-a", "0001-0002-b", "0001-0002-d.tmp",
                                                   "0001-0002-g.tmp"}));
}

// At 1% loss, a file of 2000 parts never arrives whole in one pass. Passes over the set
// complete every file for a receiver that keeps them all in progress, and none for a default
// one; repeats of each file in a row complete it for a default receiver too.
TEST_F(OpcionesE2E, EnUnaRedConPerdidasCompletaQuienGuardaLosFicherosEnCurso) {
  std::vector<std::string> ficheros;
  for (std::string nombre : {"uno", "dos", "tres"}) {
    ficheros.push_back(dir + "/" + nombre);
    FILE *f = fopen(ficheros.back().c_str(), "wb");
    std::string contenido = ContenidoAleatorio(2000 * 200 - 7, static_cast<unsigned>(nombre[1]));
    fwrite(contenido.data(), 1, contenido.size(), f);
    fclose(f);
  }
  struct Caso {
    std::vector<std::string> cliente, emisor;
    std::size_t completados;
  } casos[] = {
      {{"-f", "3", "-q"}, {"-v", "4"}, 3},
      {{}, {"-v", "4"}, 0},
      {{}, {"--repetir", "3"}, 1},
  };
  for (const Caso &caso : casos) {
    SCOPED_TRACE(std::to_string(caso.cliente.size()) + caso.emisor[0]);
    std::string recibe = DirectorioNuevo();
    Proceso receptor = Cliente(caso.cliente, recibe, true);
    std::vector<std::string> emisor = {EMISOR_PATH, "-p",   "200",       "-r", "40000",
                                       "--perdida", "0.01", "--semilla", "7"};
    emisor.insert(emisor.end(), caso.emisor.begin(), caso.emisor.end());
    emisor.insert(emisor.end(), {destino.grupo, std::to_string(destino.puerto)});
    std::size_t enviados = caso.completados == 1 ? 1 : 3;
    emisor.insert(emisor.end(), ficheros.begin(), ficheros.begin() + enviados);
    Proceso envio = Lanzar(emisor);
    EXPECT_EQ(EsperarFin(envio, 60), 0) << envio.error;
    usleep(300000);
    Terminar(receptor);
    std::size_t completados = 0;
    for (std::size_t i = 0; i < enviados; ++i) {
      std::string nombre = ficheros[i].substr(ficheros[i].rfind('/') + 1);
      std::string rehecho = LeerFichero(recibe + "/0001-0002-" + nombre);
      completados += !rehecho.empty();
      if (!rehecho.empty()) {
        EXPECT_EQ(rehecho, LeerFichero(ficheros[i])) << nombre;
      }
    }
    EXPECT_EQ(completados, caso.completados);
    BorrarDirectorio(recibe);
  }
}

}  // namespace
