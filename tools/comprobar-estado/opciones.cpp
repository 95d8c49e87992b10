#include "opciones.h"

#include <getopt.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "compilacion.h"
#include "juicio.h"
#include "palabras.h"

// a year: longer would never be reached by a receiver that runs
static constexpr long long kSilencioMaximo = 365LL * 24 * 3600;

static const char kAyuda[] =
    "Uso: comprobar-estado [opciones] FICHERO\n"
    "Comprueba el fichero de estado de un receptor (client -e FICHERO) y lo resume en una\n"
    "linea, como los complementos de supervision: estado 0 si esta bien, 1 aviso, 2 critico,\n"
    "3 desconocido.\n"
    "\n"
    "Opciones:\n"
    "  -s, --silencio SEGUNDOS  critico si no ha llegado ningun datagrama en mas de\n"
    "                           SEGUNDOS (sin ella, solo si no esta unido al grupo)\n"
    "  -m, --memoria FICHERO    guardar en FICHERO los descartes del nucleo vistos y\n"
    "                           avisar de los nuevos en la comprobacion siguiente\n"
    "  -p, --prometheus         escribir las cifras en el formato de texto de Prometheus,\n"
    "                           con el veredicto como una mas, y terminar con 0\n"
    "  -h, --help               mostrar esta ayuda y salir\n"
    "  -V, --version            mostrar la version y salir\n";

static const char kOpcionesCortas[] = "+:s:m:phV";
static const option kOpcionesLargas[] = {
    {"silencio", required_argument, nullptr, 's'}, {"memoria", required_argument, nullptr, 'm'},
    {"prometheus", no_argument, nullptr, 'p'},     {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},        {nullptr, 0, nullptr, 0}};

// One line that names the problem as it was typed, one that says where to look.
[[noreturn]] static void OpcionErronea(const std::string &problema) {
  fprintf(stderr, "%s\nPruebe 'comprobar-estado --help' para mas informacion.\n", problema.c_str());
  exit(kDesconocido);
}

[[noreturn]] static void Mostrar(const char *texto) {
  fputs(texto, stdout);
  exit(fflush(stdout) == 0 ? 0 : kDesconocido);
}

static void AplicarOpcion(int opcion, const char *valor, Opciones &opciones) {
  long long segundos = 0;
  switch (opcion) {
    case 's':
      if (!LeerEntero(valor, 1, kSilencioMaximo, segundos))
        OpcionErronea(std::string("Segundos de silencio no validos: ") + valor + " (de 1 a " +
                      std::to_string(kSilencioMaximo) + ")");
      opciones.silencio_s = segundos;
      break;
    case 'm':
      if (*valor == '\0') OpcionErronea("Fichero de memoria vacio");
      opciones.memoria = valor;
      break;
    case 'p':
      opciones.prometheus = true;
      break;
    case 'h':
      Mostrar(kAyuda);
    case 'V':
      Mostrar(LineaDeVersion("comprobar-estado").c_str());
  }
}

void LeerOpciones(int argc, char **argv, Opciones &opciones) {
  opterr = 0;
  int opcion;
  while ((opcion = getopt_long(argc, argv, kOpcionesCortas, kOpcionesLargas, nullptr)) != -1) {
    if (opcion == '?' || opcion == ':')
      OpcionErronea(ProblemaDeOpcion(opcion, argv, kOpcionesLargas));
    AplicarOpcion(opcion, optarg, opciones);
  }
  if (optind >= argc) OpcionErronea("Falta el fichero de estado");
  if (argc - optind > 1) OpcionErronea(std::string("Sobra un argumento: ") + argv[optind + 1]);
  opciones.fichero = argv[optind];
}
