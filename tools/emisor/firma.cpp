#include "firma.h"

#include <sodium.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "direcciones.h"
#include "fallo.h"
#include "mando.h"

void GenerarClavesYSalir(const char *base) {
  std::string problema;
  if (!GenerarClaves(base, problema)) Rechazar("%s\n", problema.c_str());
  printf(
      "Claves escritas: %s.clave (secreta, solo para el emisor) y %s.pub (para los "
      "receptores)\n",
      base, base);
  exit(kSalidaBien);
}

void PrepararFirmante(Firmante &firmante, const Opciones &opciones,
                      const std::vector<Fichero> &ficheros) {
  std::string problema;
  if (!LeerClaveSecreta(opciones.firma, firmante.secreta, problema))
    Rechazar("%s\n", problema.c_str());
  for (const Fichero &fichero : ficheros)
    if (fichero.totpartes > static_cast<uint32_t>(kMaxPartesDescritas))
      Rechazar("El fichero %s tiene %u partes: con --firmar, %d como mucho\n", fichero.ruta,
               fichero.totpartes, kMaxPartesDescritas);
  firmante.destino = opciones.destino;
  PonerPuerto(firmante.destino, opciones.puerto_lateral);
}

// Never lower than the last one, whatever the clock does: a receiver keeps the highest.
static uint64_t SelloNuevo(uint64_t anterior) {
  timespec ahora;
  clock_gettime(CLOCK_REALTIME, &ahora);
  uint64_t sello = static_cast<uint64_t>(ahora.tv_sec) * 1000000000u + ahora.tv_nsec;
  return std::max(sello, anterior + 1);
}

Problema ResumirFichero(Firmante &firmante, const Opciones &opciones, const Fichero &fichero) {
  unsigned char parte[kTamMaxParte];
  firmante.resumenes.resize(static_cast<std::size_t>(fichero.totpartes) * kTamResumen);
  for (uint32_t i = 0; i < fichero.totpartes; ++i) {
    Problema problema = LeerParte(fichero, opciones.tamparte, i, parte);
    if (problema.que != Problema::kNinguno) return problema;
    ResumirParte(parte, LargoDeParte(fichero, opciones.tamparte, i),
                 &firmante.resumenes[static_cast<std::size_t>(i) * kTamResumen]);
  }
  // the layout counts as content: the same parts cut otherwise are another version
  unsigned char huella[kTamResumen];
  uint64_t disposicion[2] = {fichero.tamano, static_cast<uint64_t>(opciones.tamparte)};
  crypto_generichash_state estado;
  crypto_generichash_init(&estado, nullptr, 0, sizeof huella);
  crypto_generichash_update(&estado, reinterpret_cast<unsigned char *>(disposicion),
                            sizeof disposicion);
  crypto_generichash_update(&estado, firmante.resumenes.data(), firmante.resumenes.size());
  crypto_generichash_final(&estado, huella, sizeof huella);
  VersionFirmada &version = firmante.versiones[fichero.ruta];
  if (version.sello == 0 || memcmp(version.huella, huella, sizeof huella) != 0) {
    version.sello = SelloNuevo(version.sello);
    memcpy(version.huella, huella, sizeof huella);
  }
  return {};
}

Fin MandarDescripcion(Envio &envio, Firmante &firmante, const Opciones &opciones,
                      const Fichero &fichero) {
  FicheroDescrito descrito{opciones.tipo,
                           opciones.subtipo,
                           fichero.nombre,
                           static_cast<int32_t>(fichero.totpartes),
                           opciones.tamparte,
                           static_cast<int64_t>(fichero.tamano),
                           firmante.versiones[fichero.ruta].sello};
  int32_t por_datagrama = ResumenesPorDatagrama(fichero.nombre.size());
  for (int32_t primera = 0; primera < descrito.totpartes; primera += por_datagrama) {
    if (!EsperarTurno(envio)) return Fin::kSenal;
    int32_t cuantos = std::min(por_datagrama, descrito.totpartes - primera);
    std::size_t largo =
        CodificarDescripcion(descrito, primera, cuantos,
                             &firmante.resumenes[static_cast<std::size_t>(primera) * kTamResumen],
                             firmante.secreta.data(), firmante.datagrama);
    ContarDatagrama(envio.ritmo, largo);
    MandarLateral(envio, firmante.destino, firmante.datagrama, largo);
    if (ParadaPedida()) return Fin::kSenal;
  }
  return Fin::kCompleto;
}
