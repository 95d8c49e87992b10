#include "lateral.h"

#include <sodium.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

void PonerNumero(unsigned char *&p, uint64_t valor, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<unsigned char>(valor >> (8 * (bytes - 1 - i)));
  p += bytes;
}

uint64_t TomarNumero(const unsigned char *&p, int bytes) {
  uint64_t valor = 0;
  for (int i = 0; i < bytes; ++i) valor = (valor << 8) | p[i];
  p += bytes;
  return valor;
}

void PrepararLateral() {
  // it chooses each routine's fastest code for this processor, once
  if (sodium_init() < 0) {
    fputs("No se puede iniciar libsodium\n", stderr);
    exit(1);
  }
}

int ResumenesPorDatagrama(std::size_t largo_nombre) {
  return static_cast<int>((kTamMaxLateral - kTamFijoDescripcion - largo_nombre) / kTamResumen);
}

bool DisposicionPosible(int32_t totpartes, int32_t tamparte, int64_t largo) {
  if (totpartes < 1 || totpartes > kMaxPartesDescritas || tamparte < 1 || tamparte > kTamMaxParte)
    return false;
  if (largo == 0) return totpartes == 1;
  int64_t antes = static_cast<int64_t>(totpartes - 1) * tamparte;
  return largo > antes && largo <= antes + tamparte;
}

void PonerFichero(unsigned char *&p, const FicheroDescrito &f) {
  PonerNumero(p, f.tipo, 2);
  PonerNumero(p, f.subtipo, 2);
  PonerNumero(p, f.nombre.size(), 1);
  memcpy(p, f.nombre.data(), f.nombre.size());
  p += f.nombre.size();
  PonerNumero(p, static_cast<uint32_t>(f.totpartes), 4);
  PonerNumero(p, static_cast<uint32_t>(f.tamparte), 4);
  PonerNumero(p, static_cast<uint64_t>(f.largo), 8);
}

bool TomarNombre(const unsigned char *&p, const unsigned char *fin, FicheroDescrito &f) {
  f.tipo = static_cast<uint16_t>(TomarNumero(p, 2));
  f.subtipo = static_cast<uint16_t>(TomarNumero(p, 2));
  std::size_t largo_nombre = TomarNumero(p, 1);
  if (largo_nombre > kMaxNombre || static_cast<std::size_t>(fin - p) < largo_nombre) return false;
  f.nombre = std::string_view(reinterpret_cast<const char *>(p), largo_nombre);
  p += largo_nombre;
  return f.nombre.find('\0') == std::string_view::npos;
}

bool TomarDisposicion(const unsigned char *&p, FicheroDescrito &f) {
  f.totpartes = static_cast<int32_t>(TomarNumero(p, 4));
  f.tamparte = static_cast<int32_t>(TomarNumero(p, 4));
  uint64_t largo = TomarNumero(p, 8);
  if (largo > static_cast<uint64_t>(kMaxPartesDescritas) * kTamMaxParte) return false;
  f.largo = static_cast<int64_t>(largo);
  return DisposicionPosible(f.totpartes, f.tamparte, f.largo);
}

std::size_t CodificarDescripcion(const FicheroDescrito &f, int32_t primera, int32_t cuantos,
                                 const unsigned char *resumenes, const unsigned char *secreta,
                                 unsigned char *destino) {
  unsigned char *p = destino;
  PonerNumero(p, kLateralDescripcion, 1);
  // libsodium's secret key ends with the public one
  memcpy(p, secreta + crypto_sign_SECRETKEYBYTES - kTamClavePublica, kTamIdClave);
  p += kTamIdClave;
  PonerFichero(p, f);
  PonerNumero(p, f.sello, 8);
  PonerNumero(p, static_cast<uint32_t>(primera), 4);
  PonerNumero(p, static_cast<uint32_t>(cuantos), 2);
  std::size_t bytes = static_cast<std::size_t>(cuantos) * kTamResumen;
  memcpy(p, resumenes, bytes);
  p += bytes;
  std::size_t firmado = static_cast<std::size_t>(p - destino);
  crypto_sign_detached(p, nullptr, destino, firmado, secreta);
  return firmado + kTamFirma;
}

// The fields after the name, which stands before them with its length.
static bool DecodificarCuerpo(const unsigned char *p, const unsigned char *fin, Descripcion &d) {
  if (fin - p < 30) return false;
  FicheroDescrito &f = d.fichero;
  bool posible = TomarDisposicion(p, f);
  f.sello = TomarNumero(p, 8);
  d.primera = static_cast<int32_t>(TomarNumero(p, 4));
  d.cuantos = static_cast<int32_t>(TomarNumero(p, 2));
  if (!posible) return false;
  if (d.cuantos < 1 || d.primera < 0 || d.primera > f.totpartes - d.cuantos) return false;
  if (fin - p != static_cast<std::ptrdiff_t>(d.cuantos) * kTamResumen + kTamFirma) return false;
  d.resumenes = p;
  d.firma = fin - kTamFirma;
  return true;
}

bool DecodificarDescripcion(const unsigned char *datos, std::size_t largo, Descripcion &d) {
  const unsigned char *p = datos, *fin = datos + largo;
  const std::size_t antes_del_nombre = 1 + kTamIdClave + 2 + 2 + 1;
  if (largo < antes_del_nombre || largo > static_cast<std::size_t>(kTamMaxPaquete) ||
      TomarNumero(p, 1) != kLateralDescripcion)
    return false;
  memcpy(d.id_clave, p, kTamIdClave);
  p += kTamIdClave;
  if (!TomarNombre(p, fin, d.fichero) || !DecodificarCuerpo(p, fin, d)) return false;
  d.firmado = datos;
  d.largo_firmado = largo - kTamFirma;
  return true;
}

bool FirmaValida(const Descripcion &d, const unsigned char *publica) {
  return crypto_sign_verify_detached(d.firma, d.firmado, d.largo_firmado, publica) == 0;
}

std::string IdentidadDescrita(const FicheroDescrito &f) {
  char tipos[16];
  snprintf(tipos, sizeof tipos, "%04x-%04x-", f.tipo, f.subtipo);
  return std::string(tipos) + std::string(f.nombre);
}
