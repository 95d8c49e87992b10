// The wire format: the header that starts every datagram, its sizes and limits, and the one
// encoder and decoder of it. The receiver, the sender, the tests and the benchmark all use these.
#ifndef FORMATO_H
#define FORMATO_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "nombres.h"

/// Size of the header at the start of every datagram; the content follows it.
inline constexpr int TamCabecera = 44;
/// Most parts a file may have, unless a receiver is told another limit (--max-partes).
inline constexpr int MAX_TROZOS = 50000;
/// Most parts a header can number: receivers read its counts as signed 32-bit numbers.
inline constexpr int32_t kMaxPartesCabecera = INT32_MAX;
/// Most bytes of one datagram; anything beyond is cut off by the receive.
inline constexpr int kTamMaxPaquete = 1500;
/// Most content bytes of one part, so that a datagram stays within kTamMaxPaquete.
inline constexpr int kTamMaxParte = kTamMaxPaquete - TamCabecera;
/// Size of the name field; a name that fills it has no NUL of its own.
inline constexpr int kTamCampoNombre = 32;
/// Longest name a sender writes, so that its NUL fits the field.
inline constexpr std::size_t kMaxNombre = kTamCampoNombre - 1;

/// Wire layout of the header; numbers are big-endian.
struct Cabecera {
  unsigned char tipo[2];         // type of the file, two opaque bytes
  unsigned char subtipo[2];      // subtype of the file, two opaque bytes
  unsigned char parte[4];        // number of the part carried, counted from 1
  unsigned char totpartes[4];    // number of parts of the whole file
  char nombre[kTamCampoNombre];  // name of the file, ended by a NUL (or by the datagram's end)
};
static_assert(sizeof(Cabecera) == TamCabecera);

/// The fields of a header, as a sender states them.
struct CamposCabecera {
  uint16_t tipo = 0;       // type, written big-endian
  uint16_t subtipo = 0;    // subtype, written big-endian
  uint32_t parte = 1;      // number of the part, counted from 1
  uint32_t totpartes = 1;  // parts of the whole file
  std::string_view
      nombre;  // at most kTamCampoNombre bytes are written; the rest of the field is NUL
};

/// Writes the TamCabecera bytes of the header at destino.
void CodificarCabecera(const CamposCabecera &campos, unsigned char *destino);

/// Values of the current datagram, rewritten by every datagram.
struct DatagramaActual {
  const Cabecera *miinfo2 = nullptr;  // the received bytes seen as a header
  char eltipo[5] = {};                // type as four lowercase hexadecimal digits
  char elsubtipo[5] = {};             // subtype, the same way
  int32_t parteactual = 0;            // index of the part, counted from 0
  int32_t totpartes = 0;              // parts of the whole file, as announced
  std::string_view nombre;            // the name: bytes from offset 12 up to the first NUL
  std::string elnombre;               // identity "tipo-subtipo-nombre", also the final file name
  uint64_t numero_de_identidad = 0;   // the number of elnombre, new with each identity decoded
  // the header's bytes elnombre was built from, type to name, when its name ended in its field
  unsigned char campos[TamCabecera] = {};
  bool en_campos = false;
};

/// Decodes the header at paquete, of which legibles bytes (TamCabecera at least) may be read,
/// into actual, with its identity. The name runs from its field up to the first NUL, or up to
/// the last readable byte.
void DecodificarCabecera(const unsigned char *paquete, std::size_t legibles,
                         DatagramaActual &actual);

/// The part index, counted from 0, of the header at paquete, as DecodificarCabecera reads it.
int32_t IndiceDeParte(const unsigned char *paquete);

/// Whether a name holds '/', which would place the file outside the receiving directory.
bool NombreConBarra(std::string_view nombre);

/// Whether a name holds a control byte (below 0x20, or 0x7f): receivers refuse such files.
bool NombreConControl(std::string_view nombre);

/// Whether a name, or an identity, ends in kSufijoTemporal: receivers refuse such files.
bool TerminaEnTemporal(std::string_view nombre);

/// Whether a text has the shape that DecodificarCabecera gives: the type and subtype in four
/// hexadecimal digits each, a dash after each, then the name.
bool TieneFormaDeIdentidad(std::string_view texto);

#endif
