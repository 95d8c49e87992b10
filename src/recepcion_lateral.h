// The side channel at the receiver: its own socket on the group (the data port + 1 by default),
// joined as the data's, and each datagram checked as it comes: a description signed by a
// trusted key enters the table of digests, any other is refused with a line.
#ifndef RECEPCION_LATERAL_H
#define RECEPCION_LATERAL_H

#include <sys/socket.h>
#include <sys/uio.h>

#include <cstdint>
#include <cstdio>

#include "firmas.h"
#include "formato.h"
#include "membresia.h"

struct AlmacenFicheros;

/// Datagrams taken by one receive, receives at most per wake-up of the loop, and the time after
/// which a wake-up takes no more: each datagram of a description costs a signature (some 85 us
/// here), and the data's queue, which fills meanwhile, must not overflow (a description of 600
/// datagrams checked at once held back 50 ms of parts). Checked a few at a time between the
/// data's batches, the descriptions still keep ahead of the runs of parts that follow them.
inline constexpr int kLoteLateral = 4;
inline constexpr int kLotesLateralesPorVuelta = 64;
inline constexpr int64_t kTiempoLateralNs = 200'000;
/// Signatures checked at most each second (some 60 us each): a flood of descriptions forged
/// under a trusted key's id cannot take the receiver's time; past it they are left unread, and
/// the genuine ones among them come again with the next pass.
inline constexpr int kMaxFirmasPorSegundo = 2000;

/// The side channel's socket and the buffers of one receive.
struct CanalLateral {
  bool activo = false;                                    // joined: keys were given
  Membresia membresia;                                    // its socket and membership
  unsigned char datos[kLoteLateral][kTamMaxPaquete + 1];  // one datagram each, one byte more
                                                          // to tell one too long
  iovec vectores[kLoteLateral];
  mmsghdr mensajes[kLoteLateral];
  sockaddr_storage origenes[kLoteLateral];  // each datagram's sender
  int64_t segundo = -1;                     // the second whose signatures are counted, monotonic
  int firmas = 0;                           // signatures checked in it
  struct Reparaciones *reparaciones = nullptr;  // takes repair datagrams; nullptr: left alone
};

/// Opens and joins the side channel for the group on that port, on the interface and for the
/// senders of the data's options, as AbrirMembresia does (ending the process as it does), each
/// datagram received alone.
void AbrirCanalLateral(CanalLateral &canal, const char *grupo, uint16_t puerto,
                       const OpcionesEntrada &opciones, FILE *avisos);

/// Takes the side-channel datagrams already waiting, up to kLotesLateralesPorVuelta receives
/// and no more once kTiempoLateralNs have passed:
/// a description signed by a key of the table enters it ("<identidad>: Descripcion firmada de
/// N partes." for a version not known before); one signed otherwise, or that is no
/// description, is refused with a line at warning naming its sender, within the quiet log's
/// budget, and counted in the table; without keys, descriptions are left alone. Repair datagrams
/// go to canal.reparaciones when set. Datagrams of other types are left alone. Returns how many
/// datagrams it took. Ends the process through DieWithError when the receive fails.
int AtenderCanalLateral(CanalLateral &canal, TablaDeFirmas &tabla, AlmacenFicheros &almacen,
                        FILE *salida);

#endif
