// The state of a send, fields only: what the send and the handing of datagrams to the kernel
// share, and how a step of it ends.
#ifndef EMISOR_ESTADO_ENVIO_H
#define EMISOR_ESTADO_ENVIO_H

#include <cstdint>
#include <random>
#include <vector>

#include "progreso.h"
#include "ritmo.h"
#include "sorteo.h"

/// Most bytes of a run handed to the kernel in one call: a UDP datagram's limit.
inline constexpr int kTamMaxTanda = 65507;
/// Most datagrams of a run: what every kernel that segments takes.
inline constexpr int kMaxPartesTanda = 64;

/// State of the send, living for the whole run.
struct Envio {
  int sock = -1;                          // the sending socket
  unsigned char datagrama[kTamMaxTanda];  // rebuilt for every part, or run of parts
  int64_t inicio = 0;                     // ns on the monotonic clock when sending began
  Ritmo ritmo;                            // schedule of the datagrams
  Cuentas cuentas;                        // what was sent, not sent and left out
  Posicion posicion;                      // file, pass and repeat being sent
  Progreso progreso;                      // the line on the terminal
  std::mt19937_64 barajas;                // draws of the shuffles
  std::mt19937_64 perdidas;               // draws of --perdida, apart from the shuffles
  OrdenDeEnvio orden;                     // the order of the parts of the file being sent
  std::vector<int> fallos_de_red;         // errors said since the last datagram that left
  struct Firmante *firmante = nullptr;    // describes each file before its parts; nullptr: none
  struct Reparador *reparador = nullptr;  // repair rows after each file's parts; nullptr: none
};

/// How a run, or one step of it, ends.
enum class Fin {
  kCompleto,  // it went whole
  kDejado,    // within a carrusel: the file was left, said why, for its next send
  kSenal,     // a signal stopped it
  kError,     // an error ended it, said on standard error
};

#endif
