#include "formato_registro.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "direcciones.h"
#include "formato.h"
#include "nombres.h"

// Layout: a first line that names the format, the identity after its length (a name may hold a
// newline), the numbers, the parts on disk, a line that proves the whole record whole; then a
// line per later save, each proved whole by the sum that ends it.
static constexpr std::string_view kCabeceraRegistro = "partes-recibidas 4\n";
// what earlier receivers wrote: a character per part, without or with the time of the last part
static constexpr std::string_view kCabeceraVersion2 = "partes-recibidas 2\n";
static constexpr std::string_view kCabeceraVersion3 = "partes-recibidas 3\n";
static constexpr std::string_view kFinRegistro = "fin\n";
static constexpr std::string_view kEtiquetaEmisor = "emisor ";
static constexpr std::string_view kEtiquetaProgreso = "progreso ";
static constexpr std::string_view kEtiquetaTemporal = "temporal ";
static constexpr std::string_view kAnadido = "+ ";
static constexpr std::size_t kCifrasSuma = 16;

// FNV-1a, 64 bits: a line cut or filled with other bytes by a crash does not match its sum.
static uint64_t Suma(std::string_view bytes) {
  uint64_t suma = 0xcbf29ce484222325ull;
  for (unsigned char c : bytes) suma = (suma ^ c) * 0x100000001b3ull;
  return suma;
}

static std::string TextoIdentificacion(const Identificacion &id) {
  std::string texto(kEtiquetaTemporal.substr(0, kEtiquetaTemporal.size() - 1));
  for (int64_t n :
       {id.dispositivo, id.inodo, id.nacido_s, id.nacido_ns, id.largo, id.cambio_s, id.cambio_ns})
    texto += " " + std::to_string(n);
  return texto + "\n";
}

static const char kHex[] = "0123456789abcdef";

// Four parts a hexadecimal digit, the first the highest bit. The last part counts only once it
// is on disk where it belongs: one kept in memory is kGrabada, and that does not survive the run.
static std::string Mapa(const Partes &partes) {
  std::size_t total = partes.estados.size();
  std::string mapa((total + 3) / 4, '0');
  for (std::size_t cifra = 0; cifra < mapa.size(); ++cifra) {
    int valor = 0;
    for (std::size_t bit = 0, i = cifra * 4; bit < 4 && i < total; ++bit, ++i)
      if (partes.estados[i] == kSincronizada) valor |= 8 >> bit;
    mapa[cifra] = kHex[valor];
  }
  return mapa;
}

std::string TextoEntero(const FicheroEnCurso &f, const Identificacion &id) {
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
  texto += Mapa(f.partes) + "\n";
  texto += kFinRegistro;
  return texto;
}

std::string LineaAnadida(const FicheroEnCurso &f, const Identificacion &id,
                         const std::vector<Tramo> &nuevas) {
  std::string linea(kAnadido.substr(0, 1));
  for (int64_t n : {f.progreso_s, id.largo, id.cambio_s, id.cambio_ns,
                    static_cast<int64_t>(f.disposicion.tamparte), f.disposicion.ultima,
                    static_cast<int64_t>(nuevas.size())})
    linea += " " + std::to_string(n);
  for (const Tramo &tramo : nuevas)
    linea += " " + std::to_string(tramo.desde) + " " + std::to_string(tramo.hasta);
  linea += " ";
  char suma[kCifrasSuma + 1];
  snprintf(suma, sizeof suma, "%016llx", static_cast<unsigned long long>(Suma(linea)));
  return linea + suma + "\n";
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

static bool LeerIdentificacion(const std::string &texto, std::size_t &pos, Identificacion &id) {
  if (texto.compare(pos, kEtiquetaTemporal.size(), kEtiquetaTemporal) != 0) return false;
  pos += kEtiquetaTemporal.size();
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

// "progreso <seconds>", in a record of format 3 or later.
static bool LeerProgreso(const std::string &texto, std::size_t &pos, int64_t &progreso) {
  if (texto.starts_with(kCabeceraVersion2)) return true;
  if (texto.compare(pos, kEtiquetaProgreso.size(), kEtiquetaProgreso) != 0) return false;
  pos += kEtiquetaProgreso.size();
  return LeerNumero(texto, pos, '\n', progreso) && progreso >= 0;
}

// The lines up to the parts: the identity, the sender, the age, the temporary file, the layout.
static bool LeerPrincipio(const std::string &texto, const std::string &identidad, std::size_t &pos,
                          Registro &r) {
  int64_t largo = 0;
  if (!LeerNumero(texto, pos, ' ', largo) || largo <= 0 ||
      largo > static_cast<int64_t>(kMaxIdentidad) ||
      (!identidad.empty() && (texto.compare(pos, identidad.size(), identidad) != 0 ||
                              largo != static_cast<int64_t>(identidad.size()))))
    return false;
  pos += static_cast<std::size_t>(largo);
  return pos < texto.size() && texto[pos++] == '\n' && LeerEmisor(texto, pos, r.emisor) &&
         LeerProgreso(texto, pos, r.progreso) && LeerIdentificacion(texto, pos, r.temporal) &&
         LeerNumero(texto, pos, ' ', r.totpartes) && LeerNumero(texto, pos, ' ', r.tamparte) &&
         LeerNumero(texto, pos, '\n', r.largo_ultima) && r.totpartes > 0 &&
         r.totpartes <= INT32_MAX;
}

// Formats 2 and 3: a character per part, '0' or '1', and nothing after the last line.
static bool LeerCaracteres(const std::string &texto, std::size_t pos, Registro &r) {
  std::size_t partes = static_cast<std::size_t>(r.totpartes);
  if (texto.size() != pos + partes + 1 + kFinRegistro.size() || texto[pos + partes] != '\n' ||
      texto.compare(pos + partes + 1, kFinRegistro.size(), kFinRegistro) != 0)
    return false;
  r.partes = texto.substr(pos, partes);
  return r.partes.find_first_not_of("01") == std::string::npos;
}

// The parts of a whole record, four a digit; the bits past the last part are 0.
static bool LeerMapa(const std::string &texto, std::size_t &pos, Registro &r) {
  std::size_t total = static_cast<std::size_t>(r.totpartes), cifras = (total + 3) / 4;
  if (texto.size() < pos + cifras + 1 + kFinRegistro.size() || texto[pos + cifras] != '\n' ||
      texto.compare(pos + cifras + 1, kFinRegistro.size(), kFinRegistro) != 0)
    return false;
  r.partes.assign(cifras * 4, '0');
  for (std::size_t i = 0; i < cifras; ++i) {
    const char *donde = std::find(kHex, kHex + 16, texto[pos + i]);
    if (donde == kHex + 16) return false;
    for (int bit = 0; bit < 4; ++bit)
      if ((donde - kHex) & (8 >> bit)) r.partes[i * 4 + static_cast<std::size_t>(bit)] = '1';
  }
  if (r.partes.find('1', total) != std::string::npos) return false;
  r.partes.resize(total);
  pos += cifras + 1 + kFinRegistro.size();
  return true;
}

// One added line, whole and with its sum, whose runs lie within the file: taken into r.
static bool LeerAnadido(const std::string &texto, std::size_t &pos, Registro &r) {
  std::size_t fin = texto.find('\n', pos);
  if (fin == std::string::npos || texto.compare(pos, kAnadido.size(), kAnadido) != 0) return false;
  std::size_t espacio = texto.rfind(' ', fin);
  char suma[kCifrasSuma + 1];
  snprintf(suma, sizeof suma, "%016llx",
           static_cast<unsigned long long>(
               Suma(std::string_view(texto.data() + pos, espacio + 1 - pos))));
  if (fin - espacio - 1 != kCifrasSuma || texto.compare(espacio + 1, kCifrasSuma, suma) != 0)
    return false;
  std::size_t p = pos + kAnadido.size();
  int64_t progreso = 0, largo = 0, cambio_s = 0, cambio_ns = 0, tamparte = 0, ultima = 0, n = 0;
  if (!LeerNumero(texto, p, ' ', progreso) || !LeerNumero(texto, p, ' ', largo) ||
      !LeerNumero(texto, p, ' ', cambio_s) || !LeerNumero(texto, p, ' ', cambio_ns) ||
      !LeerNumero(texto, p, ' ', tamparte) || !LeerNumero(texto, p, ' ', ultima) ||
      !LeerNumero(texto, p, ' ', n) || progreso < 0 || n < 0 || n > static_cast<int64_t>(fin - p))
    return false;
  std::vector<Tramo> tramos(static_cast<std::size_t>(n));
  for (Tramo &tramo : tramos) {
    int64_t desde = 0, hasta = 0;
    if (!LeerNumero(texto, p, ' ', desde) || !LeerNumero(texto, p, ' ', hasta) || desde < 0 ||
        desde >= hasta || hasta > r.totpartes)
      return false;
    tramo = {static_cast<int32_t>(desde), static_cast<int32_t>(hasta)};
  }
  if (p != espacio + 1) return false;
  for (const Tramo &tramo : tramos)
    std::fill(r.partes.begin() + tramo.desde, r.partes.begin() + tramo.hasta, '1');
  r.progreso = progreso;
  r.temporal.largo = largo;
  r.temporal.cambio_s = cambio_s;
  r.temporal.cambio_ns = cambio_ns;
  r.tamparte = tamparte;
  r.largo_ultima = ultima;
  pos = fin + 1;
  return true;
}

bool Interpretar(const std::string &texto, const std::string &identidad, Registro &r) {
  bool actual = texto.starts_with(kCabeceraRegistro);
  std::size_t pos = kCabeceraRegistro.size();
  if ((!actual && !texto.starts_with(kCabeceraVersion2) && !texto.starts_with(kCabeceraVersion3)) ||
      !LeerPrincipio(texto, identidad, pos, r))
    return false;
  if (!actual) return LeerCaracteres(texto, pos, r);
  if (!LeerMapa(texto, pos, r)) return false;
  while (LeerAnadido(texto, pos, r)) {
  }
  // a save cut short leaves one line at most, of no more runs than a save adds
  return texto.size() - pos <= 4096 + 32 * (static_cast<std::size_t>(r.totpartes) / 64 + 64);
}
