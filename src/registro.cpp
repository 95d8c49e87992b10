#include "registro.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

// Layout: a first line that names the format, the identity after its length (a name may hold a
// newline), the numbers, one character per part, and a last line that proves the record whole.
static constexpr std::string_view kCabeceraRegistro = "partes-recibidas 1\n";
static constexpr std::string_view kFinRegistro = "fin\n";

std::string NombreRegistro(const std::string &identidad) {
  return "." + identidad + ".partes";
}

// The last part counts only where it belongs; one placed with another file's part size is
// kept in memory alone, and that does not survive the run.
static bool UltimaEnSuSitio(const FicheroEnCurso &f) {
  if (!f.ultima_adelantada) return true;
  return f.ultima_posicion == static_cast<int64_t>(f.totpartes - 1) * f.tamparte_propio &&
         (f.tamparte_propio > 0 || f.totpartes == 1);
}

static std::string TextoRegistro(const FicheroEnCurso &f, int64_t largo_temporal) {
  std::string texto(kCabeceraRegistro);
  texto += std::to_string(f.old_nombre.size()) + " " + f.old_nombre + "\n";
  texto += std::to_string(f.totpartes) + " " + std::to_string(f.tamparte_propio) + " " +
           std::to_string(f.largo_ultima) + " " + std::to_string(largo_temporal) + "\n";
  for (int32_t i = 0; i < f.totpartes; ++i)
    texto += f.partesrecibidas[static_cast<std::size_t>(i)] == kGrabada ? '1' : '0';
  if (!UltimaEnSuSitio(f)) texto.back() = '0';
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

void EscribirRegistro(const FicheroEnCurso &f) {
  struct stat datos;
  std::string nombre = NombreRegistro(f.old_nombre);
  unlink(nombre.c_str());
  if (fstat(f.pf1, &datos) == 0) {
    int fd = open(nombre.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    bool hecho = fd >= 0 && EscribirTodo(fd, TextoRegistro(f, datos.st_size)) && fdatasync(fd) == 0;
    int error = errno;
    if (fd >= 0) close(fd);
    if (hecho) return;
    errno = error;
  }
  fprintf(stderr, "Error al guardar el registro de partes de %s: %s\n", f.old_nombre.c_str(),
          strerror(errno));
  unlink(nombre.c_str());
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
  int64_t totpartes = 0, tamparte = 0, largo_ultima = 0, largo_temporal = 0;
  std::string partes;  // '1' for a part written
};

static bool Interpretar(const std::string &texto, const std::string &identidad, Registro &r) {
  std::size_t pos = kCabeceraRegistro.size();
  int64_t largo = 0;
  if (texto.compare(0, pos, kCabeceraRegistro) != 0 || !LeerNumero(texto, pos, ' ', largo) ||
      texto.compare(pos, identidad.size(), identidad) != 0 ||
      largo != static_cast<int64_t>(identidad.size()))
    return false;
  pos += identidad.size();
  if (pos >= texto.size() || texto[pos++] != '\n' || !LeerNumero(texto, pos, ' ', r.totpartes) ||
      !LeerNumero(texto, pos, ' ', r.tamparte) || !LeerNumero(texto, pos, ' ', r.largo_ultima) ||
      !LeerNumero(texto, pos, '\n', r.largo_temporal) || r.totpartes <= 0 ||
      r.totpartes > MAX_TROZOS)
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
  return r.tamparte >= 0 && r.tamparte <= kTamMaxParte && (!con_otras || r.tamparte > 0) &&
         (!con_ultima || (r.largo_ultima >= 0 && r.largo_ultima <= kTamMaxParte &&
                          (r.totpartes == 1 || r.largo_ultima <= r.tamparte)));
}

bool LeerRegistro(FicheroEnCurso &f, int temporal) {
  Registro r;
  struct stat datos;
  if (!Interpretar(LeerTodo(NombreRegistro(f.old_nombre)), f.old_nombre, r) ||
      r.totpartes != f.totpartes || fstat(temporal, &datos) != 0 ||
      datos.st_size != r.largo_temporal || !Coherente(r))
    return false;
  f.tamparte_propio = static_cast<int32_t>(r.tamparte);
  f.largo_ultima = r.partes.back() == '1' ? r.largo_ultima : -1;
  for (std::size_t i = 0; i < r.partes.size(); ++i) {
    bool grabada = r.partes[i] == '1';
    f.partesrecibidas[i] = grabada ? kGrabada : kFalta;
    f.faltan -= grabada;
  }
  return true;
}
