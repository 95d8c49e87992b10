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
#include "informes.h"
#include "salida.h"

// Layout: a first line that names the format, the identity after its length (a name may hold a
// newline), the numbers, one character per part, and a last line that proves the record whole.
static constexpr std::string_view kCabeceraRegistro = "partes-recibidas 3\n";
// what earlier receivers wrote: the same, without the time of the last new part
static constexpr std::string_view kCabeceraAnterior = "partes-recibidas 2\n";
static constexpr std::string_view kFinRegistro = "fin\n";
static constexpr std::string_view kEtiquetaEmisor = "emisor ";
static constexpr std::string_view kEtiquetaProgreso = "progreso ";

void BorrarRegistro(const std::string &raiz) {
  unlink(NombreRegistro(raiz).c_str());
}

void BorrarRastros(const std::string &raiz) {
  for (const std::string &nombre : NombresDeUnFichero(raiz)) unlink(nombre.c_str());
}

/// What tells one temporary file from another made later under the same name. Without a birth
/// time, its length and modification time stand in, which only the same state matches.
struct Identificacion {
  int64_t dispositivo = 0, inodo = 0, nacido_s = -1, nacido_ns = 0, largo = 0, cambio_s = 0,
          cambio_ns = 0;
};

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

static std::string TextoIdentificacion(const Identificacion &id) {
  std::string texto = "temporal";
  for (int64_t n :
       {id.dispositivo, id.inodo, id.nacido_s, id.nacido_ns, id.largo, id.cambio_s, id.cambio_ns})
    texto += " " + std::to_string(n);
  return texto + "\n";
}

// The last part counts only once it is on disk where it belongs; one that came before the
// file's part size was known is kept in memory alone, and that does not survive the run.
static std::string TextoRegistro(const FicheroEnCurso &f, const Identificacion &id) {
  std::string texto(kCabeceraRegistro);
  texto += std::to_string(f.old_nombre.size()) + " " + f.old_nombre + "\n";
  // a version told apart by its sender resumes only for it
  if (f.emisor.ss_family != 0)
    texto += std::string(kEtiquetaEmisor) + TextoDeDireccion(f.emisor) + "\n";
  // its age goes on across stops and restarts
  texto += std::string(kEtiquetaProgreso) + std::to_string(f.progreso_s) + "\n";
  texto += TextoIdentificacion(id);
  texto += std::to_string(f.disposicion.totpartes) + " " + std::to_string(f.disposicion.tamparte) +
           " " + std::to_string(f.disposicion.ultima) + "\n";
  for (int32_t i = 0; i < f.disposicion.totpartes; ++i) texto += Recibida(f.partes, i) ? '1' : '0';
  if (f.ultima_adelantada) texto.back() = '0';
  texto += "\n";
  texto += kFinRegistro;
  return texto;
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

bool EscribirRegistro(const AlmacenFicheros &almacen, FicheroEnCurso &f, FILE *salida) {
  std::string nombre = NombreRegistro(f.raiz);
  // written aside and then renamed, so that a record is never seen half written
  std::string nuevo = NombreNuevo(nombre);
  Identificacion id;
  if (Identificar(f.pf1, id) && EscribirNuevo(nuevo, TextoRegistro(f, id)) &&
      rename(nuevo.c_str(), nombre.c_str()) == 0)
    return true;
  int error = errno;
  if (PrimeraVez(f, "Error al guardar el registro de partes", error)) {
    fflush(salida);
    ++almacen.fallos;
    std::string visible = NombreVisible(f.apodo);
    fprintf(almacen.errores, "%s%s: Error al guardar el registro de partes de %s: %s\n",
            Prefijo(almacen.errores, Prioridad::kError), visible.c_str(), visible.c_str(),
            strerror(error));
  }
  unlink(nuevo.c_str());
  unlink(nombre.c_str());
  return false;
}

// Reads a whole small file, never through a link; "" when it cannot.
static std::string LeerTodo(const std::string &nombre) {
  int fd = open(nombre.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return "";
  std::string texto;
  char bloque[65536];
  ssize_t n;
  // a record holds a character per part: anything much larger is not one
  while ((n = read(fd, bloque, sizeof bloque)) > 0 && texto.size() < (1u << 20))
    texto.append(bloque, static_cast<std::size_t>(n));
  close(fd);
  return texto;
}

// Takes a decimal number and the separator after it from texto at pos.
static bool LeerNumero(const std::string &texto, std::size_t &pos, char separador, int64_t &valor) {
  std::size_t inicio = pos;
  bool negativo = pos < texto.size() && texto[pos] == '-';
  if (negativo) ++pos;
  valor = 0;
  while (pos < texto.size() && texto[pos] >= '0' && texto[pos] <= '9' && pos - inicio < 18)
    valor = valor * 10 + (texto[pos++] - '0');
  if (negativo) valor = -valor;
  return pos > inicio + negativo && pos < texto.size() && texto[pos++] == separador;
}

struct Registro {
  std::string emisor;  // the sender of its version; "" when versions were not told apart
  int64_t progreso = 0;  // when its last new part came, seconds since the epoch; 0 not told
  int64_t totpartes = 0, tamparte = 0, largo_ultima = 0;
  Identificacion temporal;  // the temporary file it describes
  std::string partes;       // '1' for a part on disk
};

static bool LeerIdentificacion(const std::string &texto, std::size_t &pos, Identificacion &id) {
  static constexpr std::string_view kEtiqueta = "temporal ";
  if (texto.compare(pos, kEtiqueta.size(), kEtiqueta) != 0) return false;
  pos += kEtiqueta.size();
  return LeerNumero(texto, pos, ' ', id.dispositivo) && LeerNumero(texto, pos, ' ', id.inodo) &&
         LeerNumero(texto, pos, ' ', id.nacido_s) && LeerNumero(texto, pos, ' ', id.nacido_ns) &&
         LeerNumero(texto, pos, ' ', id.largo) && LeerNumero(texto, pos, ' ', id.cambio_s) &&
         LeerNumero(texto, pos, '\n', id.cambio_ns);
}

// An optional line: "emisor <address>".
static bool LeerEmisor(const std::string &texto, std::size_t &pos, std::string &emisor) {
  if (texto.compare(pos, kEtiquetaEmisor.size(), kEtiquetaEmisor) != 0) return true;
  std::size_t fin = texto.find('\n', pos);
  if (fin == std::string::npos || fin - pos > kEtiquetaEmisor.size() + 64) return false;
  emisor = texto.substr(pos + kEtiquetaEmisor.size(), fin - pos - kEtiquetaEmisor.size());
  pos = fin + 1;
  return true;
}

// "progreso <seconds>", in a record of the present format.
static bool LeerProgreso(const std::string &texto, std::size_t &pos, int64_t &progreso) {
  if (texto.starts_with(kCabeceraAnterior)) return true;
  if (texto.compare(pos, kEtiquetaProgreso.size(), kEtiquetaProgreso) != 0) return false;
  pos += kEtiquetaProgreso.size();
  return LeerNumero(texto, pos, '\n', progreso) && progreso >= 0;
}

// A record of the identity given, or, with none given, of any.
static bool Interpretar(const std::string &texto, const std::string &identidad, Registro &r) {
  std::size_t pos = kCabeceraRegistro.size();
  int64_t largo = 0;
  if ((!texto.starts_with(kCabeceraRegistro) && !texto.starts_with(kCabeceraAnterior)) ||
      !LeerNumero(texto, pos, ' ', largo) ||
      largo <= 0 || largo > static_cast<int64_t>(kMaxIdentidad) ||
      (!identidad.empty() && (texto.compare(pos, identidad.size(), identidad) != 0 ||
                              largo != static_cast<int64_t>(identidad.size()))))
    return false;
  pos += static_cast<std::size_t>(largo);
  if (pos >= texto.size() || texto[pos++] != '\n' || !LeerEmisor(texto, pos, r.emisor) ||
      !LeerProgreso(texto, pos, r.progreso) || !LeerIdentificacion(texto, pos, r.temporal) || !LeerNumero(texto, pos, ' ', r.totpartes) ||
      !LeerNumero(texto, pos, ' ', r.tamparte) || !LeerNumero(texto, pos, '\n', r.largo_ultima) ||
      r.totpartes <= 0 || r.totpartes > MAX_TROZOS)
    return false;
  std::size_t partes = static_cast<std::size_t>(r.totpartes);
  if (texto.size() != pos + partes + 1 + kFinRegistro.size() || texto[pos + partes] != '\n' ||
      texto.compare(pos + partes + 1, kFinRegistro.size(), kFinRegistro) != 0)
    return false;
  r.partes = texto.substr(pos, partes);
  return r.partes.find_first_not_of("01") == std::string::npos;
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
