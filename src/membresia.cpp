#include "membresia.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/udp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fatal.h"
#include "grupo.h"
#include "interfaces.h"
#include "salida.h"
#include "reloj.h"

static constexpr int kTamColaSocket = 8 << 20;

// Where a join without interface landed, whole or halfway through its senders, as indice (0
// where none is held): the next renewal must leave it there, even once the route points
// elsewhere. False when the interfaces cannot be listed.
static bool BuscarSostenida(const Membresia &m, unsigned &indice) {
  indice = 0;
  struct if_nameindex *lista = if_nameindex();
  if (lista == nullptr) return false;
  for (const struct if_nameindex *i = lista; i->if_index != 0 && indice == 0; ++i)
    if (MembresiaSostenida(m.sock, m.direccion, i->if_index)) indice = i->if_index;
  if_freenameindex(lista);
  return true;
}

// Joins on the interface asked for, looked up again, or on the one the route gives, and keeps
// which one and its name (the address asked for when it stands for the interface). False, with
// errno set, when the join fails.
static bool IntentarUnion(Membresia &m) {
  unsigned indice = 0;
  in_addr_t direccion = 0;
  if (m.opciones.interfaz != nullptr &&
      !BuscarInterfaz(m.direccion.ss_family, m.opciones.interfaz, indice, direccion))
    return false;
  bool unida = UnirseAlGrupo(m.sock, m.direccion, m.opciones.fuentes, indice, direccion);
  int error = errno;
  m.interfaz_direccion = direccion;
  if (m.opciones.interfaz == nullptr) BuscarSostenida(m, indice);
  m.indice = indice;
  if (direccion != 0)
    inet_ntop(AF_INET, &direccion, m.nombre, sizeof m.nombre);
  else if (m.indice == 0 || if_indextoname(m.indice, m.nombre) == nullptr)
    m.nombre[0] = '\0';
  errno = error;
  return unida;
}

// The membership held can be found, for the renewal to leave it: joined by an address still of
// this host, on an interface asked for, or without one while the interfaces can be listed (a
// place not known yet is looked for again). Otherwise it is neither left nor told lost.
static bool Localizada(Membresia &m) {
  if (m.interfaz_direccion != 0) return DireccionPropia(m.interfaz_direccion);
  if (m.opciones.interfaz != nullptr) return true;
  unsigned indice;
  if (!BuscarSostenida(m, indice)) return false;
  if (m.indice == 0) m.indice = indice;
  return true;
}

// The group could be joined now: the interface asked for is there, or a route to the group, as
// a connect finds it.
static bool HayDondeUnirse(const Membresia &m) {
  unsigned indice;
  in_addr_t direccion;
  if (m.opciones.interfaz != nullptr)
    return BuscarInterfaz(m.direccion.ss_family, m.opciones.interfaz, indice, direccion);
  int sock = socket(m.direccion.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  const sockaddr *grupo = reinterpret_cast<const sockaddr *>(&m.direccion);
  bool hay = sock >= 0 && connect(sock, grupo, LargoDireccion(m.direccion)) == 0;
  if (sock >= 0) close(sock);
  return hay;
}

// What the network may still bring: the interface, its address, a route to the group.
static bool FaltaLaRed(int error) {
  return error == ENODEV || error == EADDRNOTAVAIL || error == ENETUNREACH ||
         error == EHOSTUNREACH || error == ENONET;
}

static void AbrirSocket(Membresia &m) {
  // a program run on a completed file must not inherit it
  m.sock = socket(m.direccion.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (m.sock < 0) DieWithError("1Error al crear  el socket()");
  // The default queue holds about a hundred datagrams, a millisecond at line rate; ask for
  // more. The kernel caps it at net.core.rmem_max, and a refusal leaves the default.
  int tamano_cola = kTamColaSocket;
  setsockopt(m.sock, SOL_SOCKET, SO_RCVBUF, &tamano_cola, sizeof tamano_cola);
  // Runs of datagrams from a sender that segments them on this host, or that the network card
  // merged, come as one message each; a kernel without it hands them over one by one. IPv6's
  // UDP takes the same option.
  int si = 1;
  setsockopt(m.sock, SOL_UDP, UDP_GRO, &si, sizeof si);
  // each receive then says how many datagrams the kernel dropped for lack of room
  setsockopt(m.sock, SOL_SOCKET, SO_RXQ_OVFL, &si, sizeof si);

  // Receivers of one group on one host share the port; a holder that does not share it
  // still makes the bind fail.
  setsockopt(m.sock, SOL_SOCKET, SO_REUSEADDR, &si, sizeof si);

  sockaddr_storage local = DireccionLocal(m.direccion);
  if (bind(m.sock, reinterpret_cast<sockaddr *>(&local), LargoDireccion(local)) < 0)
    DieWithError("2Error al crear  el socket()");
}

void AbrirMembresia(Membresia &m, const char *grupo, uint16_t puerto,
                    const OpcionesEntrada &opciones, FILE *avisos) {
  m.grupo = grupo;
  m.puerto = puerto;
  m.direccion = LeerGrupo(grupo, puerto);
  m.opciones = opciones;
  m.avisos = avisos;
  unsigned indice;
  in_addr_t direccion;
  if (opciones.interfaz != nullptr && !opciones.esperar_red &&
      !BuscarInterfaz(m.direccion.ss_family, opciones.interfaz, indice, direccion)) {
    fprintf(stderr, "%sInterfaz desconocida: %s\n", Prefijo(stderr, Prioridad::kError),
            opciones.interfaz);
    exit(kSalidaFatal);
  }
  AbrirSocket(m);
  m.revisado_ms = AhoraMs();
  m.unido = IntentarUnion(m);
  if (m.unido) return;
  if (!opciones.esperar_red || !FaltaLaRed(errno)) DieWithError("3Error al crear  el socket()");
  m.error = errno;
}

// Each line names the interface when there is one to name.
static void AvisarUnido(const Membresia &m) {
  fprintf(m.avisos, "%sUnido a %s, puerto %u%s%s.\n", Prefijo(m.avisos, Prioridad::kSuceso),
          m.grupo, m.puerto, m.nombre[0] ? ", en " : "", m.nombre);
}

static void AvisarEspera(const Membresia &m) {
  const char *interfaz = m.opciones.interfaz != nullptr ? m.opciones.interfaz : "";
  fprintf(m.avisos, "%sNo se puede unir al grupo %s%s%s todavia: %s; se intenta cada segundo.\n",
          Prefijo(m.avisos, Prioridad::kAviso), m.grupo, interfaz[0] ? " en " : "", interfaz,
          strerror(m.error));
}

static void AvisarPerdida(const Membresia &m, const char *nombre) {
  fprintf(m.avisos, "%sPerdida la union a %s%s%s.\n", Prefijo(m.avisos, Prioridad::kAviso), m.grupo,
          nombre[0] ? " en " : "", nombre);
}

void AvisarEsperaDeUnion(Membresia &m) {
  if (m.unido || m.avisado) return;
  AvisarEspera(m);
  m.avisado = true;
  fflush(m.avisos);
}

// Leaving and joining again also tells the network's switches again. The membership was lost
// when the socket no longer held it, when the interface is another one now, or when the join
// fails.
static void Renovar(Membresia &m) {
  char nombre[IF_NAMESIZE];
  // a membership that cannot be found is not known lost; a join now could land on another
  // interface and leave it there, held with nobody to leave it
  if (m.unido && !Localizada(m)) return;
  // while its interface lasts, a membership still brings datagrams: not left for a join that
  // would fail (a route gone for a while)
  if (m.unido && if_indextoname(m.indice, nombre) != nullptr && !HayDondeUnirse(m)) return;
  bool tenia = m.unido, sostenida = DejarElGrupo(m.sock, m.direccion, m.indice, m.interfaz_direccion);
  unsigned antes = m.indice;
  memcpy(nombre, m.nombre, sizeof nombre);
  m.unido = IntentarUnion(m);
  m.error = m.unido ? 0 : errno;
  bool perdida = tenia && (!m.unido || m.indice != antes || !sostenida);
  if (perdida) AvisarPerdida(m, nombre);
  if (m.unido && (perdida || !tenia)) AvisarUnido(m);
  if (!m.unido && !m.avisado) AvisarEspera(m);
  m.avisado = !m.unido;
}

void CuidarUnion(Membresia &m, int recibidos, int64_t ahora_ms) {
  if (recibidos > 0) {
    m.ultimo_datagrama_ms = ahora_ms;
    return;
  }
  int64_t plazo = m.unido ? kMsSinDatagramasParaRenovar : kMsEntreIntentosDeUnion;
  if (ahora_ms - std::max(m.revisado_ms, m.ultimo_datagrama_ms) < plazo) return;
  m.revisado_ms = ahora_ms;
  Renovar(m);
}
