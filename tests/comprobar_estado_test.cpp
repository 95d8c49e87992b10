// End-to-end tests of comprobar-estado: the built check run on status files that each test
// writes, with the ages it sets, judged by its exit status and its exact output.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <sstream>

#include "e2e.h"

namespace {

// The receiver's times, in its format.
std::string Fecha(time_t segundos) {
  char texto[32];
  tm partes;
  strftime(texto, sizeof texto, "%Y-%m-%dT%H:%M:%SZ", gmtime_r(&segundos, &partes));
  return texto;
}

// A status file as the receiver writes it, started an hour before ahora; hace is the age of the
// last datagram (-1: none yet), and restos the count of leftovers, whose list is absent when 0.
// fallos >= 0 is a receiver that tells its failures: en_curso files, the first con_error of
// them failing. crudo, when given, is written instead ("-": no file at all). inicio, when given,
// is its start instead: the same receiver from one check to the next, whatever the clock did.
struct Receptor {
  bool unido = true;
  int hace = 2, descartados = 0, pid = 1234, restos = 0, fallos = -1;
  bool escribible = true;
  int en_curso = 1, con_error = 0;
  std::string crudo = "";
  time_t inicio = 0;
};

const std::string kResto =
    "{\"fichero\": \"0001-0002-viejo\", \"partes\": 3, \"total\": 9, \"edad_s\": 40}";

const std::string kFallo =
    "Error al grabar la parte en el fichero temporal: No space left on device";

// File i in progress, failing since 12 + i s before ahora when i < con_error.
std::string EnCurso(const Receptor &r, int i, time_t ahora) {
  std::string error = i >= r.con_error ? "null"
      : "{\"texto\": \"" + kFallo + "\", \"desde\": \"" + Fecha(ahora - 12 - i) + "\"}";
  return "\n    {\"fichero\": \"0001-0002-" + (i == 0 ? "d\\u00e9" : "e" + std::to_string(i)) +
         "\", \"partes\": 120, \"total\": 300" +
         (r.fallos < 0 ? "" : ", \"edad_s\": 12, \"error\": " + error) + "}";
}

std::string Estado(const Receptor &r, time_t ahora) {
  if (!r.crudo.empty()) return r.crudo;
  std::string ultimo = r.hace < 0 ? "null" : "\"" + Fecha(ahora - r.hace) + "\"";
  std::string json =
      "{\n  \"inicio\": \"" + Fecha(r.inicio != 0 ? r.inicio : ahora - 3600) + "\",\n  \"pid\": " + std::to_string(r.pid) +
      ",\n  \"version\": \"1.0.0\",\n  \"actualizado\": \"" + Fecha(ahora) +
      "\",\n  \"unido\": " + (r.unido ? "true" : "false") + ",\n  \"ultimo_datagrama\": " + ultimo +
      ",\n  \"datagramas\": 4200,\n  \"descartados_por_el_nucleo\": " +
      std::to_string(r.descartados) + ",\n  \"completados\": 3,\n";
  if (r.fallos >= 0)
    json += "  \"fallos\": " + std::to_string(r.fallos) +
            ",\n  \"directorio_escribible\": " + (r.escribible ? "true" : "false") +
            ",\n  \"rechazados\": 7,\n  \"avisos_sin_decir\": 2,\n";
  json += "  \"en_curso\": [";
  for (int i = 0; i < r.en_curso; ++i) json += (i == 0 ? "" : ",") + EnCurso(r, i, ahora);
  json += "\n  ]";
  for (int i = 0; i < r.restos; ++i) json += (i == 0 ? ",\n  \"restos\": [" : ", ") + kResto;
  if (r.restos > 0) json += "]";
  return json + "\n}\n";
}

class ComprobarEstado : public testing::Test {
 protected:
  void SetUp() override { dir = DirectorioNuevo(); }
  void TearDown() override { BorrarDirectorio(dir); }

  // Writes the receiver's file for the second now, its modification antiguedad seconds before,
  // and runs the check on it with opciones (split at spaces); again when the second changed
  // meanwhile, so that the ages it tells are exact, with the memory as the first try found it.
  Proceso Comprobar(const Receptor &receptor, int antiguedad, const std::string &opciones) {
    const std::string memoria = LeerFichero(dir + "/memoria"), fichero = dir + "/estado.json";
    std::vector<std::string> argumentos = {COMPROBAR_ESTADO_PATH};
    std::istringstream palabras(opciones + " estado.json");
    for (std::string palabra; palabras >> palabra;) argumentos.push_back(palabra);
    Proceso proceso;
    for (int intento = 0; intento < 3; ++intento) {
      time_t ahora = time(nullptr);
      if (intento > 0 && !memoria.empty()) std::ofstream(dir + "/memoria") << memoria;
      std::ofstream(fichero) << Estado(receptor, ahora);
      timespec tiempos[2] = {{ahora - antiguedad, 0}, {ahora - antiguedad, 0}};
      EXPECT_EQ(utimensat(AT_FDCWD, fichero.c_str(), tiempos, 0), 0);
      if (receptor.crudo == "-") unlink(fichero.c_str());
      proceso = Lanzar(argumentos, dir);
      EsperarFin(proceso);
      if (time(nullptr) == ahora) break;
    }
    return proceso;
  }

  std::string dir;
};

// A file, the check's options, and what it answers: the exit status and cause of the line, and
// the figures that both formats give, none when the file is no receiver's.
struct Caso {
  Receptor receptor;
  int antiguedad;  // of the file, which the check tells as it is
  std::string opciones;
  int estado;
  std::string causa, silencio = "";  // silencio as the line gives it, with its limit
  int nuevos = -1;                   // drops since the check before (-m); -1: not counted
};

// The line of a verdict: "RECEPTOR <causa> | <perf data>".
std::string Linea(const Caso &c) {
  if (c.silencio.empty()) return "RECEPTOR " + c.causa + "\n";
  return "RECEPTOR " + c.causa +
         " | datagramas=4200c descartados_por_el_nucleo=" + std::to_string(c.receptor.descartados) +
         "c completados=3c en_curso=" + std::to_string(c.receptor.en_curso) +
         " restos=" + std::to_string(c.receptor.restos) + " silencio=" + c.silencio +
         " antiguedad=" + std::to_string(c.antiguedad) + "s;;5" +
         (c.nuevos < 0 ? "" : " descartados_nuevos=" + std::to_string(c.nuevos)) +
         " fallos=" + std::to_string(std::max(0, c.receptor.fallos)) +
         "c con_error=" + std::to_string(c.receptor.con_error) + "\n";
}

// The same in Prometheus' text: the verdict as the first figure.
std::string Prometheus(const Caso &c) {
  std::string texto;
  auto metrica = [&](const std::string &nombre, const char *tipo, const char *ayuda, int valor) {
    std::string m = "receptor_multicast_" + nombre;
    texto += "# HELP " + m + " " + ayuda + "\n# TYPE " + m + " " + tipo + "\n" + m +
             "{fichero=\"estado.json\"} " + std::to_string(valor) + "\n";
  };
  metrica("estado", "gauge",
          "Veredicto de la comprobacion: 0 bien, 1 aviso, 2 critico, 3 desconocido.", c.estado);
  if (c.silencio.empty()) return texto;
  metrica("unido", "gauge", "1 si el receptor esta unido al grupo.", c.receptor.unido);
  metrica("datagramas_total", "counter", "Datagramas aceptados desde el arranque.", 4200);
  metrica("descartados_por_el_nucleo_total", "counter",
          "Datagramas que el nucleo descarto sin sitio en la cola desde el arranque.",
          c.receptor.descartados);
  metrica("completados_total", "counter", "Ficheros completados desde el arranque.", 3);
  metrica("en_curso", "gauge", "Ficheros en curso.", c.receptor.en_curso);
  metrica("restos", "gauge", "Restos de ficheros que ya no estan en curso.", c.receptor.restos);
  metrica("silencio_segundos", "gauge",
          "Segundos desde el ultimo datagrama, o desde el arranque antes del primero.",
          std::stoi(c.silencio));
  metrica("antiguedad_segundos", "gauge",
          "Segundos desde que el receptor reescribio el fichero de estado.", c.antiguedad);
  if (c.nuevos >= 0)
    metrica("descartados_nuevos", "gauge",
            "Datagramas descartados por el nucleo desde la comprobacion anterior.", c.nuevos);
  metrica("fallos_total", "counter", "Fallos al escribir, sincronizar o guardar desde el arranque.",
          std::max(0, c.receptor.fallos));
  metrica("con_error", "gauge", "Ficheros en curso que no se pueden guardar ahora.",
          c.receptor.con_error);
  return texto;
}

// Each state of a receiver, the drops remembered (-m) from one check to the next, counted from 0
// for a receiver started since, and what is no receiver's status file: UNKNOWN, but no file at
// all; as a line and its status, and as Prometheus' text.
TEST_F(ComprobarEstado, CadaEstadoDelReceptorDaSuVeredictoYSusCifras) {
  const std::string bien =
      "OK - unido al grupo, ultimo datagrama hace 2 s; completados: 3, en curso: 1";
  const std::string sordo = "CRITICAL - no esta unido al grupo";
  const std::string nuevos =
      "WARNING - datagramas descartados por el nucleo desde la comprobacion anterior: ";
  const std::string atascado = "CRITICAL - ningun fichero puede avanzar: ";
  const std::string no_valido = "UNKNOWN - estado.json no es un fichero de estado valido: ";
  const time_t arranque = time(nullptr) - 3600;
  const Caso casos[] = {
      {Receptor{}, 0, "", 0, bien, "2s"},
      {Receptor{.hace = -1}, 1, "", 0,
       "OK - unido al grupo, ningun datagrama aun; completados: 3, en curso: 1", "3600s"},
      {Receptor{.unido = false}, 0, "", 2, sordo, "2s"},
      {Receptor{.hace = 600}, 0, "--silencio 60", 2,
       "CRITICAL - ningun datagrama desde hace 600 s (limite 60 s)", "600s;;60"},
      {Receptor{.hace = -1}, 0, "-s 60", 2,
       "CRITICAL - ningun datagrama en 3600 s desde el arranque (limite 60 s)", "3600s;;60"},
      {Receptor{}, 6, "", 2,
       "CRITICAL - el fichero de estado no se reescribe desde hace 6 s: el receptor esta detenido",
       "2s"},
      {Receptor{.unido = false, .restos = 1}, 0, "", 2,
       sordo + "; restos de ficheros que ya no estan en curso: 1", "2s"},
      {Receptor{.fallos = 2, .en_curso = 3, .con_error = 2}, 0, "", 1, "WARNING - fallo al "
       "guardar 2 ficheros, el mas antiguo 0001-0002-e1 desde hace 13 s: " + kFallo, "2s"},
      {Receptor{.fallos = 1, .con_error = 1}, 0, "", 2,
       atascado + "fallo al guardar 0001-0002-d\u00e9 desde hace 12 s: " + kFallo, "2s"},
      {Receptor{.fallos = 0, .escribible = false}, 0, "", 2, atascado + "el directorio de "
       "recepcion no se puede escribir (sin permiso o sin espacio libre)", "2s"},
      {Receptor{.descartados = 5, .inicio = arranque}, 0, "-m memoria", 0, bien, "2s", 0},
      {Receptor{.descartados = 12, .inicio = arranque}, 0, "-m memoria", 1, nuevos + "7", "2s", 7},
      {Receptor{.descartados = 3, .pid = 99, .inicio = arranque}, 0, "-m memoria", 1, nuevos + "3",
       "2s", 3},
      {Receptor{.crudo = "-"}, 0, "-m m", 2,
       "CRITICAL - no existe el fichero de estado estado.json: el receptor no esta en marcha"},
      {Receptor{.crudo = "{\"unido\": true,"}, 0, "-m m", 3, no_valido + "JSON incompleto"},
      {Receptor{.crudo = "{\"unido\": true}"}, 0, "-m m", 3,
       no_valido + "falta el campo \"inicio\""},
  };
  for (std::string formato : {"", "--prometheus "}) {
    unlink((dir + "/memoria").c_str());  // each format starts the memory afresh
    for (const Caso &caso : casos) {
      SCOPED_TRACE(formato + caso.causa);
      Proceso proceso = Comprobar(caso.receptor, caso.antiguedad, formato + caso.opciones);
      // Prometheus gives the verdict as a figure, and ends well
      EXPECT_EQ(proceso.estado, formato.empty() ? caso.estado : 0);
      EXPECT_EQ(proceso.salida, formato.empty() ? Linea(caso) : Prometheus(caso));
      EXPECT_EQ(proceso.error, "");
    }
  }
}

// A wrong command line is UNKNOWN, and told on standard error; the version needs no file.
TEST_F(ComprobarEstado, OpcionErroneaYVersion) {
  Proceso sordo = Lanzar({COMPROBAR_ESTADO_PATH, "--sordo", "m", "estado.json"}, dir);
  EXPECT_EQ(EsperarFin(sordo), 3);
  EXPECT_EQ(sordo.salida, "");
  EXPECT_EQ(sordo.error,
            "Opcion no valida: --sordo\nPruebe 'comprobar-estado --help' para mas informacion.\n");
  Proceso version = Lanzar({COMPROBAR_ESTADO_PATH, "-V"});
  EXPECT_EQ(EsperarFin(version), 0);
  EXPECT_EQ(version.salida, "comprobar-estado" + kVersionConCommit);
}

}  // namespace
