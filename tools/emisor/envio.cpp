#include "envio.h"

#include <unistd.h>

#include <algorithm>

#include "fallo.h"
#include "firma.h"
#include "mando.h"
#include "reparaciones.h"
#include "sorteo.h"
#include "reloj.h"

// A carrusel pass in which no file could be opened waits this long before the next one, so
// that a set of missing files does not spin.
static constexpr int64_t kPausaSinFicherosNs = 1000000000;

// Sets the loss draws apart from the shuffles, so that --perdida leaves the order of a seed
// as it was.
static constexpr uint64_t kSalPerdidas = 0x9e3779b97f4a7c15;

// a*b, or the largest count when it would not fit: a carrusel-like run has no end to show.
static uint64_t Multiplicar(uint64_t a, uint64_t b) {
  uint64_t producto;
  return __builtin_mul_overflow(a, b, &producto) ? UINT64_MAX : producto;
}

void PrepararEnvio(Envio &envio, const Opciones &opciones, const std::vector<Fichero> &ficheros) {
  uint64_t semilla = opciones.semilla;
  if (!opciones.con_semilla) {
    std::random_device dispositivo;
    semilla = (static_cast<uint64_t>(dispositivo()) << 32) | dispositivo();
  }
  envio.barajas.seed(semilla);
  envio.perdidas.seed(semilla ^ kSalPerdidas);
  uint64_t partes = 0;
  for (const Fichero &fichero : ficheros) partes += fichero.totpartes;
  uint64_t veces = Multiplicar(opciones.vueltas, opciones.repeticiones);
  envio.cuentas.previstos = opciones.carrusel ? 0 : Multiplicar(partes, veces);
  envio.posicion.pasadas = opciones.carrusel ? 0 : opciones.vueltas;
  envio.posicion.repeticiones = opciones.repeticiones;
  envio.ritmo.por_segundo = opciones.ritmo;
  envio.ritmo.en_bits = opciones.ritmo_en_bits;
  envio.progreso.en_terminal = isatty(STDERR_FILENO) != 0;
  envio.inicio = envio.ritmo.origen = AhoraNs();
  IniciarProgreso(envio.progreso, envio.inicio);
}

// A file that cannot be sent as it is now: outside a carrusel the run ends; in one, the file
// is left for this send, and a problem that lasts is said once, until the file comes back.
static Fin Dejar(Envio &envio, const Opciones &opciones, Fichero &fichero, Problema problema) {
  CerrarFichero(fichero);
  bool dicho =
      opciones.carrusel && problema == fichero.aviso && problema.que != Problema::kEncogido;
  if (!dicho)
    Avisar(envio.progreso, "%s", DecirProblema(fichero, problema, opciones.tamparte).c_str());
  fichero.aviso = problema;
  return opciones.carrusel ? Fin::kDejado : Fin::kError;
}

// The header and the content of the part indice, at destino.
static Problema Componer(const Opciones &opciones, const Fichero &fichero, uint32_t indice,
                         unsigned char *destino) {
  CodificarCabecera(
      {opciones.tipo, opciones.subtipo, indice + 1, fichero.totpartes, fichero.nombre}, destino);
  return LeerParte(fichero, opciones.tamparte, indice, destino + TamCabecera);
}

static Fin EnviarParte(Envio &envio, const Opciones &opciones, Fichero &fichero, uint32_t indice) {
  if (!EsperarTurno(envio)) return Fin::kSenal;
  std::size_t total = TamCabecera + LargoDeParte(fichero, opciones.tamparte, indice);
  // a datagram left out takes its turn, as one lost on the way would have
  ContarDatagrama(envio.ritmo, total);
  if (Omitir(envio.perdidas, opciones.perdida)) {
    envio.cuentas.omitidos += 1;
    return Fin::kCompleto;
  }
  Problema problema = Componer(opciones, fichero, indice, envio.datagrama);
  if (problema.que != Problema::kNinguno) return Dejar(envio, opciones, fichero, problema);
  return Mandar(envio, opciones, total, 1, fichero, indice + 1);
}

// Datagrams that one call may carry: all of one size, within the limit of a UDP datagram.
static std::size_t PartesPorTanda(const Opciones &opciones) {
  return std::min<std::size_t>(kMaxPartesTanda, kTamMaxTanda / (TamCabecera + opciones.tamparte));
}

// A run of the parts from desde on, in the order of the send: a burst when the first one is
// due, each counted against the schedule. A part shorter than the others (the file's last)
// ends it. Leaves desde where the run ended.
static Fin EnviarTanda(Envio &envio, const Opciones &opciones, Fichero &fichero,
                       std::size_t &desde) {
  if (!EsperarTurno(envio)) return Fin::kSenal;
  std::size_t primera = desde, total = 0;
  std::size_t limite = std::min<std::size_t>(fichero.totpartes, desde + PartesPorTanda(opciones));
  uint64_t cuantos = 0;
  bool corta = false;
  for (; desde < limite && !corta; ++desde) {
    uint32_t indice = ParteEnOrden(envio.orden, desde);
    std::size_t largo = LargoDeParte(fichero, opciones.tamparte, indice);
    corta = largo < static_cast<std::size_t>(opciones.tamparte);
    ContarDatagrama(envio.ritmo, TamCabecera + largo);
    if (Omitir(envio.perdidas, opciones.perdida)) {
      envio.cuentas.omitidos += 1;
      continue;
    }
    Problema problema = Componer(opciones, fichero, indice, envio.datagrama + total);
    if (problema.que != Problema::kNinguno) return Dejar(envio, opciones, fichero, problema);
    total += TamCabecera + largo;
    ++cuantos;
  }
  if (cuantos == 0) return Fin::kCompleto;
  return Mandar(envio, opciones, total, cuantos, fichero, ParteEnOrden(envio.orden, primera) + 1);
}

static Fin EnviarPartes(Envio &envio, const Opciones &opciones, Fichero &fichero) {
  OrdenarPartes(envio.barajas, opciones.orden, fichero.totpartes, envio.orden);
  Fin fin = Fin::kCompleto;
  if (opciones.gso) {
    for (std::size_t desde = 0; desde < fichero.totpartes && fin == Fin::kCompleto;)
      fin = EnviarTanda(envio, opciones, fichero, desde);
    return fin;
  }
  for (std::size_t i = 0; i < fichero.totpartes && fin == Fin::kCompleto; ++i)
    fin = EnviarParte(envio, opciones, fichero, ParteEnOrden(envio.orden, i));
  return fin;
}

// One send of a file, opened by its name for it alone: a file replaced or rewritten goes as it
// is now, and thousands of files never hold more than one descriptor.
static Fin EnviarFichero(Envio &envio, const Opciones &opciones, Fichero &fichero) {
  Problema problema = AbrirFichero(fichero, opciones.tamparte);
  if (problema.que != Problema::kNinguno) return Dejar(envio, opciones, fichero, problema);
  if (fichero.aviso.que != Problema::kNinguno && fichero.aviso.que != Problema::kEncogido)
    Avisar(envio.progreso, "El fichero %s vuelve a enviarse\n", fichero.ruta);
  fichero.aviso = {};
  if (envio.firmante != nullptr) {
    problema = ResumirFichero(*envio.firmante, opciones, fichero);
    if (problema.que != Problema::kNinguno) return Dejar(envio, opciones, fichero, problema);
    if (MandarDescripcion(envio, *envio.firmante, opciones, fichero) == Fin::kSenal)
      return Fin::kSenal;
  }
  Fin fin = EnviarPartes(envio, opciones, fichero);
  if (fin == Fin::kCompleto && envio.reparador != nullptr)
    fin = MandarReparaciones(envio, *envio.reparador, opciones, fichero);
  CerrarFichero(fichero);
  return fin;
}

// Each file opciones.repeticiones times in a row; one that a carrusel cannot send now is left
// for its next send.
static Fin EnviarPasada(Envio &envio, const Opciones &opciones, std::vector<Fichero> &ficheros) {
  Posicion &posicion = envio.posicion;
  for (Fichero &fichero : ficheros) {
    posicion.nombre = fichero.nombre.c_str();
    for (posicion.repeticion = 1; posicion.repeticion <= opciones.repeticiones;
         ++posicion.repeticion) {
      if (ParadaPedida()) return Fin::kSenal;
      Fin fin = EnviarFichero(envio, opciones, fichero);
      if (fin == Fin::kSenal || fin == Fin::kError) return fin;
    }
  }
  return Fin::kCompleto;
}

Fin EnviarTodo(Envio &envio, const Opciones &opciones, std::vector<Fichero> &ficheros) {
  Posicion &posicion = envio.posicion;
  for (posicion.pasada = 1; opciones.carrusel || posicion.pasada <= opciones.vueltas;
       ++posicion.pasada) {
    uint64_t antes = Hechos(envio.cuentas);
    Fin fin = EnviarPasada(envio, opciones, ficheros);
    if (fin != Fin::kCompleto) return fin;
    if (Hechos(envio.cuentas) == antes) Pausar(envio, kPausaSinFicherosNs);
  }
  return Fin::kCompleto;
}
