// Repairs (--reparar, mode 2): the repair datagrams of the side channel, kept per block while the
// block's file in progress lacks some of its parts, and, once a block has as many datagrams as
// parts, its missing parts rebuilt and handed to the store as data datagrams of their sender, so
// that they pass every check a received part passes.
#ifndef REPARAR_H
#define REPARAR_H

#include <sys/socket.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "borrado.h"
#include "entrada.h"
#include "ficheros.h"
#include "formato.h"

/// Blocks kept at once, and repair rows in all (about 6 MB): past either, the oldest block goes.
inline constexpr std::size_t kMaxBloquesEnEspera = 64;
inline constexpr int kMaxFilasEnEspera = 4096;

/// A block whose file lacks parts, with the repair rows of it that came.
struct BloqueEnEspera {
  std::string identidad;           // its file's
  sockaddr_storage origen{};       // the sender of its rows
  uint16_t tipo = 0, subtipo = 0;  // its file's header fields
  std::string nombre;
  Disposicion disposicion;  // its file's layout, as its rows say it
  Codigo codigo;
  int32_t bloque = 0;
  std::vector<int> filas;                         // the rows at hand, each once
  std::vector<std::vector<unsigned char>> bytes;  // and their bytes, a part size each
};

/// State of the repairs, living for the whole run.
struct Reparaciones {
  std::vector<BloqueEnEspera> bloques;  // the oldest first
  int filas = 0;                        // rows kept in all of them
  CodigoBorrado codigo;                 // the code last used, made again for another one
  std::vector<unsigned char> memoria;   // a block's parts and the rows rebuilt, while rebuilding
  DatagramaActual actual;               // each rebuilt part's header, decoded as the loop's are
  unsigned char paquete[kTamRanura];    // a rebuilt part's datagram, a NUL after it
  int64_t repasado_ms = 0;              // when the blocks were last looked at again
  bool nuevas = false;                  // rows came since the blocks were last looked at
};

/// Takes one repair datagram of origen into its block: one that is none, or of a file not in
/// progress or of another layout than its file's, is left.
void TomarReparacion(Reparaciones &reparaciones, AlmacenFicheros &almacen,
                     const unsigned char *datos, std::size_t largo, const sockaddr_storage *origen);

/// Rebuilds each block kept that has rows enough and hands its parts to the store through
/// AlmacenarParte, each told as repaired where a received one would be told; after the data
/// that came with the rows, so that parts on their way are not rebuilt.
void IntentarReparaciones(Reparaciones &reparaciones, AlmacenFicheros &almacen, FILE *salida);

/// Every 100 ms at most, looks at each block kept again: parts that came since may complete it,
/// and a block whose file is gone or whole is dropped.
void RepasarReparaciones(Reparaciones &reparaciones, AlmacenFicheros &almacen, int64_t ahora_ms,
                         FILE *salida);

#endif
