#include "argumentos.h"

#include <getopt.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "ayuda.h"
#include "compilacion.h"
#include "direcciones.h"
#include "fatal.h"
#include "palabras.h"
#include "salida.h"

// Long options without a letter take values past any character.
enum {
  kOpcionCaducar = 256,
  kOpcionMaxPartes,
  kOpcionClave,
  kOpcionPuertoLateral,
  kOpcionReparar
};

static const char kOpcionesCortas[] = "+:d:i:s:f:raqx:e:whV";
static const option kOpcionesLargas[] = {{"directorio", required_argument, nullptr, 'd'},
                                         {"interfaz", required_argument, nullptr, 'i'},
                                         {"fuente", required_argument, nullptr, 's'},
                                         {"ficheros", required_argument, nullptr, 'f'},
                                         {"reanudar", no_argument, nullptr, 'r'},
                                         {"actualizar", no_argument, nullptr, 'a'},
                                         {"silencioso", no_argument, nullptr, 'q'},
                                         {"al-completar", required_argument, nullptr, 'x'},
                                         {"estado", required_argument, nullptr, 'e'},
                                         {"esperar-red", no_argument, nullptr, 'w'},
                                         {"caducar", required_argument, nullptr, kOpcionCaducar},
                                         {"max-partes", required_argument, nullptr,
                                          kOpcionMaxPartes},
                                         {"clave", required_argument, nullptr, kOpcionClave},
                                         {"puerto-lateral", required_argument, nullptr,
                                          kOpcionPuertoLateral},
                                         {"reparar", no_argument, nullptr, kOpcionReparar},
                                         {"help", no_argument, nullptr, 'h'},
                                         {"version", no_argument, nullptr, 'V'},
                                         {nullptr, 0, nullptr, 0}};

// One line that names the problem as it was typed, one that says where to look.
[[noreturn]] static void OpcionErronea(const std::string &problema) {
  fprintf(stderr, "%s%s\nPruebe 'client --help' para mas informacion.\n",
          Prefijo(stderr, Prioridad::kError), problema.c_str());
  exit(kSalidaUso);
}

[[noreturn]] static void Mostrar(const char *texto) {
  fputs(texto, stdout);
  exit(0);
}

// A sender of the group's family.
static void LeerFuente(const char *valor, int familia, OpcionesEntrada &entrada) {
  sockaddr_storage fuente;
  if (!LeerDireccion(valor, familia, fuente))
    OpcionErronea(std::string("Direccion de fuente no valida: ") + valor);
  entrada.fuentes.push_back(fuente);
}

static void LeerFicheros(const char *valor, OpcionesAlmacen &almacen) {
  long long maximo = 0;
  if (!LeerEntero(valor, 1, kMaxFicherosEnCurso, maximo))
    OpcionErronea(std::string("Numero de ficheros no valido: ") + valor + " (de 1 a " +
                  std::to_string(kMaxFicherosEnCurso) + ")");
  almacen.maximo = static_cast<int>(maximo);
}

// Up to what a count in the header can say.
static void LeerMaxPartes(const char *valor, OpcionesAlmacen &almacen) {
  long long maximo = 0;
  if (!LeerEntero(valor, 1, kMaxPartesCabecera, maximo))
    OpcionErronea(std::string("Numero de partes no valido: ") + valor + " (de 1 a " +
                  std::to_string(kMaxPartesCabecera) + ")");
  almacen.max_partes = static_cast<int32_t>(maximo);
}

// A number and its unit (s, m, h or d), or seconds without one; up to about a century.
static void LeerCaducidad(const char *valor, OpcionesAlmacen &almacen) {
  std::string texto = valor;
  long long segundos_por = 1;
  if (!texto.empty() && texto.find_first_of("smhd") == texto.size() - 1) {
    char unidad = texto.back();
    segundos_por = unidad == 's' ? 1 : unidad == 'm' ? 60 : unidad == 'h' ? 3600 : 86400;
    texto.pop_back();
  }
  long long cuanto = 0;
  if (!LeerEntero(texto.c_str(), 1, 36500LL * 86400 / segundos_por, cuanto))
    OpcionErronea(std::string("Duracion no valida: ") + valor +
                  " (un numero con s, m, h o d, como 7d)");
  almacen.caducar_s = cuanto * segundos_por;
}

// A public key, or a directory of them.
static void LeerClave(const char *valor, Argumentos &argumentos) {
  std::string problema;
  if (!LeerClavesPublicas(valor, argumentos.claves, problema)) OpcionErronea(problema);
}

static uint16_t LeerPuertoLateral(const char *valor) {
  long long puerto = 0;
  if (!LeerEntero(valor, 1, 65535, puerto))
    OpcionErronea(std::string("Puerto lateral no valido: ") + valor);
  return static_cast<uint16_t>(puerto);
}

// An empty value would name nothing: a directory or program of that name cannot be meant.
static const char *NoVacio(const char *valor, const char *que) {
  if (*valor == '\0') OpcionErronea(std::string(que) + " vacio");
  return valor;
}

// The options that only switch something on.
static bool AplicarInterruptor(int opcion, Argumentos &argumentos) {
  bool *interruptor = opcion == 'r'   ? &argumentos.almacen.reanudar
                      : opcion == 'a' ? &argumentos.almacen.actualizar
                      : opcion == 'q' ? &argumentos.almacen.silencioso
                      : opcion == 'w' ? &argumentos.entrada.esperar_red
                      : opcion == kOpcionReparar ? &argumentos.reparar
                                      : nullptr;
  if (interruptor != nullptr) *interruptor = true;
  return interruptor != nullptr;
}

static void AplicarOpcion(int opcion, const char *valor, Argumentos &argumentos) {
  if (AplicarInterruptor(opcion, argumentos)) return;
  switch (opcion) {
    case 'd':
      argumentos.directorio = NoVacio(valor, "Directorio");
      break;
    case 'i':
      argumentos.entrada.interfaz = NoVacio(valor, "Nombre de interfaz");
      break;
    case 's':
      LeerFuente(valor, argumentos.familia, argumentos.entrada);
      break;
    case 'f':
      LeerFicheros(valor, argumentos.almacen);
      break;
    case 'x':
      argumentos.al_completar = NoVacio(valor, "Programa");
      break;
    case 'e':
      argumentos.estado = NoVacio(valor, "Fichero de estado");
      break;
    case kOpcionCaducar:
      LeerCaducidad(valor, argumentos.almacen);
      break;
    case kOpcionClave:
      LeerClave(valor, argumentos);
      break;
    case kOpcionPuertoLateral:
      argumentos.puerto_lateral = LeerPuertoLateral(valor);
      break;
    case kOpcionMaxPartes:
      LeerMaxPartes(valor, argumentos.almacen);
      break;
    case 'h':
      Mostrar(kAyuda);
    case 'V':
      Mostrar(LineaDeVersion("client").c_str());
  }
}

// The family of the group that follows the options, read ahead so that each -s is judged where
// it stands, before any later option.
static int FamiliaDelGrupo(int argc, char **argv) {
  opterr = 0;
  while (getopt_long(argc, argv, kOpcionesCortas, kOpcionesLargas, nullptr) != -1) {
  }
  sockaddr_storage grupo;
  int familia = optind < argc && LeerGrupoIpv6(argv[optind], 0, grupo) ? AF_INET6 : AF_INET;
  optind = 0;  // read again from the start, at last
  return familia;
}

static void LeerOpciones(int argc, char **argv, Argumentos &argumentos) {
  argumentos.familia = FamiliaDelGrupo(argc, argv);
  opterr = 0;
  int opcion;
  while ((opcion = getopt_long(argc, argv, kOpcionesCortas, kOpcionesLargas, nullptr)) != -1) {
    if (opcion == ':' || opcion == '?')
      OpcionErronea(ProblemaDeOpcion(opcion, argv, kOpcionesLargas));
    AplicarOpcion(opcion, optarg, argumentos);
  }
}

// A port that reads as 0 would be bound to one the kernel picks, where nothing ever comes.
static uint16_t LeerPuerto(const char *texto) {
  uint16_t puerto = static_cast<uint16_t>(atoi(texto));
  if (puerto == 0) OpcionErronea(std::string("Puerto no valido: '") + texto + "'");
  return puerto;
}

Argumentos LeerArgumentos(int argc, char **argv) {
  const char *programa = argc > 0 && argv[0] != nullptr ? argv[0] : "client";
  Argumentos argumentos{};
  if (argc >= 1) LeerOpciones(argc, argv, argumentos);
  if (argc - optind < 3) {
    MostrarUso(programa);
    exit(kSalidaUso);
  }
  char **resto = argv + optind;
  argumentos.grupo = resto[0];
  argumentos.puerto = LeerPuerto(resto[1]);
  argumentos.modo = atoi(resto[2]);
  // the side channel is joined for keys, and for repairs, which only mode 2 stores
  argumentos.reparar = argumentos.reparar && argumentos.modo == 2;
  if ((!argumentos.claves.empty() || argumentos.reparar) && argumentos.puerto_lateral == 0 &&
      argumentos.puerto == 65535)
    OpcionErronea("Con el puerto 65535, el lateral se da con --puerto-lateral");
  if (argumentos.puerto_lateral == 0)
    argumentos.puerto_lateral = static_cast<uint16_t>(argumentos.puerto + kDesplazamientoLateral);
  return argumentos;
}
