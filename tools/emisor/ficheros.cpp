#include "ficheros.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "fallo.h"

static std::string NombreBase(const char *ruta) {
  const char *barra = strrchr(ruta, '/');
  return barra != nullptr ? barra + 1 : ruta;
}

static void ComprobarNombre(const Fichero &fichero) {
  const std::string &nombre = fichero.nombre;
  if (nombre.empty()) Rechazar("El nombre de %s esta vacio\n", fichero.ruta);
  // the receivers' own rule: a file they would refuse is never sent
  if (NombreConBarra(nombre)) Rechazar("El nombre \"%s\" contiene '/'\n", nombre.c_str());
  if (TerminaEnTemporal(nombre))
    Rechazar("El nombre \"%s\" termina en '%s', que los receptores rechazan\n", nombre.c_str(),
             std::string(kSufijoTemporal).c_str());
  if (nombre.size() > kMaxNombre)
    Rechazar("El nombre \"%s\" tiene %zu bytes; el maximo es %zu\n", nombre.c_str(), nombre.size(),
             kMaxNombre);
}

// Two files of the same name would be taken by the receiver for parts of one. Each name is
// looked up once, so that a hundred thousand files cost no more than a hundred thousand looks.
static void ComprobarRepetidos(const std::vector<Fichero> &ficheros) {
  std::unordered_map<std::string_view, const Fichero *> vistos;
  vistos.reserve(ficheros.size());
  for (const Fichero &fichero : ficheros) {
    auto [primero, nuevo] = vistos.emplace(fichero.nombre, &fichero);
    if (!nuevo)
      Rechazar("El nombre \"%s\" se repite en %s y %s\n", fichero.nombre.c_str(),
               primero->second->ruta, fichero.ruta);
  }
}

// A file of a pseudo file system states a size that its content does not have: /proc says 0
// bytes, /sys 4096. One byte read at the end tells; a file that grows past its size is not
// refused, as a log that is written to meanwhile is sent as it was when it was opened.
static Problema ComprobarContenido(const Fichero &fichero) {
  unsigned char byte;
  off_t ultimo = fichero.tamano > 0 ? static_cast<off_t>(fichero.tamano - 1) : 0;
  ssize_t n;
  do n = pread(fichero.fd, &byte, 1, ultimo);
  while (n < 0 && errno == EINTR);
  if (n < 0) return {Problema::kLeer, errno};
  if (fichero.tamano == 0 && n > 0) return {Problema::kTieneMas, 0};
  if (fichero.tamano > 0 && n == 0) return {Problema::kTieneMenos, 0};
  return {};
}

// Parts are read at their offsets when they are sent: only a regular file has offsets and a
// size known in advance. O_NONBLOCK keeps a FIFO from holding the open until a writer comes.
static Problema MedirFichero(Fichero &fichero, int tamparte) {
  struct stat estado;
  if (fstat(fichero.fd, &estado) != 0) return {Problema::kLeer, errno};
  if (S_ISDIR(estado.st_mode)) return {Problema::kLeer, EISDIR};
  if (!S_ISREG(estado.st_mode)) return {Problema::kNoRegular, 0};
  fichero.tamano = static_cast<uint64_t>(estado.st_size);
  if (fichero.tamano > static_cast<uint64_t>(kMaxPartesCabecera) * tamparte)
    return {Problema::kDemasiado, 0};
  // an empty file still goes as one part, so that the receivers create it
  uint64_t partes = (fichero.tamano + tamparte - 1) / tamparte;
  fichero.totpartes = static_cast<uint32_t>(std::max<uint64_t>(partes, 1));
  return ComprobarContenido(fichero);
}

Problema AbrirFichero(Fichero &fichero, int tamparte) {
  fichero.fd = open(fichero.ruta, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fichero.fd < 0) return {Problema::kAbrir, errno};
  Problema problema = MedirFichero(fichero, tamparte);
  if (problema.que != Problema::kNinguno) CerrarFichero(fichero);
  return problema;
}

void CerrarFichero(Fichero &fichero) {
  if (fichero.fd >= 0) close(fichero.fd);
  fichero.fd = -1;
}

std::string DecirProblema(const Fichero &fichero, const Problema &problema, int tamparte) {
  std::string fichero_texto = std::string("El fichero ") + fichero.ruta;
  std::string bytes = std::to_string(fichero.tamano);
  switch (problema.que) {
    case Problema::kNinguno:
      return "";
    case Problema::kAbrir:
      return std::string("Error al abrir el fichero ") + fichero.ruta + ": " +
             strerror(problema.error) + "\n";
    case Problema::kLeer:
      return std::string("Error al leer el fichero ") + fichero.ruta + ": " +
             strerror(problema.error) + "\n";
    case Problema::kNoRegular:
      return fichero_texto + " no es un fichero regular\n";
    case Problema::kDemasiado:
      return fichero_texto + " no cabe en " + std::to_string(kMaxPartesCabecera) + " partes de " +
             std::to_string(tamparte) + " bytes\n";
    case Problema::kTieneMas:
      return fichero_texto + " dice tener " + bytes + " bytes, pero tiene mas\n";
    case Problema::kTieneMenos:
      return fichero_texto + " dice tener " + bytes + " bytes, pero tiene menos\n";
    case Problema::kEncogido:
      return fichero_texto + " ha encogido durante el envio\n";
  }
  return "";
}

std::vector<Fichero> NombrarFicheros(const Opciones &opciones) {
  std::vector<Fichero> ficheros(opciones.rutas.size());
  for (std::size_t i = 0; i < ficheros.size(); ++i) {
    Fichero &fichero = ficheros[i];
    fichero.ruta = opciones.rutas[i];
    fichero.nombre = opciones.nombre != nullptr ? opciones.nombre : NombreBase(fichero.ruta);
    ComprobarNombre(fichero);
  }
  ComprobarRepetidos(ficheros);
  return ficheros;
}

void ComprobarFicheros(const Opciones &opciones, std::vector<Fichero> &ficheros) {
  for (Fichero &fichero : ficheros) {
    Problema problema = AbrirFichero(fichero, opciones.tamparte);
    if (problema.que != Problema::kNinguno)
      Rechazar("%s", DecirProblema(fichero, problema, opciones.tamparte).c_str());
    CerrarFichero(fichero);
    // a receiver without it ends, or refuses every part, at the first datagram
    if (fichero.totpartes > static_cast<uint32_t>(MAX_TROZOS))
      fprintf(
          stderr,
          "El fichero %s tiene %u partes, mas de %d: los receptores necesitan --max-partes %u\n",
          fichero.ruta, fichero.totpartes, MAX_TROZOS, fichero.totpartes);
  }
}

std::size_t LargoDeParte(const Fichero &fichero, int tamparte, uint32_t indice) {
  uint64_t desde = static_cast<uint64_t>(indice) * tamparte;
  return static_cast<std::size_t>(std::min<uint64_t>(tamparte, fichero.tamano - desde));
}

Problema LeerParte(const Fichero &fichero, int tamparte, uint32_t indice, unsigned char *destino) {
  std::size_t largo = LargoDeParte(fichero, tamparte, indice);
  off_t desde = static_cast<off_t>(indice) * tamparte;
  std::size_t leidos = 0;
  while (leidos < largo) {
    ssize_t n = pread(fichero.fd, destino + leidos, largo - leidos, desde + leidos);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return {Problema::kLeer, errno};
    // a part that would go short would be taken for the last one
    if (n == 0) return {Problema::kEncogido, 0};
    leidos += static_cast<std::size_t>(n);
  }
  return {};
}
