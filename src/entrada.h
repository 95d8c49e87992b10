// Multicast input: the receiver socket, the batched receive and the datagram header.
#ifndef ENTRADA_H
#define ENTRADA_H

#include <sys/socket.h>
#include <sys/uio.h>

#include <cstdint>
#include <string>
#include <string_view>

/// Size of the header at the start of every datagram; the content follows it.
inline constexpr int TamCabecera = 44;
/// Most parts a file may have; sizes the received-part flags.
inline constexpr int MAX_TROZOS = 50000;
/// Most bytes taken from one datagram; anything beyond is cut off by the receive.
inline constexpr int kTamMaxPaquete = 1500;
/// Room for the largest datagram, the NUL stored after it, and padding.
inline constexpr int kTamRanura = 1504;
/// Bytes of the buffer that the header and the dump read.
inline constexpr int kTamVistaCabecera = 50;

/// Wire layout of the header; numbers are big-endian.
struct Cabecera {
  unsigned char tipo[2];       // type of the file, two opaque bytes
  unsigned char subtipo[2];    // subtype of the file, two opaque bytes
  unsigned char parte[4];      // number of the part carried, counted from 1
  unsigned char totpartes[4];  // number of parts of the whole file
  char nombre[32];             // name of the file, ended by a NUL (or by the datagram's end)
};
static_assert(sizeof(Cabecera) == TamCabecera);

/// One received datagram, as the per-datagram pass sees it.
struct Paquete {
  const unsigned char *datos;  // the datagram; datos[tampaquete] is NUL, 50 bytes at least readable
  int tampaquete;              // bytes received (at most kTamMaxPaquete)
  bool truncado;               // the datagram was longer than kTamMaxPaquete and was cut
};

/// Values of the current datagram, rewritten by every datagram.
struct DatagramaActual {
  const Cabecera *miinfo2 = nullptr;  // the received bytes seen as a header
  char eltipo[5] = {};                // type as four lowercase hexadecimal digits
  char elsubtipo[5] = {};             // subtype, the same way
  int32_t parteactual = 0;            // index of the part, counted from 0
  int32_t totpartes = 0;              // parts of the whole file, as announced
  std::string_view nombre;            // the name: bytes from offset 12 up to the first NUL
  std::string elnombre;               // identity "tipo-subtipo-nombre", also the final file name
};

/// Decodes the header at paquete (NUL-terminated after the received bytes) into actual;
/// the identity is left for ConstruirIdentidad.
void DecodificarCabecera(const unsigned char *paquete, DatagramaActual &actual);

/// Builds actual.elnombre from the decoded type, subtype and name.
void ConstruirIdentidad(DatagramaActual &actual);

inline constexpr int kTamLote = 64;

/// The receiver socket and the buffers of one batch of datagrams.
struct Receptor {
  int sock = -1;                                // UDP socket bound to the port, joined to the group
  unsigned char ranuras[kTamLote][kTamRanura];  // one buffer per datagram of the batch
  iovec vectores[kTamLote];                     // each slot's receive area
  mmsghdr mensajes[kTamLote];                   // the batch handed to recvmmsg
  int recibidos = 0;                            // datagrams in the current batch
  int copiados = 0;                             // first datagram of the batch not yet in paquete
  // What a single receive buffer would hold: every datagram in turn over what earlier ones
  // left. Short datagrams are read from here, so that they see those leftovers.
  unsigned char paquete[kTamRanura] = {};
};

/// Creates the UDP socket, binds it to the port on every local address and joins the group;
/// ends the process through DieWithError when a step fails.
void AbrirReceptor(Receptor &receptor, const char *grupo, uint16_t puerto);

/// Takes every datagram already waiting, up to a batch, without blocking; returns how many.
/// Ends the process through DieWithError when the receive fails.
int RecibirLote(Receptor &receptor);

/// The i-th datagram of the current batch, taken in order.
Paquete PaqueteDelLote(Receptor &receptor, int i);

/// Ends the batch: its datagrams leave their bytes in paquete, as later short ones expect.
void TerminarLote(Receptor &receptor);

/// Waits without end for a datagram, or for aviso (a descriptor, -1 for none) to be readable;
/// returns whether aviso is.
bool EsperarDatagrama(const Receptor &receptor, int aviso);

#endif
