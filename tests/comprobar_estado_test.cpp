// End-to-end tests of comprobar-estado: the built check run on status files that each test
// writes, with the ages it sets, judged by its exit status and its exact output.
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <functional>

#include "e2e.h"

namespace {

// The receiver's times, in its format.
std::string Fecha(time_t segundos) {
  char texto[32];
  tm partes;
  gmtime_r(&segundos, &partes);
  strftime(texto, sizeof texto, "%Y-%m-%dT%H:%M:%SZ", &partes);
  return texto;
}

// A status file as the receiver writes it, started an hour before ahora; hace is the age of the
// last datagram (-1: none yet), and restos the count of leftovers, whose list is absent when 0.
struct Receptor {
  bool unido = true;
  int hace = 2;
  int descartados = 0;
  int pid = 1234;
  int restos = 0;
};

const std::string kResto =
    "{\"fichero\": \"0001-0002-viejo\", \"partes\": 3, \"total\": 9, \"edad_s\": 40}";

std::string Estado(const Receptor &r, time_t ahora) {
  std::string ultimo = r.hace < 0 ? "null" : "\"" + Fecha(ahora - r.hace) + "\"";
  std::string json =
      "{\n  \"inicio\": \"" + Fecha(ahora - 3600) + "\",\n  \"pid\": " + std::to_string(r.pid) +
      ",\n  \"version\": \"1.0.0\",\n  \"actualizado\": \"" + Fecha(ahora) +
      "\",\n  \"unido\": " + (r.unido ? "true" : "false") + ",\n  \"ultimo_datagrama\": " + ultimo +
      ",\n  \"datagramas\": 4200,\n  \"descartados_por_el_nucleo\": " +
      std::to_string(r.descartados) + ",\n  \"completados\": 3,\n" +
      "  \"en_curso\": [\n    {\"fichero\": \"0001-0002-d\\u00e9\", \"partes\": 120, "
      "\"total\": 300}\n  ]";
  for (int i = 0; i < r.restos; ++i) json += (i == 0 ? ",\n  \"restos\": [" : ", ") + kResto;
  if (r.restos > 0) json += "]";
  return json + "\n}\n";
}

class ComprobarEstado : public testing::Test {
 protected:
  void SetUp() override { dir = DirectorioNuevo(); }
  void TearDown() override { BorrarDirectorio(dir); }

  // Writes the file that contenido makes for the second now, its modification antiguedad
  // seconds before, and runs the check on it; again when the second changed meanwhile, so that
  // the ages it tells are exact.
  Proceso Comprobar(const std::function<std::string(time_t)> &contenido, int antiguedad,
                    std::vector<std::string> opciones) {
    Proceso proceso;
    for (int intento = 0; intento < 3; ++intento) {
      time_t ahora = time(nullptr);
      std::ofstream(dir + "/estado.json") << contenido(ahora);
      timespec tiempos[2] = {{ahora - antiguedad, 0}, {ahora - antiguedad, 0}};
      EXPECT_EQ(utimensat(AT_FDCWD, (dir + "/estado.json").c_str(), tiempos, 0), 0);
      std::vector<std::string> argumentos = {COMPROBAR_ESTADO_PATH};
      argumentos.insert(argumentos.end(), opciones.begin(), opciones.end());
      argumentos.push_back("estado.json");
      proceso = Lanzar(argumentos, dir);
      EsperarFin(proceso);
      if (time(nullptr) == ahora) break;
    }
    return proceso;
  }

  Proceso Comprobar(const Receptor &receptor, int antiguedad, std::vector<std::string> opciones) {
    return Comprobar([&](time_t ahora) { return Estado(receptor, ahora); }, antiguedad, opciones);
  }

  std::string dir;
};

const std::string kDatos =
    " | datagramas=4200c descartados_por_el_nucleo=0c completados=3c en_curso=1 restos=";
TEST_F(ComprobarEstado, CadaEstadoDelReceptorDaSuVeredictoYSuLinea) {
  struct Caso {
    const char *que;
    Receptor receptor;
    int antiguedad;
    std::vector<std::string> opciones;
    int estado;
    std::string linea;
  };
  const Caso casos[] = {
      {"sano",
       {},
       0,
       {},
       0,
       "RECEPTOR OK - unido al grupo, ultimo datagrama hace 2 s; completados: 3, en curso: 1" +
           kDatos + "0 silencio=2s antiguedad=0s;;5\n"},
      {"sin datagramas aun",
       {.hace = -1},
       1,
       {},
       0,
       "RECEPTOR OK - unido al grupo, ningun datagrama aun; completados: 3, en curso: 1" + kDatos +
           "0 silencio=3600s antiguedad=1s;;5\n"},
      {"sordo: sin unirse",
       {.unido = false},
       0,
       {},
       2,
       "RECEPTOR CRITICAL - no esta unido al grupo" + kDatos + "0 silencio=2s antiguedad=0s;;5\n"},
      {"sordo: silencio mas largo que el limite",
       {.hace = 600},
       0,
       {"--silencio", "60"},
       2,
       "RECEPTOR CRITICAL - ningun datagrama desde hace 600 s (limite 60 s)" + kDatos +
           "0 silencio=600s;;60 antiguedad=0s;;5\n"},
      {"silencio dentro del limite",
       {.hace = 60},
       0,
       {"-s", "60"},
       0,
       "RECEPTOR OK - unido al grupo, ultimo datagrama hace 60 s; completados: 3, en curso: 1" +
           kDatos + "0 silencio=60s;;60 antiguedad=0s;;5\n"},
      {"sordo desde el arranque",
       {.hace = -1},
       0,
       {"-s", "60"},
       2,
       "RECEPTOR CRITICAL - ningun datagrama en 3600 s desde el arranque (limite 60 s)" + kDatos +
           "0 silencio=3600s;;60 antiguedad=0s;;5\n"},
      {"detenido",
       {},
       6,
       {},
       2,
       "RECEPTOR CRITICAL - el fichero de estado no se reescribe desde hace 6 s: el receptor esta "
       "detenido" +
           kDatos + "0 silencio=2s antiguedad=6s;;5\n"},
      {"restos",
       {.restos = 2},
       0,
       {},
       1,
       "RECEPTOR WARNING - restos de ficheros que ya no estan en curso: 2" + kDatos +
           "2 silencio=2s antiguedad=0s;;5\n"},
      {"lo peor manda",
       {.unido = false, .restos = 1},
       0,
       {},
       2,
       "RECEPTOR CRITICAL - no esta unido al grupo; restos de ficheros que ya no estan en curso: "
       "1" +
           kDatos + "1 silencio=2s antiguedad=0s;;5\n"},
      {"descartes sin memoria: solo la cifra",
       {.descartados = 9},
       0,
       {},
       0,
       "RECEPTOR OK - unido al grupo, ultimo datagrama hace 2 s; completados: 3, en curso: 1 | "
       "datagramas=4200c descartados_por_el_nucleo=9c completados=3c en_curso=1 restos=0 "
       "silencio=2s antiguedad=0s;;5\n"},
  };
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.que);
    Proceso proceso = Comprobar(caso.receptor, caso.antiguedad, caso.opciones);
    EXPECT_EQ(proceso.estado, caso.estado);
    EXPECT_EQ(proceso.salida, caso.linea);
    EXPECT_EQ(proceso.error, "");
  }
}

TEST_F(ComprobarEstado, FicherosQueNoSonDeUnReceptorYOpcionesErroneas) {
  struct Caso {
    std::string contenido;  // "-": no file at all
    std::vector<std::string> opciones;
    int estado;
    std::string salida, error;
  };
  const std::string kPruebe = "Pruebe 'comprobar-estado --help' para mas informacion.\n";
  const Caso casos[] = {
      {"-",
       {},
       2,
       "RECEPTOR CRITICAL - no existe el fichero de estado estado.json: el receptor no esta en "
       "marcha\n",
       ""},
      {"{\"unido\": true,",
       {},
       3,
       "RECEPTOR UNKNOWN - estado.json no es un fichero de estado valido: falta un nombre en el "
       "byte 15\n",
       ""},
      {"{\"unido\": true}",
       {},
       3,
       "RECEPTOR UNKNOWN - estado.json no es un fichero de estado valido: falta el campo "
       "\"inicio\"\n",
       ""},
      {"[1, 2]",
       {"-p"},
       0,
       "# HELP receptor_multicast_estado Veredicto de la comprobacion: 0 bien, 1 aviso, 2 "
       "critico, 3 desconocido.\n# TYPE receptor_multicast_estado gauge\n"
       "receptor_multicast_estado{fichero=\"estado.json\"} 3\n",
       ""},
      {"{}",
       {"-s", "0"},
       3,
       "",
       "Segundos de silencio no validos: 0 (de 1 a 31536000)\n" + kPruebe},
      {"{}", {"--sordo"}, 3, "", "Opcion no valida: --sordo\n" + kPruebe},
      {"{}", {"--memoria"}, 3, "", "Falta el fichero de estado\n" + kPruebe},
  };
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.contenido + " " + (caso.opciones.empty() ? "" : caso.opciones[0]));
    unlink((dir + "/estado.json").c_str());
    if (caso.contenido != "-") std::ofstream(dir + "/estado.json") << caso.contenido;
    std::vector<std::string> argumentos = {COMPROBAR_ESTADO_PATH};
    argumentos.insert(argumentos.end(), caso.opciones.begin(), caso.opciones.end());
    argumentos.push_back("estado.json");
    Proceso proceso = Lanzar(argumentos, dir);
    EXPECT_EQ(EsperarFin(proceso), caso.estado);
    EXPECT_EQ(proceso.salida, caso.salida);
    EXPECT_EQ(proceso.error, caso.error);
  }
  Proceso version = Lanzar({COMPROBAR_ESTADO_PATH, "-V"});
  EXPECT_EQ(EsperarFin(version), 0);
  EXPECT_EQ(version.salida, "comprobar-estado " RECEPTOR_VERSION "\n");
  Proceso ayuda = Lanzar({COMPROBAR_ESTADO_PATH, "--help"});
  EXPECT_EQ(EsperarFin(ayuda), 0);
  EXPECT_EQ(ayuda.salida.rfind("Uso: comprobar-estado [opciones] FICHERO\n", 0), 0u);
  for (const char *opcion : {"--silencio", "--memoria", "--prometheus", "--version"})
    EXPECT_NE(ayuda.salida.find(opcion), std::string::npos) << opcion;
  Proceso sobra = Lanzar({COMPROBAR_ESTADO_PATH, "a", "b"});
  EXPECT_EQ(EsperarFin(sobra), 3);
  EXPECT_EQ(sobra.error, "Sobra un argumento: b\n" + kPruebe);
}

// The memory counts drops from one check to the next, and from 0 for a receiver started since.
TEST_F(ComprobarEstado, LaMemoriaAvisaDeLosDescartesDesdeLaComprobacionAnterior) {
  struct Paso {
    int descartados, pid, estado;
    std::string nuevos;
  };
  const Paso pasos[] = {{5, 1234, 0, "0"}, {12, 1234, 1, "7"}, {12, 1234, 0, "0"}, {3, 99, 1, "3"}};
  for (const Paso &paso : pasos) {
    SCOPED_TRACE(paso.descartados);
    Proceso proceso = Comprobar(Receptor{.descartados = paso.descartados, .pid = paso.pid}, 0,
                                {"--memoria", "memoria"});
    std::string causa =
        paso.estado == 0
            ? "OK - unido al grupo, ultimo datagrama hace 2 s; completados: 3, en curso: 1"
            : "WARNING - datagramas descartados por el nucleo desde la comprobacion "
              "anterior: " +
                  paso.nuevos;
    EXPECT_EQ(proceso.estado, paso.estado);
    EXPECT_EQ(proceso.salida, "RECEPTOR " + causa +
                                  " | datagramas=4200c descartados_por_el_nucleo=" +
                                  std::to_string(paso.descartados) +
                                  "c completados=3c en_curso=1 restos=0 silencio=2s "
                                  "antiguedad=0s;;5 descartados_nuevos=" +
                                  paso.nuevos + "\n");
  }
}

TEST_F(ComprobarEstado, PrometheusDaLasMismasCifras) {
  Proceso proceso = Comprobar(Receptor{.hace = 600, .descartados = 9, .restos = 1}, 0,
                              {"--prometheus", "-s", "60"});
  EXPECT_EQ(proceso.estado, 0);
  std::string e = "{fichero=\"estado.json\"} ", m = "receptor_multicast_";
  auto metrica = [&](const std::string &nombre, const char *tipo, const std::string &ayuda,
                     const char *valor) {
    return "# HELP " + m + nombre + " " + ayuda + "\n# TYPE " + m + nombre + " " + tipo + "\n" + m +
           nombre + e + valor + "\n";
  };
  EXPECT_EQ(
      proceso.salida,
      metrica("estado", "gauge",
              "Veredicto de la comprobacion: 0 bien, 1 aviso, 2 critico, 3 desconocido.", "2") +
          metrica("unido", "gauge", "1 si el receptor esta unido al grupo.", "1") +
          metrica("datagramas_total", "counter", "Datagramas aceptados desde el arranque.",
                  "4200") +
          metrica("descartados_por_el_nucleo_total", "counter",
                  "Datagramas que el nucleo descarto sin sitio en la cola desde el arranque.",
                  "9") +
          metrica("completados_total", "counter", "Ficheros completados desde el arranque.", "3") +
          metrica("en_curso", "gauge", "Ficheros en curso.", "1") +
          metrica("restos", "gauge", "Restos de ficheros que ya no estan en curso.", "1") +
          metrica("silencio_segundos", "gauge",
                  "Segundos desde el ultimo datagrama, o desde el arranque antes del primero.",
                  "600") +
          metrica("antiguedad_segundos", "gauge",
                  "Segundos desde que el receptor reescribio el fichero de estado.", "0"));
}

}  // namespace
