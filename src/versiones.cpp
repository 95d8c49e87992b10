#include "versiones.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "en_curso.h"
#include "registro.h"
#include "salida.h"

/// Stored identities whose leftovers were removed, remembered so that each is removed once.
static constexpr std::size_t kMaxLimpiados = 64;
/// Stored identities named on the quiet log, remembered so that each is named once a run.
static constexpr std::size_t kMaxDichos = 65536;

static void CerrarSondeos(AlmacenFicheros &almacen) {
  for (Sondeo &sondeo : almacen.sondeos)
    if (sondeo.fd >= 0) close(sondeo.fd);
  almacen.sondeos.clear();
}

void EmpezarLote(AlmacenFicheros &almacen) {
  almacen.en_lote = true;
  CerrarSondeos(almacen);
}

static Sondeo *SondeoDelLote(AlmacenFicheros &almacen, const std::string &nombre) {
  for (auto it = almacen.sondeos.rbegin(); it != almacen.sondeos.rend(); ++it)
    if (it->identidad == nombre) return &*it;
  return nullptr;
}

// A stored file needs no temporary file nor record: an earlier run that ended between the
// rename and the record's removal, or a file that came by other means, leaves them.
static void LimpiarRestos(AlmacenFicheros &almacen, const std::string &identidad) {
  std::vector<std::string> &limpiados = almacen.limpiados;
  if (Buscar(almacen, identidad) >= 0 ||
      std::find(limpiados.begin(), limpiados.end(), identidad) != limpiados.end())
    return;
  std::string temporal = identidad + std::string(kSufijoTemporal);
  // with new versions taken, a temporary file with its record is a new version that an earlier
  // run left in progress: it resumes when that version comes again
  if (almacen.opciones.actualizar && access(temporal.c_str(), F_OK) == 0 &&
      access(NombreRegistro(identidad).c_str(), F_OK) == 0)
    return;
  unlink(temporal.c_str());
  BorrarRegistro(identidad);
  if (limpiados.size() == kMaxLimpiados) limpiados.erase(limpiados.begin());
  limpiados.push_back(identidad);
}

// The final name counts as stored when it can be read; asked without opening it, so that a
// FIFO of that name cannot block the receiver. The datagrams of a file mostly come together.
bool YaGrabado(AlmacenFicheros &almacen, const std::string &nombre) {
  if (almacen.en_lote)
    if (Sondeo *sondeo = SondeoDelLote(almacen, nombre)) return sondeo->grabado;
  bool grabado = access(nombre.c_str(), R_OK) == 0;
  if (almacen.en_lote) almacen.sondeos.push_back({nombre, grabado});
  if (grabado) LimpiarRestos(almacen, nombre);
  return grabado;
}

void AnotarGrabado(AlmacenFicheros &almacen, const std::string &nombre) {
  if (Sondeo *sondeo = SondeoDelLote(almacen, nombre)) {
    sondeo->grabado = true;
    // the file open for comparing is the version just replaced
    if (sondeo->fd >= 0) close(sondeo->fd);
    sondeo->fd = -1;
  }
  std::vector<std::string> &dichos = almacen.ya_dichos;
  dichos.erase(std::remove(dichos.begin(), dichos.end(), nombre), dichos.end());
}

void DecirYaGrabado(AlmacenFicheros &almacen, const std::string &identidad, FILE *salida) {
  if (!almacen.opciones.silencioso) {
    EscribirTexto(salida, "Ya grabado antes...\n");
    return;
  }
  std::vector<std::string> &dichos = almacen.ya_dichos;
  if (std::find(dichos.begin(), dichos.end(), identidad) != dichos.end()) return;
  if (dichos.size() == kMaxDichos) dichos.clear();
  dichos.push_back(identidad);
  Renglon linea;
  AnadirNombre(linea, identidad, almacen.opciones.a_terminal);
  Anadir(linea, ": Ya grabado antes...\n");
  Emitir(linea, salida);
}

// The stored file, opened once per batch; never through a link, and a FIFO does not block.
static bool AbrirGrabado(const std::string &nombre, int &fd, int64_t &largo) {
  fd = open(nombre.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  struct stat datos;
  if (fd >= 0 && fstat(fd, &datos) == 0 && S_ISREG(datos.st_mode)) {
    largo = datos.st_size;
    return true;
  }
  if (fd >= 0) close(fd);
  fd = -1;
  return false;
}

// Where the part lies in a stored file of that length, or -1 when the file cannot be one of
// that layout: every part but the last carries the part size, the last at most as much.
static int64_t PosicionEnElGrabado(const DatagramaActual &actual, int64_t largo_parte,
                                   int64_t largo_fichero) {
  int64_t total = actual.totpartes, indice = actual.parteactual;
  if (indice < total - 1) {
    bool cabe = (total - 1) * largo_parte <= largo_fichero && largo_fichero <= total * largo_parte;
    return cabe ? indice * largo_parte : -1;
  }
  if (total == 1) return largo_fichero == largo_parte ? 0 : -1;
  int64_t resto = largo_fichero - largo_parte;
  if (resto <= 0 || resto % (total - 1) != 0 || resto / (total - 1) < largo_parte) return -1;
  return resto;
}

static bool MismosBytes(int fd, const unsigned char *contenido, std::size_t largo,
                        int64_t posicion) {
  unsigned char leido[kTamMaxParte];
  return pread(fd, leido, largo, posicion) == static_cast<ssize_t>(largo) &&
         memcmp(leido, contenido, largo) == 0;
}

bool IgualQueElGrabado(AlmacenFicheros &almacen, const DatagramaActual &actual,
                       const Paquete &paquete) {
  Sondeo suelto;
  Sondeo *sondeo = almacen.en_lote ? SondeoDelLote(almacen, actual.elnombre) : nullptr;
  if (sondeo == nullptr) sondeo = &suelto;
  // what is no plain file that can be read is left as it is
  if (sondeo->fd < 0 && !AbrirGrabado(actual.elnombre, sondeo->fd, sondeo->largo)) return true;
  std::size_t largo = static_cast<std::size_t>(paquete.tampaquete - TamCabecera);
  int64_t posicion = PosicionEnElGrabado(actual, static_cast<int64_t>(largo), sondeo->largo);
  bool igual =
      posicion >= 0 && MismosBytes(sondeo->fd, paquete.datos + TamCabecera, largo, posicion);
  if (sondeo == &suelto) close(suelto.fd);
  return igual;
}
