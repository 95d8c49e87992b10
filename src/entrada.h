// Batched input: the datagrams of one receive from the membership's socket, where the kernel may
// hand over runs of datagrams merged in one buffer.
#ifndef ENTRADA_H
#define ENTRADA_H

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <cstdint>
#include <vector>

#include "formato.h"
#include "membresia.h"

/// Room for the largest datagram, the NUL stored after it, and padding: what a datagram shorter
/// than kTamVistaCabecera is read from, with what earlier ones left after it.
inline constexpr int kTamRanura = 1504;
/// Bytes of the buffer that the header and the dump read.
inline constexpr int kTamVistaCabecera = 50;
/// Room for one received message: a datagram, or a run of them that the kernel merged.
inline constexpr int kTamMensaje = 65536;
/// Messages taken by one receive.
inline constexpr int kTamLote = 64;

/// One received datagram, as the per-datagram pass sees it.
struct Paquete {
  const unsigned char *datos;  // the datagram; at least kTamVistaCabecera bytes readable
  int tampaquete;              // bytes received (at most kTamMaxPaquete)
  int legibles;                // bytes of datos that may be read
  bool truncado;               // the datagram was longer than kTamMaxPaquete and was cut
  const sockaddr_storage *origen = nullptr;  // its sender; nullptr when not known
};

/// A datagram of the batch where it lies: alone in its message, or one of a merged run.
struct Vista {
  const unsigned char *datos;      // its first byte
  int largo;                       // its bytes, at most kTamMaxPaquete
  bool truncado;                   // it was longer, and is cut to kTamMaxPaquete
  const sockaddr_storage *origen;  // its sender
};

/// The receiver socket and the buffers of one batch of datagrams.
struct Receptor {
  int sock = -1;        // the membership's socket
  int reloj = -1;       // timer of the wait while output waits to be shown
  int64_t armado = -1;  // when it is set to expire, monotonic ns; -1 not set
  unsigned char mensajes_datos[kTamLote][kTamMensaje];  // one buffer per message of the batch
  iovec vectores[kTamLote];                             // each buffer's receive area
  mmsghdr mensajes[kTamLote];                           // the batch handed to recvmmsg
  // each message's control data, where the kernel says a run's datagram size
  alignas(cmsghdr) unsigned char controles[kTamLote][64];
  int segmento[kTamLote] = {};  // size of each message's datagrams when merged; 0: one datagram
  sockaddr_storage origenes[kTamLote];    // each message's sender, of the group's family
  std::vector<sockaddr_storage> fuentes;  // the only senders accepted; empty: any
  uint32_t descartados = 0;               // datagrams the kernel dropped for lack of room, so far
  bool lleno = false;                     // the last receive filled the batch: more may be waiting
  int ultimos_mensajes = 0;               // messages it took, each a datagram or a merged run
  std::vector<Vista> vistas;              // the batch's datagrams, in order
  int copiados = 0;                       // first datagram of the batch not yet in paquete
  // What a single receive buffer would hold: every datagram in turn over what earlier ones
  // left. Short datagrams are read from here, so that they see those leftovers.
  unsigned char paquete[kTamRanura] = {};
};

/// Receives from the membership's socket, taking only the senders it was joined for: sets the
/// time-out of a plain wait to a second, makes the timer of a precise wait and prepares the
/// batch. Ends the process through DieWithError when a step fails.
void AbrirReceptor(Receptor &receptor, const Membresia &membresia);

/// Takes every datagram already waiting, up to a batch of messages; returns how many datagrams.
/// With esperar, first waits for one, up to a second; a signal or the end of that time returns
/// 0. Ends the process through DieWithError when the receive fails.
int RecibirLote(Receptor &receptor, bool esperar);

/// The same, waiting at most until momento (monotonic nanoseconds), measured precisely.
int RecibirAntesDe(Receptor &receptor, int64_t momento);

/// Splits the mensajes received into datagrams, each as if it had come alone, leaving out those
/// of senders not accepted; returns how many.
int SepararDatagramas(Receptor &receptor, int mensajes);

/// The i-th datagram of the current batch, taken in order.
Paquete PaqueteDelLote(Receptor &receptor, int i);

/// Ends the batch: its datagrams leave their bytes in paquete, as later short ones expect.
void TerminarLote(Receptor &receptor);

#endif
