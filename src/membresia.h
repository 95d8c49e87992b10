// The receiver's socket and its membership of the group: opened once, and the join taken again
// when the network changes under it (an interface made again, a route that comes or goes).
#ifndef MEMBRESIA_H
#define MEMBRESIA_H

#include <net/if.h>
#include <netinet/in.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "direcciones.h"

/// No datagram for this long, and the membership is renewed: left and joined again.
inline constexpr int64_t kMsSinDatagramasParaRenovar = 5000;
/// A join that waits for the network is tried again this often.
inline constexpr int64_t kMsEntreIntentosDeUnion = 1000;

/// Where the group is joined and whose datagrams count, fixed for the run.
struct OpcionesEntrada {
  const char *interfaz = nullptr;         // a name, one of its IPv4 addresses (IPv4 group) or
                                          // its index (IPv6 group); nullptr: as routed
  std::vector<sockaddr_storage> fuentes;  // the only senders accepted, of the group's family;
                                          // empty: any
  bool esperar_red = false;               // a join that fails for want of the network is tried
                                          // again
};

/// The socket and the state of its membership, for the whole run.
struct Membresia {
  int sock = -1;                     // UDP socket bound to the port
  const char *grupo = "";            // the group as given, for the messages
  uint16_t puerto = 0;               // the port, for the messages
  sockaddr_storage direccion = {};   // the group's address and port, IPv4 or IPv6
  OpcionesEntrada opciones;          // where it is joined, and for which senders
  unsigned indice = 0;               // interface of the membership, held or half made; 0 none
                                     // or not known
  in_addr_t interfaz_direccion = 0;  // -i's address, joined with while the interfaces cannot be
                                     // listed (indice 0); 0 otherwise
  char nombre[IF_NAMESIZE] = "";     // its name, or that address; kept to name it once gone
  bool unido = false;                // the membership is held
  int error = 0;                     // why the last join failed, while it is not held
  bool avisado = false;              // that failure was told; told again only once joined
  int64_t revisado_ms = 0;           // last renewal or try, monotonic milliseconds
  int64_t ultimo_datagrama_ms = -1;  // when a datagram last came, monotonic ms; -1 none yet
  FILE *avisos = stderr;             // where its changes are told
};

/// Opens the UDP socket of the group's family (IPv6 for an IPv6 multicast address, IPv4 for any
/// other text), shared with other receivers of the port, with a large queue, merged runs and the
/// kernel's count of drops; binds it to the group (to every address of the family when the group
/// is not multicast, or is IPv6 of link or node scope) and joins it, on the interface and for
/// the senders asked for. A failure ends the process as it always has (an unknown interface
/// named, kSalidaFatal; any other step through DieWithError), but with esperar_red a join that
/// fails for want of the network (the interface, its address or a route missing) waits instead:
/// told by AvisarEsperaDeUnion, tried again by CuidarUnion. Changes of the membership are told on
/// avisos.
void AbrirMembresia(Membresia &membresia, const char *grupo, uint16_t puerto,
                    const OpcionesEntrada &opciones, FILE *avisos);

/// Tells a join that waits for the network, once, and writes avisos out: called once the log
/// has begun.
void AvisarEsperaDeUnion(Membresia &membresia);

/// At every wake-up of the loop, with the datagrams it took and the monotonic time: once none
/// has come for kMsSinDatagramasParaRenovar, leaves the group and joins it again on the
/// interface looked up again (by name or address, or by route), telling a membership found
/// lost; a join that fails is told once and tried every kMsEntreIntentosDeUnion until it holds,
/// which is told too. A membership whose interface cannot be found (the interfaces cannot be
/// listed) is neither left nor told lost. Never ends the process.
void CuidarUnion(Membresia &membresia, int recibidos, int64_t ahora_ms);

#endif
