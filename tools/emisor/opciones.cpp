#include "opciones.h"

#include <arpa/inet.h>
#include <getopt.h>
#include <net/if.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bloques.h"
#include "compilacion.h"
#include "direcciones.h"
#include "fallo.h"
#include "firma.h"
#include "formato.h"
#include "lateral.h"
#include "numeros.h"
#include "palabras.h"
#include "uso.h"

static constexpr int kOpcionTtl = 256;
static constexpr int kOpcionSinLimite = 257;
static constexpr int kOpcionSemilla = 258;
static constexpr int kOpcionRepetir = 259;
static constexpr int kOpcionPerdida = 260;
static constexpr int kOpcionGso = 261;
static constexpr int kOpcionFirmar = 262;
static constexpr int kOpcionPuertoLateral = 263;
static constexpr int kOpcionGenerarClaves = 264;
static constexpr int kOpcionFec = 265;
static constexpr long long kMaxVeces = 1000000000;

// A bad command line gets one line that names the problem, and a pointer to the help.
[[noreturn]] __attribute__((format(printf, 1, 2))) static void ErrorDeUso(const char *formato,
                                                                          ...) {
  va_list argumentos;
  va_start(argumentos, formato);
  vfprintf(stderr, formato, argumentos);
  va_end(argumentos);
  fputs("\nPruebe 'emisor --help' para mas informacion.\n", stderr);
  exit(kSalidaError);
}

static Orden LeerOrden(const char *texto) {
  if (strcmp(texto, "directo") == 0) return Orden::kDirecto;
  if (strcmp(texto, "inverso") == 0) return Orden::kInverso;
  if (strcmp(texto, "aleatorio") == 0) return Orden::kAleatorio;
  ErrorDeUso("Orden no valido: %s", texto);
}

static int LeerEnteroPequeno(const char *texto, int minimo, int maximo, const char *que) {
  long long numero = 0;
  if (!LeerEntero(texto, minimo, maximo, numero)) ErrorDeUso("%s no valido: %s", que, texto);
  return static_cast<int>(numero);
}

// "K:M", both at least 1 and K + M within what the code takes.
static void LeerFec(const char *valor, Opciones &opciones) {
  long long k = 0, m = 0;
  const char *dos_puntos = strchr(valor, ':');
  std::string antes(valor, dos_puntos != nullptr ? static_cast<std::size_t>(dos_puntos - valor) : 0);
  if (dos_puntos == nullptr || !LeerEntero(antes.c_str(), 1, kMaxFilasCodigo - 1, k) ||
      !LeerEntero(dos_puntos + 1, 1, kMaxFilasCodigo - 1, m) || k + m > kMaxFilasCodigo)
    ErrorDeUso("FEC no valido: %s (K:M, con K + M hasta %d)", valor, kMaxFilasCodigo);
  opciones.fec_k = static_cast<int>(k);
  opciones.fec_m = static_cast<int>(m);
}

// What goes in the datagrams. Each Aplicar* returns whether the option was its own.
static bool AplicarOpcionDeCabecera(int opcion, const char *valor, Opciones &opciones) {
  if (opcion == 't' && !LeerHex4(valor, opciones.tipo)) ErrorDeUso("Tipo no valido: %s", valor);
  if (opcion == 's' && !LeerHex4(valor, opciones.subtipo))
    ErrorDeUso("Subtipo no valido: %s", valor);
  if (opcion == 'n') opciones.nombre = valor;
  if (opcion == 'p') {
    opciones.tamparte = LeerEnteroPequeno(valor, 1, kTamMaxParte, "Tamano de parte");
    opciones.tamparte_dada = true;
  }
  return opcion == 't' || opcion == 's' || opcion == 'n' || opcion == 'p';
}

// By one of its addresses or by its name, as the receiver takes it. The kernel finds the
// interface of an address when the socket is opened; a name is looked up now, so that a wrong
// one is told before the files are checked.
static void LeerInterfaz(const char *valor, Opciones &opciones) {
  opciones.interfaz = valor;
  opciones.interfaz_elegida = {};
  if (inet_pton(AF_INET, valor, &opciones.interfaz_elegida.imr_address) == 1) return;
  opciones.interfaz_elegida.imr_ifindex = static_cast<int>(if_nametoindex(valor));
  if (opciones.interfaz_elegida.imr_ifindex == 0) ErrorDeUso("Interfaz desconocida: %s", valor);
}

// How the datagrams leave.
static bool AplicarOpcionDeRed(int opcion, const char *valor, Opciones &opciones) {
  if (opcion == kOpcionTtl) opciones.ttl = LeerEnteroPequeno(valor, 0, 255, "TTL");
  if (opcion == 'i') LeerInterfaz(valor, opciones);
  if (opcion == 'r' && !LeerRitmo(valor, opciones.ritmo, opciones.ritmo_en_bits))
    ErrorDeUso("Ritmo no valido: %s", valor);
  if (opcion == kOpcionSinLimite) opciones.ritmo = 0;
  if (opcion == kOpcionGso) opciones.gso = true;
  if (opcion == kOpcionFirmar) opciones.firma = valor;
  if (opcion == kOpcionFec) LeerFec(valor, opciones);
  if (opcion == kOpcionPuertoLateral)
    opciones.puerto_lateral = static_cast<uint16_t>(LeerEnteroPequeno(valor, 1, 65535, "Puerto"));
  if (opcion == kOpcionPerdida) {
    if (!LeerProporcion(valor, opciones.perdida)) ErrorDeUso("Perdida no valida: %s", valor);
    opciones.con_perdida = true;
  }
  return opcion == kOpcionTtl || opcion == 'i' || opcion == 'r' || opcion == kOpcionSinLimite ||
         opcion == kOpcionPerdida || opcion == kOpcionGso || opcion == kOpcionFirmar ||
         opcion == kOpcionPuertoLateral || opcion == kOpcionFec;
}

// How many sends, and the order of the parts in each.
static void AplicarOpcionDePasadas(int opcion, const char *valor, Opciones &opciones) {
  if (opcion == 'v' && !LeerEntero(valor, 1, kMaxVeces, opciones.vueltas))
    ErrorDeUso("Numero de vueltas no valido: %s", valor);
  if (opcion == kOpcionRepetir && !LeerEntero(valor, 1, kMaxVeces, opciones.repeticiones))
    ErrorDeUso("Numero de repeticiones no valido: %s", valor);
  if (opcion == 'c') opciones.carrusel = true;
  if (opcion == 'o') opciones.orden = LeerOrden(valor);
  if (opcion == kOpcionSemilla) {
    if (!LeerSemilla(valor, opciones.semilla)) ErrorDeUso("Semilla no valida: %s", valor);
    opciones.con_semilla = true;
  }
}

static const option kOpcionesLargas[] = {
    {"tipo", required_argument, nullptr, 't'},
    {"subtipo", required_argument, nullptr, 's'},
    {"nombre", required_argument, nullptr, 'n'},
    {"tamparte", required_argument, nullptr, 'p'},
    {"ttl", required_argument, nullptr, kOpcionTtl},
    {"interfaz", required_argument, nullptr, 'i'},
    {"ritmo", required_argument, nullptr, 'r'},
    {"sin-limite", no_argument, nullptr, kOpcionSinLimite},
    {"vueltas", required_argument, nullptr, 'v'},
    {"repetir", required_argument, nullptr, kOpcionRepetir},
    {"carrusel", no_argument, nullptr, 'c'},
    {"orden", required_argument, nullptr, 'o'},
    {"semilla", required_argument, nullptr, kOpcionSemilla},
    {"perdida", required_argument, nullptr, kOpcionPerdida},
    {"gso", no_argument, nullptr, kOpcionGso},
    {"firmar", required_argument, nullptr, kOpcionFirmar},
    {"puerto-lateral", required_argument, nullptr, kOpcionPuertoLateral},
    {"generar-claves", required_argument, nullptr, kOpcionGenerarClaves},
    {"fec", required_argument, nullptr, kOpcionFec},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

// getopt's own messages would come in English; it stays quiet and the error is ours.
static void LeerOpcionesSueltas(int argc, char **argv, Opciones &opciones) {
  opterr = 0;
  int opcion;
  while ((opcion = getopt_long(argc, argv, ":t:s:n:p:i:r:v:co:hV", kOpcionesLargas, nullptr)) !=
         -1) {
    if (opcion == 'h') {
      MostrarAyuda();
      exit(kSalidaBien);
    }
    if (opcion == 'V') {
      fputs(LineaDeVersion("emisor").c_str(), stdout);
      exit(kSalidaBien);
    }
    if (opcion == kOpcionGenerarClaves) GenerarClavesYSalir(optarg);
    if (opcion == ':' || opcion == '?')
      ErrorDeUso("%s", ProblemaDeOpcion(opcion, argv, kOpcionesLargas).c_str());
    if (!AplicarOpcionDeCabecera(opcion, optarg, opciones) &&
        !AplicarOpcionDeRed(opcion, optarg, opciones))
      AplicarOpcionDePasadas(opcion, optarg, opciones);
  }
}

// An IPv6 multicast group goes over IPv6, any other multicast address over IPv4.
static void LeerDestino(const char *grupo, const char *puerto, Opciones &opciones) {
  sockaddr_storage &destino = opciones.destino;
  in_addr ipv4;
  bool ipv6 = LeerGrupoIpv6(grupo, 0, destino);
  if (!ipv6 && (inet_pton(AF_INET, grupo, &ipv4) != 1 || !IN_MULTICAST(ntohl(ipv4.s_addr))))
    ErrorDeUso("IP multicast no valida: %s", grupo);
  auto numero = static_cast<uint16_t>(LeerEnteroPequeno(puerto, 1, 65535, "Puerto"));
  if (!ipv6) destino = LeerGrupo(grupo, numero);
  PonerPuerto(destino, numero);
  if (opciones.puerto_lateral == 0 && numero == 65535)
    ErrorDeUso("Con el puerto 65535, el lateral se da con --puerto-lateral");
  if (opciones.puerto_lateral == 0)
    opciones.puerto_lateral = static_cast<uint16_t>(numero + kDesplazamientoLateral);
}

// What the group's family asks of the options: the largest part that goes unfragmented, and an
// interface named, since IPv6 chooses it by its index.
static void AjustarAlDestino(Opciones &opciones) {
  bool ipv6 = opciones.destino.ss_family == AF_INET6;
  if (opciones.tamparte == 0)
    opciones.tamparte = ipv6 ? kTamParteSinFragmentarIpv6 : kTamParteSinFragmentar;
  if (ipv6 && opciones.interfaz != nullptr && opciones.interfaz_elegida.imr_ifindex == 0)
    ErrorDeUso("Con un grupo IPv6, la interfaz se da por su nombre: %s", opciones.interfaz);
}

void LeerOpciones(int argc, char **argv, Opciones &opciones) {
  LeerOpcionesSueltas(argc, argv, opciones);
  if (argc - optind < 3) ErrorDeUso("Faltan argumentos");
  LeerDestino(argv[optind], argv[optind + 1], opciones);
  AjustarAlDestino(opciones);
  opciones.rutas.assign(argv + optind + 2, argv + argc);
  if (opciones.nombre != nullptr && opciones.rutas.size() > 1)
    ErrorDeUso("La opcion --nombre solo vale con un unico fichero");
}
