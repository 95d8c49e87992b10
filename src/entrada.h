// Multicast input: the receiver socket and the batched receive.
#ifndef ENTRADA_H
#define ENTRADA_H

#include <sys/socket.h>
#include <sys/uio.h>

#include <cstdint>

#include "formato.h"

/// Room for the largest datagram, the NUL stored after it, and padding.
inline constexpr int kTamRanura = 1504;
/// Bytes of the buffer that the header and the dump read.
inline constexpr int kTamVistaCabecera = 50;

/// One received datagram, as the per-datagram pass sees it.
struct Paquete {
  const unsigned char *datos;  // the datagram; datos[tampaquete] is NUL, 50 bytes at least readable
  int tampaquete;              // bytes received (at most kTamMaxPaquete)
  int legibles;                // bytes of datos that may be read, the NUL and leftovers included
  bool truncado;               // the datagram was longer than kTamMaxPaquete and was cut
};

inline constexpr int kTamLote = 64;

/// The receiver socket and the buffers of one batch of datagrams.
struct Receptor {
  int sock = -1;                                // UDP socket bound to the port, joined to the group
  unsigned char ranuras[kTamLote][kTamRanura];  // one buffer per datagram of the batch
  iovec vectores[kTamLote];                     // each slot's receive area
  mmsghdr mensajes[kTamLote];                   // the batch handed to recvmmsg
  int recibidos = 0;                            // datagrams in the current batch
  int copiados = 0;                             // first datagram of the batch not yet in paquete
  long espera = 0;                              // the receive's time-out, microseconds; 0 none
  // What a single receive buffer would hold: every datagram in turn over what earlier ones
  // left. Short datagrams are read from here, so that they see those leftovers.
  unsigned char paquete[kTamRanura] = {};
};

/// Creates the UDP socket, shared with other receivers of the port, binds it to the group (to
/// every local address when the group is not a multicast address) and joins the group;
/// ends the process through DieWithError when a step fails.
void AbrirReceptor(Receptor &receptor, const char *grupo, uint16_t puerto);

/// Takes every datagram already waiting, up to a batch; returns how many. With esperar, first
/// waits for one, up to the time set by FijarEspera; a signal or the end of that time returns 0.
/// Ends the process through DieWithError when the receive fails.
int RecibirLote(Receptor &receptor, bool esperar);

/// How long a receive that waits may wait before it returns 0, in microseconds.
void FijarEspera(Receptor &receptor, long microsegundos);

/// The i-th datagram of the current batch, taken in order.
Paquete PaqueteDelLote(Receptor &receptor, int i);

/// Ends the batch: its datagrams leave their bytes in paquete, as later short ones expect.
void TerminarLote(Receptor &receptor);

#endif
