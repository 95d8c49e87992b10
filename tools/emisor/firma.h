// Signing: the keys that --generar-claves makes, and with --firmar a signed description of each
// file, sent on the side channel before each send of its parts (lateral.h).
#ifndef EMISOR_FIRMA_H
#define EMISOR_FIRMA_H

#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "claves.h"
#include "estado_envio.h"
#include "ficheros.h"
#include "opciones.h"

/// What a file was when it was last described, so that its version moves only when it changes.
struct VersionFirmada {
  unsigned char huella[kTamResumen];  // digest of its layout and part digests
  uint64_t sello = 0;                 // the version they were sent under
};

/// The signer of a run.
struct Firmante {
  ClaveSecreta secreta;                  // the key of --firmar
  sockaddr_storage destino = {};         // the group and the side channel's port
  std::vector<unsigned char> resumenes;  // the part digests of the file being described
  std::unordered_map<std::string, VersionFirmada> versiones;  // by the file's path
  unsigned char datagrama[kTamMaxLateral];
};

/// Writes BASE.clave and BASE.pub (claves.h), says so on standard output and ends with
/// kSalidaBien; names the problem and ends with kSalidaError when it cannot.
[[noreturn]] void GenerarClavesYSalir(const char *base);

/// Reads the key of --firmar and sets where descriptions go; ends the sender, the problem
/// named, when the key cannot be read or a file has more parts than a description describes.
void PrepararFirmante(Firmante &firmante, const Opciones &opciones,
                      const std::vector<Fichero> &ficheros);

/// Reads the opened file's parts and digests them, moving its version when they changed since
/// its last description; returns the file's problem when it cannot be read.
Problema ResumirFichero(Firmante &firmante, const Opciones &opciones, const Fichero &fichero);

/// Sends the file's description, as many datagrams as it takes, each in its turn of the pace.
/// Returns kSenal when a signal asks to stop, kCompleto otherwise: a datagram the network does
/// not take goes again with the next send of the file.
Fin MandarDescripcion(Envio &envio, Firmante &firmante, const Opciones &opciones,
                      const Fichero &fichero);

#endif
