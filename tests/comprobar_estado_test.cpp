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

// The line of a verdict: "RECEPTOR <causa> | <perf data>", the drops given, the rest as Estado.
std::string Linea(const std::string &causa, const std::string &resto, int descartados = 0) {
  return "RECEPTOR " + causa +
         " | datagramas=4200c descartados_por_el_nucleo=" + std::to_string(descartados) +
         "c completados=3c en_curso=1 restos=" + resto + "\n";
}

const std::string kBien =
    "OK - unido al grupo, ultimo datagrama hace 2 s; completados: 3, en curso: 1";

// Each state of a receiver, and the drops remembered (-m) from one check to the next, counted
// from 0 for a receiver started since.
TEST_F(ComprobarEstado, CadaEstadoDelReceptorDaSuVeredictoYSuLinea) {
  struct Caso {
    Receptor receptor;
    int antiguedad;
    std::vector<std::string> opciones;
    int estado;
    std::string causa, resto;
  };
  const std::string sordo = "CRITICAL - no esta unido al grupo", restos =
                                                                     "restos de ficheros "
                                                                     "que ya no estan en curso: ";
  const std::vector<std::string> memoria = {"-m", "memoria"};
  const Caso casos[] = {
      {{}, 0, {}, 0, kBien, "0 silencio=2s antiguedad=0s;;5"},
      {{.hace = -1},
       1,
       {},
       0,
       "OK - unido al grupo, ningun datagrama aun; completados: 3, en curso: 1",
       "0 silencio=3600s antiguedad=1s;;5"},
      {{.unido = false}, 0, {}, 2, sordo, "0 silencio=2s antiguedad=0s;;5"},
      {{.hace = 600},
       0,
       {"--silencio", "60"},
       2,
       "CRITICAL - ningun datagrama desde hace 600 s (limite 60 s)",
       "0 silencio=600s;;60 antiguedad=0s;;5"},
      {{.hace = -1},
       0,
       {"-s", "60"},
       2,
       "CRITICAL - ningun datagrama en 3600 s desde el arranque (limite 60 s)",
       "0 silencio=3600s;;60 antiguedad=0s;;5"},
      {{},
       6,
       {},
       2,
       "CRITICAL - el fichero de estado no se reescribe desde hace 6 s: el receptor esta detenido",
       "0 silencio=2s antiguedad=6s;;5"},
      {{.unido = false, .restos = 1},
       0,
       {},
       2,
       sordo + "; " + restos + "1",
       "1 silencio=2s antiguedad=0s;;5"},
      {{.descartados = 5},
       0,
       memoria,
       0,
       kBien,
       "0 silencio=2s antiguedad=0s;;5 descartados_nuevos=0"},
      {{.descartados = 12},
       0,
       memoria,
       1,
       "WARNING - datagramas descartados por el nucleo desde la comprobacion anterior: 7",
       "0 silencio=2s antiguedad=0s;;5 descartados_nuevos=7"},
      {{.descartados = 3, .pid = 99},
       0,
       memoria,
       1,
       "WARNING - datagramas descartados por el nucleo desde la comprobacion anterior: 3",
       "0 silencio=2s antiguedad=0s;;5 descartados_nuevos=3"},
  };
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.causa);
    Proceso proceso = Comprobar(caso.receptor, caso.antiguedad, caso.opciones);
    EXPECT_EQ(proceso.estado, caso.estado);
    EXPECT_EQ(proceso.salida, Linea(caso.causa, caso.resto, caso.receptor.descartados));
    EXPECT_EQ(proceso.error, "");
  }
}

// What is no receiver's status file, and a wrong command line: UNKNOWN, but no file at all.
TEST_F(ComprobarEstado, FicherosQueNoSonDeUnReceptorYOpcionesErroneas) {
  const std::string kPruebe = "Pruebe 'comprobar-estado --help' para mas informacion.\n",
                    kNoValido =
                        "RECEPTOR UNKNOWN - estado.json no es un fichero de estado valido: ";
  struct Caso {
    std::string contenido;  // "-": no file at all
    std::string opcion;
    int estado;
    std::string salida, error;
  } casos[] = {
      {"-", "-m", 2,
       "RECEPTOR CRITICAL - no existe el fichero de estado estado.json: el receptor "
       "no esta en marcha\n",
       ""},
      {"{\"unido\": true,", "-m", 3, kNoValido + "falta un nombre en el byte 15\n", ""},
      {"{\"unido\": true}", "-m", 3, kNoValido + "falta el campo \"inicio\"\n", ""},
      {"{}", "--sordo", 3, "", "Opcion no valida: --sordo\n" + kPruebe},
  };
  for (const Caso &caso : casos) {
    SCOPED_TRACE(caso.contenido);
    unlink((dir + "/estado.json").c_str());
    if (caso.contenido != "-") std::ofstream(dir + "/estado.json") << caso.contenido;
    Proceso proceso = Lanzar({COMPROBAR_ESTADO_PATH, caso.opcion, "m", "estado.json"}, dir);
    EXPECT_EQ(EsperarFin(proceso), caso.estado);
    EXPECT_EQ(proceso.salida, caso.salida);
    EXPECT_EQ(proceso.error, caso.error);
  }
  Proceso version = Lanzar({COMPROBAR_ESTADO_PATH, "-V"});
  EXPECT_EQ(EsperarFin(version), 0);
  EXPECT_EQ(version.salida, "comprobar-estado " RECEPTOR_VERSION "\n");
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
