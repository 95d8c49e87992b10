// End-to-end tests of what a deployed receiver meets: files rebuilt in another directory, a
// second sender that must be ignored, a program run on each completed file, a status file read
// while files arrive, and a receiver too slow for its traffic.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

#include "e2e.h"

namespace {

class Despliegue : public testing::Test {
 protected:
  void SetUp() override {
    ExigirRedPrivada();
    dir = DirectorioNuevo();
    otro = DirectorioNuevo();
  }
  void TearDown() override {
    if (cliente.pid > 0 && waitpid(cliente.pid, nullptr, WNOHANG) == 0) Terminar(cliente);
    BorrarDirectorio(dir);
    BorrarDirectorio(otro);
  }
  // The quiet receiver with these options, started in otro, storing in dir.
  void Lanzar(std::vector<std::string> opciones) {
    std::vector<std::string> argumentos = {CLIENT_PATH, "-q", "-d", dir};
    argumentos.insert(argumentos.end(), opciones.begin(), opciones.end());
    argumentos.insert(argumentos.end(), {destino.grupo, std::to_string(destino.puerto), "2"});
    cliente = ::Lanzar(argumentos, otro);
    ASSERT_TRUE(EsperarUnion(destino));
  }
  void EnviarFichero(const std::string &nombre, const std::string &contenido,
                     const std::string &origen = "127.0.0.1") {
    uint32_t total = static_cast<uint32_t>((contenido.size() + 99) / 100);
    for (uint32_t i = 0; i < total; ++i)
      Enviar(destino, Datagrama(1, 2, i + 1, total, nombre, contenido.substr(i * 100, 100)),
             origen);
  }
  Destino destino = DestinoNuevo();
  std::string dir, otro;
  Proceso cliente;
};

// The status file names the file in progress while it arrives; a sender not asked for is never
// printed, stored or counted; the program gets the file's path and no standard input.
TEST_F(Despliegue, OtraFuenteNoCuentaYCadaFicheroCompletoPasaAlPrograma) {
  std::string programa = otro + "/al-completar";
  std::ofstream(programa) << "#!/bin/sh\nread nada; echo \"$1 $nada\" >> " << otro << "/hechos\n";
  chmod(programa.c_str(), 0755);
  Lanzar({"-s", "127.0.0.1", "-x", "./al-completar", "-e", "estado.json"});
  EnviarFichero("ajeno", std::string(250, 'x'), "127.0.0.2");
  std::string bueno = ContenidoAleatorio(250, 7);
  Enviar(destino, Datagrama(1, 2, 1, 3, "bueno", bueno.substr(0, 100)));
  ASSERT_TRUE(LeerHastaTexto(cliente, "Empezado"));
  usleep(1'200'000);  // the status file is written about once a second
  std::string durante = LeerFichero(otro + "/estado.json");
  EnviarFichero("bueno", bueno);
  ASSERT_TRUE(LeerHastaTexto(cliente, "termino con estado 0.\n")) << cliente.salida;
  EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
  EXPECT_EQ(cliente.salida, "Recibiendo " + destino.grupo + ", puerto " +
                                std::to_string(destino.puerto) + ", modo 2, en " + dir + "\n" +
                                "0001-0002-bueno: Empezado con 3 partes de 100 bytes.\n"
                                "0001-0002-bueno: Completado!\n"
                                "0001-0002-bueno: ./al-completar termino con estado 0.\n");
  EXPECT_EQ(Listar(dir), std::vector<std::string>{"0001-0002-bueno"});
  EXPECT_EQ(LeerFichero(dir + "/0001-0002-bueno"), bueno);
  EXPECT_EQ(LeerFichero(otro + "/hechos"), dir + "/0001-0002-bueno \n");
  EXPECT_NE(durante.find("  \"datagramas\": 1,\n  \"descartados_por_el_nucleo\": 0,\n  "
                         "\"completados\": 0,\n  \"en_curso\": [\n    {\"fichero\": "
                         "\"0001-0002-bueno\", \"partes\": 1, \"total\": 3}\n  ]\n}\n"),
            std::string::npos)
      << durante;
  EXPECT_NE(LeerFichero(otro + "/estado.json").find("\"datagramas\": 4,"), std::string::npos);

  Lanzar({"-x", "/no/existe"});
  EnviarFichero("otro", "ok");
  ASSERT_TRUE(LeerHastaTexto(cliente, "Completado!\n"));
  EXPECT_EQ(Terminar(cliente), 128 + SIGTERM);
  EXPECT_EQ(cliente.error,
            "No se pudo ejecutar /no/existe para 0001-0002-otro: No such file or "
            "directory\n");
}

// Stopped while its queue overflows, the receiver says so once it runs again.
TEST_F(Despliegue, UnReceptorLentoSabeQueElNucleoDescarto) {
  Lanzar({});
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

}  // namespace
