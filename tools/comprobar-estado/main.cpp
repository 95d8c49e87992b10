// comprobar-estado: reads a receiver's status file (client -e) and says, as a monitoring plugin,
// whether the receiver is healthy, in one line and its exit status, or in Prometheus' format.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "documento.h"
#include "juicio.h"
#include "memoria.h"
#include "opciones.h"
#include "presentar.h"
#include "reloj.h"

// Far more than a receiver with 1024 files in progress writes; a larger file is not its.
static constexpr std::size_t kBytesMaximos = 16 << 20;

// The file as one reading: its bytes and its modification time, of the same version however
// often the receiver replaces it meanwhile. errno tells why when it returns false.
static bool LeerFichero(const char *ruta, std::string &texto, int64_t &modificado_ms) {
  int fd = open(ruta, O_RDONLY | O_CLOEXEC);
  struct stat datos;
  if (fd < 0) return false;
  if (fstat(fd, &datos) != 0) return close(fd), false;
  modificado_ms =
      static_cast<int64_t>(datos.st_mtim.tv_sec) * 1000 + datos.st_mtim.tv_nsec / 1'000'000;
  char bloque[65536];
  ssize_t leidos;
  while ((leidos = read(fd, bloque, sizeof bloque)) > 0 && texto.size() <= kBytesMaximos)
    texto.append(bloque, leidos);
  int error = leidos < 0 ? errno : EFBIG;
  close(fd);
  errno = error;
  return leidos == 0;
}

static Juicio Sin(Gravedad gravedad, const std::string &texto) {
  Juicio juicio;
  juicio.gravedad = gravedad;
  juicio.texto = texto;
  return juicio;
}

// The file missing means that no receiver runs: it writes it as it starts, and the service's
// runtime directory goes with the receiver.
static Juicio Comprobar(const Opciones &opciones, Documento &documento) {
  std::string texto, error, ruta = opciones.fichero;
  Observacion observacion;
  observacion.silencio_maximo_s = opciones.silencio_s;
  if (!LeerFichero(opciones.fichero, texto, observacion.modificado_ms)) {
    if (errno == ENOENT)
      return Sin(kCritico,
                 "no existe el fichero de estado " + ruta + ": el receptor no esta en marcha");
    return Sin(kDesconocido, "no se puede leer " + ruta + ": " + strerror(errno));
  }
  if (!LeerDocumento(texto, documento, error))
    return Sin(kDesconocido, ruta + " no es un fichero de estado valido: " + error);
  if (opciones.memoria != nullptr) {
    observacion.descartados_antes = RecordarDescartes(opciones.memoria, documento, error);
    if (observacion.descartados_antes < 0) return Sin(kDesconocido, error);
  }
  observacion.ahora_ms = AhoraRealMs();
  return Juzgar(documento, observacion);
}

int main(int argc, char **argv) {
  Opciones opciones;
  LeerOpciones(argc, argv, opciones);
  Documento documento;
  Juicio juicio = Comprobar(opciones, documento);
  std::string salida = opciones.prometheus ? TextoPrometheus(juicio, documento, opciones.fichero)
                                           : LineaDePlugin(juicio, documento, opciones.silencio_s);
  bool escrita = fputs(salida.c_str(), stdout) >= 0 && fflush(stdout) == 0;
  if (!escrita) return kDesconocido;
  return opciones.prometheus ? kBien : juicio.gravedad;
}
