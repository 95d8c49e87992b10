// The sender's command line: what it asks for, read once and fixed for the run.
#ifndef EMISOR_OPCIONES_H
#define EMISOR_OPCIONES_H

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <vector>

#include "formato.h"

// An Ethernet frame holds an IP packet of 1500 bytes: after the IP header (20 bytes, IPv6's 40)
// and the UDP header (8 bytes), a datagram of 1472 bytes (IPv6: 1452) goes whole, without
// fragments.
inline constexpr int kMtuEthernet = 1500;
inline constexpr int kTamSinFragmentar = kMtuEthernet - 20 - 8;
inline constexpr int kTamSinFragmentarIpv6 = kMtuEthernet - 40 - 8;
inline constexpr int kTamParteSinFragmentar = kTamSinFragmentar - TamCabecera;
inline constexpr int kTamParteSinFragmentarIpv6 = kTamSinFragmentarIpv6 - TamCabecera;

enum class Orden { kDirecto, kInverso, kAleatorio };

/// What the command line asks for.
struct Opciones {
  uint16_t tipo = 0x0001;                 // type, sent as given
  uint16_t subtipo = 0x0002;              // subtype, sent as given
  const char *nombre = nullptr;           // name for the only file; nullptr: each base name
  int tamparte = 0;                       // content bytes of every part but the last; 0 until
                                          // the group's family sets the default
  bool tamparte_dada = false;             // -p was given, so --fec leaves it as it is
  int ttl = 1;                            // multicast time-to-live
  const char *interfaz = nullptr;         // -i as given, an address or a name; nullptr: the route's
  ip_mreqn interfaz_elegida = {};         // the outgoing interface, by its address or its index
  double ritmo = 100e6;                   // limit per second; 0: no limit
  bool ritmo_en_bits = true;              // ritmo counts bits of datagram, otherwise datagrams
  long long vueltas = 1;                  // passes over the file set
  long long repeticiones = 1;             // sends of each file in a row within a pass
  bool carrusel = false;                  // passes go on until SIGINT or SIGTERM
  Orden orden = Orden::kDirecto;          // order of a file's parts within a send
  bool con_semilla = false;               // semilla was given: shuffles and losses repeat
  uint64_t semilla = 0;                   // seed of the shuffles and of the loss draws
  double perdida = 0;                     // share of datagrams left out on purpose
  bool con_perdida = false;               // perdida was given, so the summary counts them
  bool gso = false;                       // runs of parts go to the kernel in one call each
  sockaddr_storage destino = {};          // group and port, IPv4 or IPv6
  const char *firma = nullptr;            // secret key that signs descriptions; nullptr: none
  uint16_t puerto_lateral = 0;            // the side channel's port; 0 until the data port's
  int fec_k = 0, fec_m = 0;               // --fec: M repair rows per block of K parts; 0: none
  std::vector<const char *> rutas;        // files, in the order given
};

/// Reads the command line into opciones. Shows the help or the version and exits 0 on --help
/// or --version; on a wrong option or argument (an interface name that names none), names it,
/// points to --help and exits with kSalidaError.
void LeerOpciones(int argc, char **argv, Opciones &opciones);

#endif
