#include "firmas.h"

#include <algorithm>
#include <cstring>

#include "campos_estado.h"

const ClavePublica *ClaveQueFirma(const TablaDeFirmas &tabla, const Descripcion &d) {
  for (const ClavePublica &clave : tabla.claves)
    if (memcmp(clave.data(), d.id_clave, kTamIdClave) == 0 && FirmaValida(d, clave.data()))
      return &clave;
  return nullptr;
}

static bool MismaDisposicion(const FicheroFirmado &f, const FicheroDescrito &d) {
  return f.totpartes == d.totpartes && f.tamparte == d.tamparte && f.largo == d.largo;
}

// Whether the datagram's digests agree with those already known of the file, one at least
// known: a sender restarted describes the same content under a higher version.
static bool MismoContenido(const FicheroFirmado &f, const Descripcion &d) {
  if (!MismaDisposicion(f, d.fichero)) return false;
  bool alguno = false;
  for (int32_t i = 0; i < d.cuantos; ++i) {
    std::size_t parte = static_cast<std::size_t>(d.primera + i);
    if (!f.conocidos[parte]) continue;
    if (memcmp(&f.resumenes[parte * kTamResumen], d.resumenes + i * kTamResumen, kTamResumen) != 0)
      return false;
    alguno = true;
  }
  return alguno;
}

bool YaAnotada(const TablaDeFirmas &tabla, const Descripcion &d) {
  const FicheroFirmado *f = BuscarFirmado(tabla, IdentidadDescrita(d.fichero));
  if (f == nullptr || f->sello != d.fichero.sello || !MismaDisposicion(*f, d.fichero)) return false;
  for (int32_t i = 0; i < d.cuantos; ++i)
    if (!f->conocidos[static_cast<std::size_t>(d.primera + i)]) return false;
  return memcmp(&f->resumenes[static_cast<std::size_t>(d.primera) * kTamResumen], d.resumenes,
                static_cast<std::size_t>(d.cuantos) * kTamResumen) == 0;
}

static void Empezar(TablaDeFirmas &tabla, FicheroFirmado &f, const Descripcion &d) {
  tabla.bytes -= f.resumenes.size();
  f = FicheroFirmado{};
  f.totpartes = d.fichero.totpartes;
  f.tamparte = d.fichero.tamparte;
  f.largo = d.fichero.largo;
  f.sello = d.fichero.sello;
  f.generacion = ++tabla.generaciones;
  f.resumenes.assign(static_cast<std::size_t>(f.totpartes) * kTamResumen, 0);
  f.conocidos.assign(static_cast<std::size_t>(f.totpartes), false);
  tabla.bytes += f.resumenes.size();
}

// A digest already known stays: under one version, a sender describes each part one way.
static void Llenar(FicheroFirmado &f, const Descripcion &d) {
  for (int32_t i = 0; i < d.cuantos; ++i) {
    std::size_t parte = static_cast<std::size_t>(d.primera + i);
    if (f.conocidos[parte]) continue;
    memcpy(&f.resumenes[parte * kTamResumen], d.resumenes + i * kTamResumen, kTamResumen);
    f.conocidos[parte] = true;
    ++f.cuantos;
  }
}

// Over a bound, the file whose description came longest ago goes, never the one just taken.
static void Recortar(TablaDeFirmas &tabla, const std::string &guardar) {
  while (tabla.ficheros.size() > kMaxFicherosFirmados || tabla.bytes > kMaxBytesDeResumenes) {
    auto viejo = tabla.ficheros.end();
    for (auto i = tabla.ficheros.begin(); i != tabla.ficheros.end(); ++i)
      if (i->first != guardar &&
          (viejo == tabla.ficheros.end() || i->second.visto < viejo->second.visto))
        viejo = i;
    if (viejo == tabla.ficheros.end()) return;
    tabla.bytes -= viejo->second.resumenes.size();
    tabla.ficheros.erase(viejo);
  }
}

Anotada AnotarDescripcion(TablaDeFirmas &tabla, const Descripcion &d) {
  std::string identidad = IdentidadDescrita(d.fichero);
  auto [it, nuevo] = tabla.ficheros.try_emplace(identidad);
  FicheroFirmado &f = it->second;
  Anotada anotada = Anotada::kMas;
  if (nuevo || (d.fichero.sello > f.sello && !MismoContenido(f, d))) {
    Empezar(tabla, f, d);
    anotada = Anotada::kNueva;
  } else if (d.fichero.sello < f.sello || !MismaDisposicion(f, d.fichero)) {
    return Anotada::kAntigua;
  }
  f.sello = d.fichero.sello;
  f.visto = ++tabla.reloj;
  Llenar(f, d);
  if (anotada == Anotada::kNueva) Recortar(tabla, identidad);
  return anotada;
}

const FicheroFirmado *BuscarFirmado(const TablaDeFirmas &tabla, const std::string &identidad) {
  auto it = tabla.ficheros.find(identidad);
  return it == tabla.ficheros.end() ? nullptr : &it->second;
}

uint64_t GeneracionDe(const TablaDeFirmas &tabla, const std::string &identidad) {
  const FicheroFirmado *f = BuscarFirmado(tabla, identidad);
  return f == nullptr ? 0 : f->generacion;
}

bool TodasComprobadas(const TablaDeFirmas &tabla, const std::string &identidad,
                      uint64_t generacion) {
  return generacion != 0 && GeneracionDe(tabla, identidad) == generacion;
}

Firma ComprobarParte(const TablaDeFirmas &tabla, const std::string &identidad, int32_t totpartes,
                     int32_t parte, const unsigned char *contenido, int32_t largo) {
  const FicheroFirmado *f = BuscarFirmado(tabla, identidad);
  if (f == nullptr) return Firma::kSinDescripcion;
  if (totpartes != f->totpartes || parte < 0 || parte >= totpartes) return Firma::kFalsa;
  int64_t esperado = parte < totpartes - 1
                         ? f->tamparte
                         : f->largo - static_cast<int64_t>(totpartes - 1) * f->tamparte;
  if (largo != esperado) return Firma::kFalsa;
  std::size_t i = static_cast<std::size_t>(parte);
  if (!f->conocidos[i]) return Firma::kSinDescripcion;
  unsigned char resumen[kTamResumen];
  ResumirParte(contenido, static_cast<std::size_t>(largo), resumen);
  return memcmp(resumen, &f->resumenes[i * kTamResumen], kTamResumen) == 0 ? Firma::kCierta
                                                                           : Firma::kFalsa;
}

std::string CamposDeEstado(const TablaDeFirmas &tabla) {
  using namespace campos_estado;
  return std::string("  \"") + kFirmados + "\": " + std::to_string(tabla.ficheros.size()) +
         ",\n  \"" + kDescripcionesFalsas + "\": " + std::to_string(tabla.descripciones_falsas) +
         ",\n  \"" + kPartesFalsas + "\": " + std::to_string(tabla.partes_falsas) + ",\n";
}
