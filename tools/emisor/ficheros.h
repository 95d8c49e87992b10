// The files to send: named and sized before the first datagram, read one part at a time as
// each part is sent, so that memory does not grow with their size or their number.
#ifndef EMISOR_FICHEROS_H
#define EMISOR_FICHEROS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "opciones.h"

/// One file, open for the whole run.
struct Fichero {
  const char *ruta = nullptr;  // path as given
  std::string nombre;          // name carried in the header
  int fd = -1;                 // read with pread, one part at a time
  uint64_t tamano = 0;         // bytes sent: the size when it was opened
  uint32_t totpartes = 0;      // parts it goes in, 1 at least
};

/// Names, opens and sizes every file. All of it happens before anything is sent, so that a
/// refusal never follows a partial send. Ends the sender on a name the receivers could not
/// take, a file that cannot be read or is not a regular file, or one of too many parts.
std::vector<Fichero> AbrirFicheros(const Opciones &opciones);

/// Content bytes of the part indice, counted from 0.
std::size_t LargoDeParte(const Fichero &fichero, int tamparte, uint32_t indice);

/// Reads the part indice into destino. Ends the sender when the file can no longer be read or
/// has shrunk since it was opened.
void LeerParte(const Fichero &fichero, int tamparte, uint32_t indice, unsigned char *destino);

#endif
