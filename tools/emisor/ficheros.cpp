#include "ficheros.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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

// Two files of the same name would be taken by the receiver for parts of one.
static void ComprobarRepetidos(const std::vector<Fichero> &ficheros) {
  for (std::size_t i = 0; i < ficheros.size(); ++i)
    for (std::size_t j = 0; j < i; ++j)
      if (ficheros[i].nombre == ficheros[j].nombre)
        Rechazar("El nombre \"%s\" se repite en %s y %s\n", ficheros[i].nombre.c_str(),
                 ficheros[j].ruta, ficheros[i].ruta);
}

// Every file stays open for the run, so a set of thousands of files needs the hard limit.
static void SubirLimiteDeDescriptores() {
  rlimit limite;
  if (getrlimit(RLIMIT_NOFILE, &limite) != 0 || limite.rlim_cur == limite.rlim_max) return;
  limite.rlim_cur = limite.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limite);
}

// Parts are read at their offsets when they are sent: only a regular file has offsets and a
// size known in advance. O_NONBLOCK keeps a FIFO from holding the open until a writer comes.
static void AbrirFichero(Fichero &fichero, int tamparte) {
  fichero.fd = open(fichero.ruta, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fichero.fd < 0) Rechazar("Error al abrir el fichero %s: %s\n", fichero.ruta, strerror(errno));
  struct stat estado;
  if (fstat(fichero.fd, &estado) != 0)
    Rechazar("Error al leer el fichero %s: %s\n", fichero.ruta, strerror(errno));
  if (S_ISDIR(estado.st_mode))
    Rechazar("Error al leer el fichero %s: %s\n", fichero.ruta, strerror(EISDIR));
  if (!S_ISREG(estado.st_mode)) Rechazar("El fichero %s no es un fichero regular\n", fichero.ruta);
  fichero.tamano = static_cast<uint64_t>(estado.st_size);
  if (fichero.tamano > static_cast<uint64_t>(MAX_TROZOS) * tamparte)
    Rechazar("El fichero %s no cabe en %d partes de %d bytes\n", fichero.ruta, MAX_TROZOS,
             tamparte);
  // an empty file still goes as one part, so that the receivers create it
  uint64_t partes = (fichero.tamano + tamparte - 1) / tamparte;
  fichero.totpartes = static_cast<uint32_t>(std::max<uint64_t>(partes, 1));
}

std::vector<Fichero> AbrirFicheros(const Opciones &opciones) {
  std::vector<Fichero> ficheros(opciones.rutas.size());
  for (std::size_t i = 0; i < ficheros.size(); ++i) {
    Fichero &fichero = ficheros[i];
    fichero.ruta = opciones.rutas[i];
    fichero.nombre = opciones.nombre != nullptr ? opciones.nombre : NombreBase(fichero.ruta);
    ComprobarNombre(fichero);
  }
  ComprobarRepetidos(ficheros);
  SubirLimiteDeDescriptores();
  for (Fichero &fichero : ficheros) AbrirFichero(fichero, opciones.tamparte);
  return ficheros;
}

std::size_t LargoDeParte(const Fichero &fichero, int tamparte, uint32_t indice) {
  uint64_t desde = static_cast<uint64_t>(indice) * tamparte;
  return static_cast<std::size_t>(std::min<uint64_t>(tamparte, fichero.tamano - desde));
}

void LeerParte(const Fichero &fichero, int tamparte, uint32_t indice, unsigned char *destino) {
  std::size_t largo = LargoDeParte(fichero, tamparte, indice);
  off_t desde = static_cast<off_t>(indice) * tamparte;
  std::size_t leidos = 0;
  while (leidos < largo) {
    ssize_t n = pread(fichero.fd, destino + leidos, largo - leidos, desde + leidos);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Rechazar("Error al leer el fichero %s: %s\n", fichero.ruta, strerror(errno));
    // a part that would go short would be taken for the last one
    if (n == 0) Rechazar("El fichero %s ha encogido durante el envio\n", fichero.ruta);
    leidos += static_cast<std::size_t>(n);
  }
}
