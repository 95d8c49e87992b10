#include "formato.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>

static void FormatearHex(const unsigned char *bytes, char *destino) {
  static const char kCifras[] = "0123456789abcdef";
  for (int i = 0; i < 2; ++i) {
    destino[2 * i] = kCifras[bytes[i] >> 4];
    destino[2 * i + 1] = kCifras[bytes[i] & 0x0f];
  }
  destino[4] = '\0';
}

// Assembled in unsigned 32-bit arithmetic: a field with its top bit set reads as negative.
static uint32_t LeerBigEndian(const unsigned char *bytes) {
  return (static_cast<uint32_t>(bytes[0]) << 24) | (static_cast<uint32_t>(bytes[1]) << 16) |
         (static_cast<uint32_t>(bytes[2]) << 8) | static_cast<uint32_t>(bytes[3]);
}

int32_t IndiceDeParte(const unsigned char *paquete) {
  return static_cast<int32_t>(LeerBigEndian(reinterpret_cast<const Cabecera *>(paquete)->parte) -
                              1u);
}

static void PonerBigEndian(unsigned char *destino, uint32_t valor, int bytes) {
  for (int i = 0; i < bytes; ++i)
    destino[i] = static_cast<unsigned char>(valor >> (8 * (bytes - 1 - i)));
}

void CodificarCabecera(const CamposCabecera &campos, unsigned char *destino) {
  Cabecera &cabecera = *reinterpret_cast<Cabecera *>(destino);
  PonerBigEndian(cabecera.tipo, campos.tipo, 2);
  PonerBigEndian(cabecera.subtipo, campos.subtipo, 2);
  PonerBigEndian(cabecera.parte, campos.parte, 4);
  PonerBigEndian(cabecera.totpartes, campos.totpartes, 4);
  std::size_t largo = std::min<std::size_t>(campos.nombre.size(), kTamCampoNombre);
  memset(cabecera.nombre, 0, kTamCampoNombre);
  memcpy(cabecera.nombre, campos.nombre.data(), largo);
}

// Whether the header names the file whose identity actual holds: a run of one file decodes its
// name and builds its identity once. Its type, subtype and name field as a whole are those of
// the header it was built from, whose name ended in the field: a cheaper test than the name's.
static bool MismaIdentidad(const Cabecera &cabecera, const DatagramaActual &actual) {
  const auto *bytes = reinterpret_cast<const unsigned char *>(&cabecera);
  const std::size_t nombre = offsetof(Cabecera, nombre), parte = offsetof(Cabecera, parte);
  return actual.en_campos && memcmp(bytes, actual.campos, parte) == 0 &&
         memcmp(bytes + nombre, actual.campos + nombre, kTamCampoNombre) == 0;
}

static void ConstruirIdentidad(DatagramaActual &actual) {
  std::string &identidad = actual.elnombre;
  identidad.assign(actual.eltipo, 4);
  identidad.push_back('-');
  identidad.append(actual.elsubtipo, 4);
  identidad.push_back('-');
  identidad.append(actual.nombre);
  // numbered across the process, so that a number names one identity whoever decoded it
  static uint64_t numeradas = 0;
  actual.numero_de_identidad = ++numeradas;
}

void DecodificarCabecera(const unsigned char *paquete, std::size_t legibles,
                         DatagramaActual &actual) {
  actual.miinfo2 = reinterpret_cast<const Cabecera *>(paquete);
  const Cabecera &cabecera = *actual.miinfo2;
  actual.parteactual = static_cast<int32_t>(LeerBigEndian(cabecera.parte) - 1u);
  actual.totpartes = static_cast<int32_t>(LeerBigEndian(cabecera.totpartes));
  // the name may run past its field, but never past the bytes at hand
  const char *nombre = cabecera.nombre;
  std::size_t hasta = legibles - offsetof(Cabecera, nombre);
  if (MismaIdentidad(cabecera, actual)) {
    actual.nombre = std::string_view(nombre, actual.nombre.size());
    return;
  }
  FormatearHex(cabecera.tipo, actual.eltipo);
  FormatearHex(cabecera.subtipo, actual.elsubtipo);
  const void *nul = memchr(nombre, '\0', hasta);
  actual.en_campos = nul != nullptr && static_cast<const char *>(nul) < nombre + kTamCampoNombre;
  memcpy(actual.campos, paquete, TamCabecera);
  actual.nombre = std::string_view(
      nombre, nul ? static_cast<std::size_t>(static_cast<const char *>(nul) - nombre) : hasta);
  ConstruirIdentidad(actual);
}

bool NombreConBarra(std::string_view nombre) {
  return nombre.find('/') != std::string_view::npos;
}

bool NombreConControl(std::string_view nombre) {
  return std::any_of(nombre.begin(), nombre.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

bool TerminaEnTemporal(std::string_view nombre) {
  return nombre.ends_with(kSufijoTemporal);
}

bool TieneFormaDeIdentidad(std::string_view texto) {
  if (texto.size() < 10 || texto[4] != '-' || texto[9] != '-') return false;
  for (std::size_t i : {0, 1, 2, 3, 5, 6, 7, 8})
    if (!isxdigit(static_cast<unsigned char>(texto[i]))) return false;
  return true;
}
