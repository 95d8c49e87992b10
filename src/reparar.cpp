#include "reparar.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "almacen.h"
#include "direcciones.h"
#include "escritura.h"
#include "grabados.h"
#include "hechos.h"
#include "informes.h"
#include "reparacion.h"

// Blocks kept are looked at again this often, for parts that came after their rows.
static constexpr int64_t kMsEntreRepasos = 100;

// The header of a part of the block's file, decoded into r.actual as the loop decodes one, at
// r.paquete; the caller puts the content after it.
static void Cabecera(Reparaciones &r, const BloqueEnEspera &b, int32_t parte) {
  CodificarCabecera({b.tipo, b.subtipo, static_cast<uint32_t>(parte) + 1,
                     static_cast<uint32_t>(b.disposicion.totpartes), b.nombre},
                    r.paquete);
  DecodificarCabecera(r.paquete, TamCabecera, r.actual);
}

static int FicheroDe(Reparaciones &r, const AlmacenFicheros &almacen, const BloqueEnEspera &b) {
  Cabecera(r, b, 0);
  return FicheroDelDatagrama(almacen, r.actual, &b.origen);
}

// Whether the file's layout, as far as it is known, is the one the rows were made for.
static bool Concuerda(const FicheroEnCurso &f, const Disposicion &d) {
  const Disposicion &suya = f.disposicion;
  return suya.totpartes == d.totpartes &&
         (suya.tamparte == kTamParteDesconocido || suya.tamparte == d.tamparte) &&
         (suya.ultima < 0 || suya.ultima == d.ultima);
}

static int32_t LargoDe(const Disposicion &d, int32_t parte) {
  return parte == UltimaParte(d) ? static_cast<int32_t>(d.ultima) : d.tamparte;
}

// A part taken before, from where it is now: the last one kept in memory, the write buffer, or
// the temporary file; zeros after it up to the part size. False when it cannot be read back.
static bool LeerGuardada(const FicheroEnCurso &f, const Disposicion &d, int32_t parte,
                         unsigned char *destino) {
  std::size_t largo = static_cast<std::size_t>(LargoDe(d, parte));
  memset(destino + largo, 0, static_cast<std::size_t>(d.tamparte) - largo);
  if (parte == UltimaParte(d) && f.ultima_adelantada && f.ultima.size() == largo) {
    memcpy(destino, f.ultima.data(), largo);
    return true;
  }
  if (const unsigned char *retenida = ParteRetenida(f, parte)) {
    memcpy(destino, retenida, largo);
    return true;
  }
  return pread(f.pf1, destino, largo, static_cast<int64_t>(parte) * d.tamparte) ==
         static_cast<ssize_t>(largo);
}

// Hands the rebuilt part to the store as a datagram of the block's sender, while it is still
// missing from its file in progress.
static void Entregar(Reparaciones &r, AlmacenFicheros &almacen, const BloqueEnEspera &b,
                     int32_t parte, const unsigned char *contenido, FILE *salida) {
  int cual = FicheroDe(r, almacen, b);
  if (cual < 0 || Recibida(almacen.en_curso[static_cast<std::size_t>(cual)].partes, parte)) return;
  int32_t largo = LargoDe(b.disposicion, parte);
  Cabecera(r, b, parte);
  memcpy(r.paquete + TamCabecera, contenido, static_cast<std::size_t>(largo));
  int total = TamCabecera + largo;
  r.paquete[total] = 0;
  Paquete paquete{r.paquete, total, std::max(total + 1, kTamVistaCabecera), false, &b.origen};
  MarcarReparadas(true);
  AlmacenarParte(almacen, r.actual, paquete, b.disposicion.tamparte, salida);
  MarcarReparadas(false);
}

// Parts of the block its file lacks; without reading any.
static int Faltan(const FicheroEnCurso &f, const BloqueEnEspera &b) {
  int faltan = 0;
  for (int pos = 0; pos < b.codigo.k; ++pos) {
    int32_t parte = ParteDelBloque(b.disposicion.totpartes, b.codigo, b.bloque, pos);
    faltan += parte >= 0 && !Recibida(f.partes, parte);
  }
  return faltan;
}

// The block's parts at hand read into r.memoria, pointed at from partes, nullptr for each one
// missing, whose index goes to perdidas and whose room to salidas; returns how many are missing.
static int Reunir(Reparaciones &r, const FicheroEnCurso &f, const BloqueEnEspera &b,
                  unsigned char **partes, unsigned char **salidas, int32_t *perdidas) {
  const int k = b.codigo.k;
  const std::size_t tam = static_cast<std::size_t>(b.disposicion.tamparte);
  r.memoria.assign(2 * static_cast<std::size_t>(k) * tam, 0);
  int e = 0;
  for (int pos = 0; pos < k; ++pos) {
    int32_t parte = ParteDelBloque(b.disposicion.totpartes, b.codigo, b.bloque, pos);
    partes[pos] = &r.memoria[static_cast<std::size_t>(pos) * tam];
    if (parte >= 0 &&
        (!Recibida(f.partes, parte) || !LeerGuardada(f, b.disposicion, parte, partes[pos]))) {
      partes[pos] = nullptr;
      salidas[e] = &r.memoria[(static_cast<std::size_t>(k) + e) * tam];
      perdidas[e++] = parte;
    }
  }
  return e;
}

// Rebuilds the block when it has rows enough, and hands its parts to the store. Returns whether
// the block is done with: rebuilt, whole, or of a file that is gone or changed.
static bool Intentar(Reparaciones &r, AlmacenFicheros &almacen, const BloqueEnEspera &b,
                     FILE *salida) {
  int cual = FicheroDe(r, almacen, b);
  if (cual < 0) return true;
  const FicheroEnCurso &f = almacen.en_curso[static_cast<std::size_t>(cual)];
  if (!Concuerda(f, b.disposicion)) return true;
  // counted first: a row that leaves the block short costs no read
  int faltan = Faltan(f, b);
  if (faltan == 0) return true;
  if (static_cast<int>(b.filas.size()) < faltan) return false;
  unsigned char *partes[kMaxFilasCodigo], *salidas[kMaxFilasCodigo], *filas[kMaxFilasCodigo];
  int32_t perdidas[kMaxFilasCodigo];
  int e = Reunir(r, f, b, partes, salidas, perdidas);
  if (r.codigo.k != b.codigo.k || r.codigo.m != b.codigo.m)
    PrepararCodigo(r.codigo, b.codigo.k, b.codigo.m);
  for (std::size_t i = 0; i < b.filas.size(); ++i)
    filas[i] = const_cast<unsigned char *>(b.bytes[i].data());
  // a part that could not be read back leaves it short: it waits for the next pass
  if (!RecuperarBloque(r.codigo, partes, b.filas.data(), filas, static_cast<int>(b.filas.size()),
                       salidas, b.disposicion.tamparte))
    return static_cast<int>(b.filas.size()) >= e;
  // what was probed of stored files before the rows came may have changed since
  EmpezarLote(almacen);
  for (int i = 0; i < e; ++i) Entregar(r, almacen, b, perdidas[i], salidas[i], salida);
  return true;
}

static void Quitar(Reparaciones &r, std::size_t cual) {
  r.filas -= static_cast<int>(r.bloques[cual].filas.size());
  r.bloques.erase(r.bloques.begin() + static_cast<std::ptrdiff_t>(cual));
}

static bool MismoBloque(const BloqueEnEspera &b, const BloqueEnEspera &otro) {
  const Codigo &c = b.codigo, &d = otro.codigo;
  return b.bloque == otro.bloque && b.identidad == otro.identidad &&
         MismaDireccion(b.origen, otro.origen) && c.k == d.k && c.m == d.m &&
         c.entrelazado == d.entrelazado && b.disposicion.totpartes == otro.disposicion.totpartes &&
         b.disposicion.tamparte == otro.disposicion.tamparte &&
         b.disposicion.ultima == otro.disposicion.ultima;
}

// The block the datagram belongs to among those kept, or a new one, the oldest dropped to make
// room; its index.
static std::size_t Lugar(Reparaciones &r, BloqueEnEspera &&nuevo) {
  for (std::size_t i = 0; i < r.bloques.size(); ++i)
    if (MismoBloque(r.bloques[i], nuevo)) return i;
  while (!r.bloques.empty() &&
         (r.bloques.size() >= kMaxBloquesEnEspera || r.filas >= kMaxFilasEnEspera))
    Quitar(r, 0);
  r.bloques.push_back(std::move(nuevo));
  return r.bloques.size() - 1;
}

static BloqueEnEspera BloqueDe(const Reparacion &d, const sockaddr_storage *origen) {
  BloqueEnEspera b;
  const FicheroDescrito &f = d.fichero;
  b.identidad = IdentidadDescrita(f);
  if (origen != nullptr) b.origen = *origen;
  b.tipo = f.tipo;
  b.subtipo = f.subtipo;
  b.nombre = std::string(f.nombre);
  b.disposicion = {f.totpartes, f.tamparte,
                   f.largo - static_cast<int64_t>(f.totpartes - 1) * f.tamparte};
  b.codigo = d.codigo;
  b.bloque = d.bloque;
  return b;
}

void TomarReparacion(Reparaciones &r, AlmacenFicheros &almacen, const unsigned char *datos,
                     std::size_t largo, const sockaddr_storage *origen) {
  Reparacion d;
  if (!DecodificarReparacion(datos, largo, d) || !ReparacionIntacta(datos, largo)) return;
  BloqueEnEspera nuevo = BloqueDe(d, origen);
  int cual = FicheroDe(r, almacen, nuevo);
  if (cual < 0 || !Concuerda(almacen.en_curso[static_cast<std::size_t>(cual)], nuevo.disposicion))
    return;
  std::size_t i = Lugar(r, std::move(nuevo));
  BloqueEnEspera &b = r.bloques[i];
  // a block needs k rows at most; a row that came again adds nothing
  if (static_cast<int>(b.filas.size()) >= b.codigo.k ||
      std::find(b.filas.begin(), b.filas.end(), d.fila) != b.filas.end())
    return;
  b.filas.push_back(d.fila);
  b.bytes.emplace_back(d.contenido, d.contenido + d.fichero.tamparte);
  ++r.filas;
  r.nuevas = true;
}

void IntentarReparaciones(Reparaciones &r, AlmacenFicheros &almacen, FILE *salida) {
  r.nuevas = false;
  for (std::size_t i = r.bloques.size(); i-- > 0;)
    if (Intentar(r, almacen, r.bloques[i], salida)) Quitar(r, i);
}

void RepasarReparaciones(Reparaciones &r, AlmacenFicheros &almacen, int64_t ahora_ms,
                         FILE *salida) {
  if (r.bloques.empty() || ahora_ms - r.repasado_ms < kMsEntreRepasos) return;
  r.repasado_ms = ahora_ms;
  IntentarReparaciones(r, almacen, salida);
}
