// Receives files sent as numbered parts on a UDP multicast group, and shows or rebuilds them.
#include <poll.h>
#include <stdio_ext.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "almacen.h"
#include "argumentos.h"
#include "avance.h"
#include "directorio.h"
#include "en_curso.h"
#include "entrada.h"
#include "estado.h"
#include "fatal.h"
#include "guardar.h"
#include "hijos.h"
#include "informes.h"
#include "paso.h"
#include "membresia.h"
#include "recepcion_lateral.h"
#include "reparar.h"
#include "restos.h"
#include "salida.h"
#include "senales.h"
#include "servicio.h"
#include "reloj.h"
#include "rechazos.h"

// Datagrams that had arrived when a signal came are still handled, a bounded number of
// batches, so that a sender that keeps on cannot hold the receiver.
static constexpr int kLotesAlTerminar = 128;
// Drops of the kernel are told at most this often.
static constexpr int64_t kMsEntreAvisosDeDescartes = 1000;
// While datagrams keep coming, the next receive waits this long at most, so that the kernel
// gathers a run and one wake-up takes it, instead of one wake-up for every few datagrams.
static constexpr int64_t kPausaEntreRecepcionesNs = 500'000;
// Without a pause, how long after the last message the stream counts as stopped: longer than
// the gap between the runs of a sender that merges them (0.43 ms at 100k datagrams/s).
static constexpr int64_t kCalmaNs = 1'000'000;
// Messages that a pause must gather, at the rate just seen, to be worth it.
static constexpr int64_t kMensajesPorPausa = 2;
// What the kernel charges a socket's queue for an ordinary datagram of a full Ethernet frame.
static constexpr int64_t kColaPorDatagrama = 2304;

/// Everything the receiver keeps for its run.
struct Programa {
  Argumentos argumentos;
  Membresia membresia;                 // the socket and its membership of the group
  std::unique_ptr<Receptor> receptor;  // large: its buffers are touched only as datagrams fill them
  Bucle bucle;
  DatagramaActual actual;
  AlmacenFicheros almacen;
  Vaciado vaciado;
  TablaDeFirmas firmas;  // the keys trusted, and the part digests they signed
  CanalLateral lateral;  // the side channel, joined when keys or repairs were asked for
  Reparaciones reparaciones;  // the repair datagrams kept, with --reparar
  FicheroEstado informe;            // the status file, when asked for
  AlCompletar hijos;                // the program run on completed files, when asked for
  Avance avance;                    // the progress line of the quiet log on a terminal
  Servicio servicio;                // what systemd is told, when it runs the receiver
  uint32_t descartes_avisados = 0;  // kernel drops already told on the quiet log
  int64_t ultimo_aviso_ms = -1;     // when they were told last
  int64_t cola = 0;                 // datagrams the socket's queue holds, as the kernel granted
  int ultimos = 0;                  // datagrams the last receive brought
  int64_t lote_ns = 0;              // when it returned, monotonic
  int64_t intervalo_ns = 1;         // and how long after the one before: the time they took
};

// How long to let datagrams gather before the next receive: while they keep coming (the last
// receive brought some without filling the batch), up to kPausaEntreRecepcionesNs, never so
// long that the queue, at the rate just seen, would fill past half, nor past when waiting output
// is due. 0 to receive at once.
static int64_t Pausa(const Programa &r) {
  if (r.ultimos == 0 || r.receptor->lleno) return 0;
  // a pause pays for its own call only when it gathers several messages: runs the kernel
  // merges come few and far between, and are gathered already
  if (r.receptor->ultimos_mensajes * kPausaEntreRecepcionesNs < kMensajesPorPausa * r.intervalo_ns)
    return 0;
  int64_t pausa = std::min(kPausaEntreRecepcionesNs, r.cola * r.intervalo_ns / (2 * r.ultimos));
  return r.vaciado.pendiente ? std::min(pausa, EsperaHastaVaciar(r.vaciado)) : pausa;
}

// When waiting output is shown if no datagram comes first: when it is due, and, while messages
// come too seldom for a pause, kCalmaNs after the last one, so that a stream that stops shows its
// lines about as soon as after a pause.
static int64_t MomentoDeMostrar(const Programa &r) {
  int64_t momento = MomentoDeVaciar(r.vaciado);
  return r.ultimos > 0 ? std::min(momento, r.lote_ns + kCalmaNs) : momento;
}

// A signal ends it early, and the loop looks at it then.
static void Dormir(int64_t ns) {
  timespec pausa = {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
  clock_nanosleep(CLOCK_MONOTONIC, 0, &pausa, nullptr);
}

// With repairs, the side channel's datagrams come on their own after a file's parts: a wait on
// the data alone would leave them to overflow their queue. Waits for either, up to a second.
static int RecibirDeAlguno(Programa &r) {
  pollfd esperas[2] = {{r.membresia.sock, POLLIN, 0}, {r.lateral.membresia.sock, POLLIN, 0}};
  poll(esperas, 2, 1000);
  return RecibirLote(*r.receptor, false);
}

// Takes the datagrams of one receive through the pass; returns how many. While datagrams keep
// coming, the receive comes after a pause and takes what gathered; otherwise it waits for the
// first, and while printed output waits, only until it is due to be shown.
static int AtenderLote(Programa &r, bool esperar) {
  int64_t pausa = esperar ? Pausa(r) : 0;
  if (pausa > 0) Dormir(pausa);
  bool con_reparaciones = r.lateral.reparaciones != nullptr;
  int recibidos = pausa > 0 || !esperar ? RecibirLote(*r.receptor, false)
                  : r.vaciado.pendiente ? RecibirAntesDe(*r.receptor, MomentoDeMostrar(r))
                  : con_reparaciones    ? RecibirDeAlguno(r)
                                        : RecibirLote(*r.receptor, true);
  int64_t ahora = AhoraNs();
  r.intervalo_ns = std::max<int64_t>(ahora - r.lote_ns, 1);
  r.lote_ns = ahora;
  r.ultimos = recibidos;
  // a file's description comes before its parts: taken first
  if (r.lateral.activo) AtenderCanalLateral(r.lateral, r.firmas, r.almacen, stdout);
  ProcesarLote(*r.receptor, r.bucle, r.actual, r.almacen, stdout);
  if (con_reparaciones && r.reparaciones.nuevas)
    IntentarReparaciones(r.reparaciones, r.almacen, stdout);
  CederSitio(r.almacen, stdout);
  return recibidos;
}

// The datagrams that the socket's queue holds, from the room the kernel granted it.
static int64_t DatagramasEnCola(int sock) {
  int bytes = 0;
  socklen_t largo = sizeof bytes;
  if (getsockopt(sock, SOL_SOCKET, SO_RCVBUF, &bytes, &largo) != 0) return 0;
  return bytes / kColaPorDatagrama;
}

// A user must know when the receiver was too slow: the kernel's drops, on the quiet log.
static void AvisarDescartes(Programa &r, int64_t ahora_ms) {
  uint32_t total = r.bucle.descartados;
  if (!r.almacen.opciones.silencioso || total == r.descartes_avisados ||
      (r.ultimo_aviso_ms >= 0 && ahora_ms - r.ultimo_aviso_ms < kMsEntreAvisosDeDescartes))
    return;
  printf(
      "%sEl nucleo descarto %u datagramas sin sitio en la cola (%u desde el inicio): el "
      "receptor no da abasto.\n",
      Prefijo(stdout, Prioridad::kAviso), total - r.descartes_avisados, total);
  r.descartes_avisados = total;
  r.ultimo_aviso_ms = ahora_ms;
}

// What follows each receive besides its datagrams: programs on completed files, the group's
// membership, records, the status file, the kernel's drops.
static void Atender(Programa &r, int recibidos) {
  // the receive has just read the clock
  int64_t ahora_ms = r.lote_ns / 1'000'000;
  AvisarDesdeElBucle(r.servicio, r.membresia, r.bucle.datagramas, r.almacen, ahora_ms);
  if (r.argumentos.al_completar != nullptr) {
    LanzarAlCompletar(r.hijos, r.almacen.recien_completados, stdout);
    RecogerHijos(r.hijos, stdout);
  }
  r.almacen.recien_completados.clear();
  CuidarUnion(r.membresia, recibidos, ahora_ms);
  if (r.lateral.activo) CuidarUnion(r.lateral.membresia, recibidos, ahora_ms);
  if (r.lateral.reparaciones != nullptr)
    RepasarReparaciones(r.reparaciones, r.almacen, ahora_ms, stdout);
  GuardarSiToca(r.almacen, ahora_ms / 1000, stdout);
  if (r.bucle.modo == 2) RepasarRestosSiToca(r.almacen, ahora_ms, stdout);
  AvisarRepeticiones(r.almacen, ahora_ms, false, stdout);
  if (r.argumentos.estado != nullptr) EscribirEstadoSiToca(r.informe, r.bucle, r.almacen, ahora_ms);
  AvisarDescartes(r, ahora_ms);
}

// The one end of the run, asked by a signal or by a part count over the limit: the datagrams
// already queued are handled (after a signal), the files in progress written out (and saved
// when asked), hand-offs and counts told, the status written, and what was printed written out;
// then it ends as the signal would have, or with kSalidaMaxTrozos.
[[noreturn]] static void Terminar(Programa &r) {
  r.vaciado = Vaciado{};
  for (int lote = 0; r.bucle.excedido == 0 && lote < kLotesAlTerminar; ++lote) {
    AtenderLote(r, false);
    if (!r.receptor->lleno) break;
  }
  GuardarFicherosEnCurso(r.almacen, stdout);
  AvisarRepeticiones(r.almacen, AhoraMs(), true, stdout);
  if (r.almacen.opciones.entregar) TerminarEntregas(r.hijos, r.almacen.recien_completados, stdout);
  BorrarAvance(r.avance);
  if (r.argumentos.estado != nullptr) EscribirEstado(r.informe, r.bucle, r.almacen, AhoraMs());
  if (r.bucle.excedido != 0)
    DecirLimiteExcedido(r.bucle.excedido, r.almacen.opciones.max_partes, stdout);
  fflush(stdout);
  AvisarFin();
  // a service restarts the receiver after this end: what is in progress is kept for it
  if (r.bucle.excedido != 0) exit(kSalidaMaxTrozos);
  TerminarComoLaSenal(SenalDeFin());
}

// Everything that can be refused is refused before the socket opens; the directory is taken
// before the group is joined.
static void Preparar(Programa &r) {
  const Argumentos &a = r.argumentos;
  r.almacen.opciones = a.almacen;
  // the journal shows a line with a control byte as a blob, and a newline would forge a line
  r.almacen.opciones.a_terminal = isatty(STDOUT_FILENO) != 0 || AlDiario(stdout);
  r.almacen.opciones.entregar = a.al_completar != nullptr && a.modo == 2;
  // several files at once, or new versions: two senders of one file are two files; with the
  // senders named (-s), one sender per group, as always
  r.almacen.opciones.por_emisor =
      (a.almacen.maximo > 1 || a.almacen.actualizar) && a.entrada.fuentes.empty();
  if (a.estado != nullptr) PrepararFicheroEstado(r.informe, a.estado);
  if (a.al_completar != nullptr) PrepararAlCompletar(r.hijos, a.al_completar, r.almacen.opciones);
  if (a.al_completar != nullptr) DespertarAlTerminarHijos();
  if (a.directorio != nullptr) EntrarEnDirectorio(a.directorio);
  // a second receiver storing here would replace our files
  if (a.modo == 2) r.almacen.directorio = ReservarDirectorio();
  if (a.al_completar != nullptr) FijarDirectorioAlCompletar(r.hijos);
  r.receptor.reset(new Receptor);
  AbrirMembresia(r.membresia, a.grupo, a.puerto, a.entrada, a.almacen.silencioso ? stdout : stderr);
  AbrirReceptor(*r.receptor, r.membresia);
  r.firmas.claves = a.claves;
  if (a.reparar) r.lateral.reparaciones = &r.reparaciones;
  if (!a.claves.empty() || a.reparar)
    AbrirCanalLateral(r.lateral, a.grupo, a.puerto_lateral, a.entrada,
                      a.almacen.silencioso ? stdout : stderr);
  r.cola = DatagramasEnCola(r.membresia.sock);
  r.informe.membresia = &r.membresia;
  if (!a.claves.empty()) r.informe.firmas = &r.firmas;
  // with keys, the store takes only what they signed
  if (!a.claves.empty()) r.almacen.firmas = &r.firmas;
  r.bucle.modo = a.modo;
  r.avance.activo = a.modo == 2 && a.almacen.silencioso && isatty(STDERR_FILENO) != 0;
}

// Quiet, the log starts by saying what the receiver listens to and where it stores.
static void AnunciarInicio(const Argumentos &a) {
  if (!a.almacen.silencioso) return;
  printf("%sRecibiendo %s, puerto %u, modo %d, en %s\n", Prefijo(stdout, Prioridad::kSuceso),
         a.grupo, a.puerto, a.modo, DirectorioDeTrabajo().c_str());
  fflush(stdout);
}

// Output is shown once it has waited long enough, or when no datagram came; the progress line
// leaves the terminal's line to it first.
static void Mostrar(Programa &r, int recibidos) {
  bool toca = recibidos == 0 || (r.vaciado.pendiente && EsperaHastaVaciar(r.vaciado) == 0);
  if (toca && __fpending(stdout) > 0) BorrarAvance(r.avance);
  if (recibidos == 0) {
    // the lines shown say the parts are written: so they are, first
    VolcarFicheros(r.almacen, stdout);
    Vaciar(r.vaciado, stdout);
  } else {
    VaciarSiHaEsperado(r.vaciado, stdout);
  }
  DibujarAvance(r.avance, r.almacen, r.lote_ns / 1'000'000);
}

int main(int argc, char **argv) {
  DetectarDiario();
  static Programa r;
  r.argumentos = LeerArgumentos(argc, argv);
  static char buffer_salida[1 << 16];
  setvbuf(stdout, buffer_salida, _IOFBF, sizeof buffer_salida);
  // before the join: a signal that comes once the group is joined ends the receiver in order
  InstalarSenales();
  Preparar(r);
  AnunciarInicio(r.argumentos);
  AvisarEsperaDeUnion(r.membresia);
  if (r.lateral.activo) AvisarEsperaDeUnion(r.lateral.membresia);
  AvisarListo(r.servicio, r.membresia);
  if (r.bucle.modo == 2) RepasarRestos(r.almacen, AhoraMs(), stdout);
  if (r.almacen.opciones.entregar) RetomarEntregas(r.hijos, stdout);

  for (;;) {
    int recibidos = AtenderLote(r, SenalDeFin() == 0);
    if (SenalDeFin() != 0 || r.bucle.excedido != 0) Terminar(r);
    Atender(r, recibidos);
    Mostrar(r, recibidos);
  }
}
