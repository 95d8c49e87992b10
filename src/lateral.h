// The side channel's wire format: datagrams sent beside the data, on the same group and another
// port (the data port + 1 by default), each starting with a type byte. A description binds a
// file's identity, layout and the digest of every part under the sender's signature, cut into
// datagrams that are each checked alone, so that a receiver that misses some still checks the
// parts whose digests it got. The receiver, the sender, the tests and the benchmark use these.
#ifndef LATERAL_H
#define LATERAL_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "formato.h"
#include "resumen.h"

/// The side channel's port is the data port plus this, unless another is asked for.
inline constexpr int kDesplazamientoLateral = 1;

/// The first byte of every side-channel datagram: what follows it.
enum TipoLateral : uint8_t {
  kLateralDescripcion = 1,  // a signed run of a file's part digests
  kLateralReparacion = 2,   // a repair row of a block of a file's parts
};

/// Most parts a description describes: their digests take 64 MiB of the receiver's table (a
/// file of 6 GB in parts of 1428 bytes).
inline constexpr int32_t kMaxPartesDescritas = 1 << 22;
/// Bytes of an Ed25519 signature, of a public key, of a secret key's seed.
inline constexpr int kTamFirma = 64;
inline constexpr int kTamClavePublica = 32;
inline constexpr int kTamSemilla = 32;
/// Bytes of a key's id: the first of its public key, so that a receiver with many keys tries one.
inline constexpr int kTamIdClave = 8;
/// Most bytes of a side-channel datagram a sender writes: whole in one IPv6 packet on Ethernet.
inline constexpr int kTamMaxLateral = 1452;
/// Bytes of a description datagram besides its name and digests, signature included.
inline constexpr int kTamFijoDescripcion =
    1 + kTamIdClave + 2 + 2 + 1 + 4 + 4 + 8 + 8 + 4 + 2 + kTamFirma;

/// What a description says of its file; the same in every datagram of one send.
struct FicheroDescrito {
  uint16_t tipo = 0;  // as the data datagrams carry it
  uint16_t subtipo = 0;
  std::string_view nombre;  // at most kMaxNombre bytes
  int32_t totpartes = 0;    // 1 to MAX_TROZOS
  int32_t tamparte = 0;     // content bytes of every part but the last, 1 to kTamMaxParte
  int64_t largo = 0;        // the file's bytes: what the count and part size leave for the last
  uint64_t sello = 0;       // the sender's version of the file: grows when its content changes
};

/// One description datagram as decoded: the file, its range of digests, what is signed.
struct Descripcion {
  unsigned char id_clave[kTamIdClave];
  FicheroDescrito fichero;                   // nombre points into the datagram
  int32_t primera = 0;                       // index of the first part whose digest it carries
  int32_t cuantos = 0;                       // digests it carries, 1 at least
  const unsigned char *resumenes = nullptr;  // cuantos * kTamResumen bytes, in the datagram
  const unsigned char *firmado = nullptr;    // the signed bytes: all before the signature
  std::size_t largo_firmado = 0;
  const unsigned char *firma = nullptr;  // kTamFirma bytes
};

/// Readies libsodium; before any other routine here. Ends the process when it cannot.
void PrepararLateral();

/// Digests that one datagram of a file of that name carries at most.
int ResumenesPorDatagrama(std::size_t largo_nombre);

/// What the side channel's two codecs share: numbers, big-endian as in the data datagrams, put
/// at p or taken from it, p moved past them; a file as both kinds of datagram name it (type,
/// subtype, the name after its length, then its layout), put, or taken: false for a name that a
/// data datagram cannot end within its field, or a layout no file has.
void PonerNumero(unsigned char *&p, uint64_t valor, int bytes);
uint64_t TomarNumero(const unsigned char *&p, int bytes);
void PonerFichero(unsigned char *&p, const FicheroDescrito &f);
bool TomarNombre(const unsigned char *&p, const unsigned char *fin, FicheroDescrito &f);
bool TomarDisposicion(const unsigned char *&p, FicheroDescrito &f);

/// Whether a count, part size and length can be one file's: every part but the last full, the
/// last 1 byte to a part (0 only for an empty file of one part).
bool DisposicionPosible(int32_t totpartes, int32_t tamparte, int64_t largo);

/// Writes at destino (kTamMaxLateral bytes of room) the datagram that describes the parts
/// primera to primera + cuantos - 1 (within ResumenesPorDatagrama), whose digests start at
/// resumenes, signed with the secret key (libsodium's 64 bytes); returns its length.
std::size_t CodificarDescripcion(const FicheroDescrito &fichero, int32_t primera, int32_t cuantos,
                                 const unsigned char *resumenes, const unsigned char *secreta,
                                 unsigned char *destino);

/// Decodes the largo bytes at datos as a description; false when they are none, or one no
/// sender writes (a name too long or with a NUL, an impossible layout, a range outside the
/// file, bytes left over or missing). Reads no byte past largo. Checks no signature.
bool DecodificarDescripcion(const unsigned char *datos, std::size_t largo, Descripcion &d);

/// Whether the description is signed by that public key.
bool FirmaValida(const Descripcion &d, const unsigned char *publica);

/// The identity that the data datagrams of that file give, as DecodificarCabecera builds it.
std::string IdentidadDescrita(const FicheroDescrito &fichero);

#endif
