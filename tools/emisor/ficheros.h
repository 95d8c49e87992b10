// The files to send: named and checked before the first datagram, then opened by name afresh
// for each send and read one part at a time as each part is sent, so that memory and open
// descriptors do not grow with their size or their number.
#ifndef EMISOR_FICHEROS_H
#define EMISOR_FICHEROS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "opciones.h"

/// Why a file cannot be sent as it is now.
struct Problema {
  enum Que : uint8_t {
    kNinguno,     // it can
    kAbrir,       // open failed, with error
    kLeer,        // fstat or a read failed, with error
    kNoRegular,   // no offsets nor a size known in advance
    kDemasiado,   // more parts than a header can number
    kTieneMas,    // says it is empty and has content, as those of /proc
    kTieneMenos,  // has less than its size, as those of /sys
    kEncogido,    // ended before the part that was read
  } que = kNinguno;
  int error = 0;  // errno of kAbrir and kLeer
  bool operator==(const Problema &) const = default;
};

/// One file of the set.
struct Fichero {
  const char *ruta = nullptr;  // path as given
  std::string nombre;          // name carried in the header
  int fd = -1;                 // while it is sent: read with pread, one part at a time
  uint64_t tamano = 0;         // bytes of this send: the size when it was opened
  uint32_t totpartes = 0;      // parts of this send, 1 at least
  Problema aviso;              // the problem said last, so that it is said once while it lasts
};

/// Names every file, as given or by its base name. Ends the sender on two files of one name or
/// on a name the receivers would refuse.
std::vector<Fichero> NombrarFicheros(const Opciones &opciones);

/// Checks every file named, opening them one at a time and closing each, before anything is
/// sent, so that a refusal never follows a partial send. Ends the sender on a file that could
/// not be sent as it is now. A file of more than MAX_TROZOS parts is told on standard error with
/// the --max-partes that receivers need for it.
void ComprobarFicheros(const Opciones &opciones, std::vector<Fichero> &ficheros);

/// Opens the file by its path, as it is now, and sizes it for one send. On a problem, leaves
/// it closed and returns the problem.
Problema AbrirFichero(Fichero &fichero, int tamparte);

/// Closes the file opened for a send.
void CerrarFichero(Fichero &fichero);

/// The line that says the problem, with its newline.
std::string DecirProblema(const Fichero &fichero, const Problema &problema, int tamparte);

/// Content bytes of the part indice, counted from 0.
std::size_t LargoDeParte(const Fichero &fichero, int tamparte, uint32_t indice);

/// Reads the part indice into destino. Returns kLeer when the file can no longer be read,
/// kEncogido when it has shrunk since it was opened.
Problema LeerParte(const Fichero &fichero, int tamparte, uint32_t indice, unsigned char *destino);

#endif
