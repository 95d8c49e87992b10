#include "marco.h"

#include <getopt.h>

#include <cstdlib>
#include <string>

#include "fatal.h"
#include "palabras.h"
#include "salida.h"
#include "volcado.h"

static void MostrarUso(const char *programa) {
  fprintf(stderr, "Version 1.0\nUso: %s <IP Multicast> <Puerto Multicast> <Modo>\n", programa);
  fprintf(stderr, "Modos:\n0 - Solo obtener las  cabeceras e imprimirlas en pantalla\n");
  fprintf(stderr, "2 - Almacenar ficheros\n");
  fprintf(stderr, "Otro - Ver una linea por paquete\n");
}

static const char kOpcionesCortas[] = "+:f:rq";
static const option kOpcionesLargas[] = {{"ficheros", required_argument, nullptr, 'f'},
                                         {"reanudar", no_argument, nullptr, 'r'},
                                         {"silencioso", no_argument, nullptr, 'q'},
                                         {nullptr, 0, nullptr, 0}};

// One line that names the problem as it was typed, one that says where to look.
[[noreturn]] static void OpcionErronea(const std::string &problema) {
  fprintf(stderr, "%s\nPruebe 'man client'.\n", problema.c_str());
  exit(kSalidaUso);
}

static void LeerOpciones(int argc, char **argv, OpcionesAlmacen &opciones) {
  opterr = 0;
  int opcion;
  while ((opcion = getopt_long(argc, argv, kOpcionesCortas, kOpcionesLargas, nullptr)) != -1) {
    long long maximo = 0;
    if (opcion == 'f' && !LeerEntero(optarg, 1, kMaxFicherosEnCurso, maximo))
      OpcionErronea(std::string("Numero de ficheros no valido: ") + optarg + " (de 1 a " +
                    std::to_string(kMaxFicherosEnCurso) + ")");
    if (opcion == 'f') opciones.maximo = static_cast<int>(maximo);
    if (opcion == 'r') opciones.reanudar = true;
    if (opcion == 'q') opciones.silencioso = true;
    if (opcion == ':' || opcion == '?')
      OpcionErronea(ProblemaDeOpcion(opcion, argv, kOpcionesLargas));
  }
}

Argumentos LeerArgumentos(int argc, char **argv) {
  const char *programa = argc > 0 && argv[0] != nullptr ? argv[0] : "client";
  Argumentos argumentos{};
  if (argc >= 1) LeerOpciones(argc, argv, argumentos.almacen);
  if (argc - optind < 3) {
    MostrarUso(programa);
    exit(kSalidaUso);
  }
  char **resto = argv + optind;
  argumentos.grupo = resto[0];
  argumentos.puerto = static_cast<uint16_t>(atoi(resto[1]));
  argumentos.modo = atoi(resto[2]);
  return argumentos;
}

// Only a datagram that carries a whole header carries a count: a short one would be judged
// by bytes that were never received.
static void ComprobarLimite(const DatagramaActual &actual, const Paquete &paquete,
                            AlmacenFicheros &almacen, FILE *salida) {
  if (paquete.tampaquete < TamCabecera || actual.totpartes <= MAX_TROZOS) return;
  // a service restarts the receiver after this end: what is in progress is kept for it
  GuardarFicherosEnCurso(almacen, salida);
  fprintf(salida,
          "El total de partes (%d) EXCEDE al MAX_TROZOS (%d), amplialo en MAX_TROZOS en el "
          "DEFINE y recompila, prometo hacerlo en la proxima versi\xf3n yo mismo si tengo "
          "tiempo.\n",
          actual.totpartes, MAX_TROZOS);
  exit(kSalidaMaxTrozos);  // which flushes every stream
}

// A short datagram would make the part size negative and misplace every later part.
// The count less one is taken in 32-bit arithmetic, as every field is.
static void ActualizarTamParte(const DatagramaActual &actual, const Paquete &paquete,
                               EstadoBucle &estado) {
  if (paquete.tampaquete < TamCabecera) return;
  int32_t ultima = static_cast<int32_t>(static_cast<uint32_t>(actual.totpartes) - 1u);
  if (actual.parteactual < ultima) estado.tamparte = paquete.tampaquete - TamCabecera;
}

// "T:%s|S:%s|Nom:%s|%d/%d|MxPrt:%d|Fltn:%d|\n", built by hand: it is printed for every datagram.
static void ImprimirResumen(const DatagramaActual &actual, const EstadoBucle &estado,
                            bool a_terminal, FILE *salida) {
  Renglon linea;
  Anadir(linea, "T:");
  Anadir(linea, std::string_view(actual.eltipo, 4));
  Anadir(linea, "|S:");
  Anadir(linea, std::string_view(actual.elsubtipo, 4));
  Anadir(linea, "|Nom:");
  AnadirNombre(linea, actual.nombre, a_terminal);
  Anadir(linea, "|");
  AnadirEntero(linea, actual.parteactual);
  Anadir(linea, "/");
  AnadirEntero(linea, actual.totpartes);
  Anadir(linea, "|MxPrt:");
  AnadirEntero(linea, estado.tamparte);
  Anadir(linea, "|Fltn:");
  AnadirEntero(linea, estado.faltan);
  Anadir(linea, "|\n");
  Emitir(linea, salida);
}

void ProcesarPaquete(const Paquete &paquete, EstadoBucle &estado, DatagramaActual &actual,
                     AlmacenFicheros &almacen, FILE *salida) {
  DecodificarCabecera(paquete.datos, static_cast<std::size_t>(paquete.legibles), actual);
  ComprobarLimite(actual, paquete, almacen, salida);
  ActualizarTamParte(actual, paquete, estado);
  // the identity says which file's missing count the summary line shows
  ConstruirIdentidad(actual);
  if (estado.modo == 2) estado.faltan = FaltanParaResumen(almacen, actual, estado.faltan);
  const OpcionesAlmacen &opciones = almacen.opciones;
  if (!opciones.silencioso) {
    ImprimirResumen(actual, estado, opciones.a_terminal, salida);
    if (estado.modo == 0)
      ImprimirVolcado(paquete.datos, paquete.tampaquete, salida, opciones.a_terminal);
  }
  if (estado.modo == 2)
    AlmacenarParte(almacen, actual, paquete, estado.tamparte, estado.faltan, salida);
}

void ProcesarLote(Receptor &receptor, EstadoBucle &estado, DatagramaActual &actual,
                  AlmacenFicheros &almacen, FILE *salida) {
  EmpezarLote(almacen);
  int recibidos = static_cast<int>(receptor.vistas.size());
  for (int i = 0; i < recibidos; ++i)
    ProcesarPaquete(PaqueteDelLote(receptor, i), estado, actual, almacen, salida);
  TerminarLote(receptor);
}
