#include "registro.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "direcciones.h"
#include "formato.h"
#include "formato_registro.h"
#include "informes.h"
#include "salida.h"

// Added lines read back at every resume, at most this many bytes past the whole record's
// size: a larger tail is written whole again.
static constexpr int64_t kMinimoAnadido = 64 * 1024;

void BorrarRegistro(const std::string &raiz) {
  unlink(NombreRegistro(raiz).c_str());
}

void BorrarRastros(const std::string &raiz) {
  for (const std::string &nombre : NombresDeUnFichero(raiz)) unlink(nombre.c_str());
}

static bool Identificar(int fd, Identificacion &id) {
  struct statx datos;
  if (statx(fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &datos) != 0) return false;
  id.dispositivo = static_cast<int64_t>(makedev(datos.stx_dev_major, datos.stx_dev_minor));
  id.inodo = static_cast<int64_t>(datos.stx_ino);
  if (datos.stx_mask & STATX_BTIME) {
    id.nacido_s = datos.stx_btime.tv_sec;
    id.nacido_ns = datos.stx_btime.tv_nsec;
  }
  id.largo = static_cast<int64_t>(datos.stx_size);
  id.cambio_s = datos.stx_mtime.tv_sec;
  id.cambio_ns = datos.stx_mtime.tv_nsec;
  return true;
}

// Parts written after the record only make the file longer; a file created again since, by
// any run, is another file.
static bool MismoTemporal(const Identificacion &registrado, const Identificacion &actual) {
  if (registrado.dispositivo != actual.dispositivo || registrado.inodo != actual.inodo)
    return false;
  if (registrado.nacido_s >= 0)
    return registrado.nacido_s == actual.nacido_s && registrado.nacido_ns == actual.nacido_ns &&
           actual.largo >= registrado.largo;
  return actual.nacido_s < 0 && actual.largo == registrado.largo &&
         actual.cambio_s == registrado.cambio_s && actual.cambio_ns == registrado.cambio_ns;
}

static bool EscribirTodo(int fd, const std::string &texto) {
  std::size_t hecho = 0;
  while (hecho < texto.size()) {
    ssize_t n = write(fd, texto.data() + hecho, texto.size() - hecho);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    hecho += static_cast<std::size_t>(n);
  }
  return true;
}

// A leftover of the new record's name, even a link planted there, is replaced, never followed.
static bool EscribirNuevo(const std::string &nombre, const std::string &texto) {
  unlink(nombre.c_str());
  int fd = open(nombre.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  bool hecho = fd >= 0 && EscribirTodo(fd, texto) && fdatasync(fd) == 0;
  int error = errno;
  if (fd >= 0) close(fd);
  errno = error;
  return hecho;
}

// The whole record, written aside and then renamed, so that a record is never seen half
// written.
static bool EscribirEntero(FicheroEnCurso &f, const Identificacion &id) {
  std::string nombre = NombreRegistro(f.raiz), nuevo = NombreNuevo(nombre);
  std::string texto = TextoEntero(f, id);
  if (!EscribirNuevo(nuevo, texto) || rename(nuevo.c_str(), nombre.c_str()) != 0) return false;
  int64_t largo = static_cast<int64_t>(texto.size());
  f.registro = {true, largo, largo};
  return true;
}

// Adds the runs synced since the last save to the record on disk, which must be the one this
// run wrote last; false when it is not, when the line would outgrow what the whole record
// costs, or when the append fails. A line cut short by a crash is left out when read, and the
// next whole record replaces it.
static bool Anadir(FicheroEnCurso &f, const Identificacion &id, const std::vector<Tramo> &nuevas) {
  RegistroEnDisco &r = f.registro;
  std::string linea = LineaAnadida(f, id, nuevas);
  int64_t anadido = r.largo - r.entero + static_cast<int64_t>(linea.size());
  if (!r.vigente || anadido > std::max(r.entero, kMinimoAnadido)) return false;
  int fd = open(NombreRegistro(f.raiz).c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
  struct stat datos;
  bool hecho = fd >= 0 && fstat(fd, &datos) == 0 && datos.st_size == r.largo &&
               EscribirTodo(fd, linea) && fdatasync(fd) == 0;
  if (fd >= 0) close(fd);
  if (hecho) r.largo += static_cast<int64_t>(linea.size());
  return hecho;
}

bool EscribirRegistro(const AlmacenFicheros &almacen, FicheroEnCurso &f, FILE *salida) {
  std::vector<Tramo> nuevas;
  bool solo_nuevas = TomarNuevasEnDisco(f.partes, nuevas);
  // nothing synced since the last save: the record on disk, if still there, says all there is
  struct stat datos;
  if (solo_nuevas && nuevas.empty() && f.registro.vigente &&
      stat(NombreRegistro(f.raiz).c_str(), &datos) == 0 && datos.st_size == f.registro.largo)
    return true;
  Identificacion id;
  if (Identificar(f.pf1, id) && ((solo_nuevas && Anadir(f, id, nuevas)) || EscribirEntero(f, id)))
    return true;
  int error = errno;
  f.registro = {};
  if (PrimeraVez(f, "Error al guardar el registro de partes", error)) {
    fflush(salida);
    ++almacen.fallos;
    std::string visible = NombreVisible(f.apodo);
    fprintf(almacen.errores, "%s%s: Error al guardar el registro de partes de %s: %s\n",
            Prefijo(almacen.errores, Prioridad::kError), visible.c_str(), visible.c_str(),
            strerror(error));
  }
  std::string nombre = NombreRegistro(f.raiz);
  unlink(NombreNuevo(nombre).c_str());
  unlink(nombre.c_str());
  return false;
}

// Reads a whole record, never through a link; "" when it cannot, or when it is larger than
// a record of the largest file with its added lines.
static std::string LeerTodo(const std::string &nombre) {
  int fd = open(nombre.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return "";
  struct stat datos;
  std::string texto;
  if (fstat(fd, &datos) == 0 && S_ISREG(datos.st_mode) && datos.st_size < (1LL << 30))
    texto.resize(static_cast<std::size_t>(datos.st_size));
  std::size_t leidos = 0;
  ssize_t n = 1;
  while (leidos < texto.size() && (n = read(fd, texto.data() + leidos, texto.size() - leidos)) > 0)
    leidos += static_cast<std::size_t>(n);
  close(fd);
  texto.resize(leidos);
  return texto;
}

// Numbers that no run of the receiver could have written make the record worthless.
static bool Coherente(const Registro &r) {
  bool con_ultima = r.partes.back() == '1';
  bool con_otras = r.partes.find('1') < r.partes.size() - 1;
  return r.tamparte >= kTamParteDesconocido && r.tamparte <= kTamMaxParte &&
         (!con_otras || r.tamparte > 0) &&
         (!con_ultima || (r.largo_ultima >= 0 && r.largo_ultima <= kTamMaxParte &&
                          (r.totpartes == 1 || r.largo_ultima <= r.tamparte)));
}

bool LeerRegistro(FicheroEnCurso &f, int temporal) {
  Registro r;
  Identificacion actual;
  if (!Interpretar(LeerTodo(NombreRegistro(f.raiz)), f.old_nombre, r) ||
      r.totpartes != f.disposicion.totpartes || !Identificar(temporal, actual) ||
      !MismoTemporal(r.temporal, actual) || !Coherente(r) ||
      (f.emisor.ss_family != 0 && !r.emisor.empty() && r.emisor != TextoDeDireccion(f.emisor)))
    return false;
  // an earlier receiver wrote 0 for a size not known yet
  f.disposicion.tamparte = r.tamparte > 0 ? static_cast<int32_t>(r.tamparte) : kTamParteDesconocido;
  f.disposicion.ultima = r.partes.back() == '1' ? r.largo_ultima : -1;
  if (r.progreso > 0) f.progreso_s = r.progreso;
  TomarDelRegistro(f.partes, r.partes);
  return true;
}

std::string EmisorDelRegistro(const std::string &raiz) {
  Registro r;
  return Interpretar(LeerTodo(NombreRegistro(raiz)), "", r) ? r.emisor : "";
}

bool ContarPartesDelRegistro(const std::string &raiz, int32_t &partes, int32_t &total,
                             int64_t &progreso) {
  Registro r;
  if (!Interpretar(LeerTodo(NombreRegistro(raiz)), "", r)) return false;
  partes = static_cast<int32_t>(std::count(r.partes.begin(), r.partes.end(), '1'));
  total = static_cast<int32_t>(r.totpartes);
  progreso = r.progreso;
  return true;
}
