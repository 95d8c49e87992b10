#include "reparacion.h"

#include <isa-l/crc.h>

#include <cstring>

std::size_t CodificarReparacion(const FicheroDescrito &f, const Codigo &c, int32_t bloque, int fila,
                                const unsigned char *contenido, unsigned char *destino) {
  unsigned char *p = destino;
  PonerNumero(p, kLateralReparacion, 1);
  PonerFichero(p, f);
  PonerNumero(p, static_cast<uint64_t>(c.k), 1);
  PonerNumero(p, static_cast<uint64_t>(c.m), 1);
  PonerNumero(p, static_cast<uint64_t>(c.entrelazado), 1);
  PonerNumero(p, static_cast<uint32_t>(bloque), 4);
  PonerNumero(p, static_cast<uint64_t>(fila), 1);
  memcpy(p, contenido, static_cast<std::size_t>(f.tamparte));
  p += f.tamparte;
  PonerNumero(p, crc32_iscsi(destino, static_cast<int>(p - destino), 0), kTamSumaReparacion);
  return static_cast<std::size_t>(p - destino);
}

bool ReparacionIntacta(const unsigned char *datos, std::size_t largo) {
  if (largo < static_cast<std::size_t>(kTamSumaReparacion)) return false;
  const unsigned char *suma = datos + largo - kTamSumaReparacion;
  auto cubierto = static_cast<int>(largo - kTamSumaReparacion);
  // ISA-L only reads the buffer, though its prototype does not say so
  uint32_t calculada = crc32_iscsi(const_cast<unsigned char *>(datos), cubierto, 0);
  return TomarNumero(suma, kTamSumaReparacion) == calculada;
}

// The fields after the name: layout, code, block, row, then the row itself to the end.
static bool DecodificarFilas(const unsigned char *p, const unsigned char *fin, Reparacion &r) {
  if (fin - p < 24) return false;
  FicheroDescrito &f = r.fichero;
  bool posible = TomarDisposicion(p, f);
  r.codigo = {static_cast<int>(TomarNumero(p, 1)), static_cast<int>(TomarNumero(p, 1)),
              static_cast<int>(TomarNumero(p, 1))};
  r.bloque = static_cast<int32_t>(TomarNumero(p, 4));
  r.fila = static_cast<int>(TomarNumero(p, 1));
  if (!posible) return false;
  const Codigo &c = r.codigo;
  if (c.k < 1 || c.m < 1 || c.k + c.m > kMaxFilasCodigo || c.entrelazado < 1) return false;
  if (r.fila >= c.m || r.bloque < 0 || r.bloque >= BloquesDe(f.totpartes, c)) return false;
  if (fin - p != f.tamparte + kTamSumaReparacion) return false;
  r.contenido = p;
  return true;
}

bool DecodificarReparacion(const unsigned char *datos, std::size_t largo, Reparacion &r) {
  const unsigned char *p = datos, *fin = datos + largo;
  if (largo < 6 || largo > static_cast<std::size_t>(kTamMaxPaquete) ||
      TomarNumero(p, 1) != kLateralReparacion)
    return false;
  return TomarNombre(p, fin, r.fichero) && DecodificarFilas(p, fin, r);
}
