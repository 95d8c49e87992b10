#include "reparaciones.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "direcciones.h"
#include "fallo.h"
#include "mando.h"
#include "sorteo.h"

void AjustarParteAReparaciones(Opciones &opciones, const std::vector<Fichero> &ficheros) {
  const Fichero *largo = nullptr;
  for (const Fichero &fichero : ficheros)
    if (largo == nullptr || fichero.nombre.size() > largo->nombre.size()) largo = &fichero;
  if (largo == nullptr) return;
  int trama = opciones.destino.ss_family == AF_INET6 ? kTamSinFragmentarIpv6 : kTamSinFragmentar;
  int cabe = trama - kTamFijoReparacion - static_cast<int>(largo->nombre.size());
  if (!opciones.tamparte_dada) opciones.tamparte = std::min(opciones.tamparte, cabe);
  if (opciones.tamparte > cabe)
    fprintf(stderr,
            "Con --fec y -p %d, los datagramas de reparacion de %s ocupan %zu bytes, mas de %d: "
            "viajan en fragmentos por Ethernet (con ese nombre, -p %d como mucho)\n",
            opciones.tamparte, largo->ruta,
            kTamFijoReparacion + largo->nombre.size() + opciones.tamparte, trama, cabe);
}

void PrepararReparador(Reparador &r, const Opciones &opciones,
                       const std::vector<Fichero> &ficheros) {
  r.codigo = {opciones.fec_k, opciones.fec_m, kEntrelazado};
  PrepararCodigo(r.borrado, opciones.fec_k, opciones.fec_m);
  for (const Fichero &fichero : ficheros) {
    std::size_t largo = kTamFijoReparacion + fichero.nombre.size() + opciones.tamparte;
    if (largo > static_cast<std::size_t>(kTamMaxPaquete))
      Rechazar(
          "Con --fec, el fichero %s no cabe en datagramas de reparacion: %zu bytes, %d como "
          "mucho (nombre mas corto, o -p menor)\n",
          fichero.ruta, largo, kTamMaxPaquete);
    if (fichero.totpartes > static_cast<uint32_t>(kMaxPartesDescritas))
      Rechazar("El fichero %s tiene %u partes: con --fec, %d como mucho\n", fichero.ruta,
               fichero.totpartes, kMaxPartesDescritas);
  }
  std::size_t ventana = static_cast<std::size_t>(opciones.fec_k) * kEntrelazado;
  r.partes.resize(ventana * opciones.tamparte);
  r.filas.resize(static_cast<std::size_t>(opciones.fec_m) * kEntrelazado * opciones.tamparte);
  r.destino = opciones.destino;
  PonerPuerto(r.destino, opciones.puerto_lateral);
}

// Reads the window's parts from primera on into place, zeros after each short one; false when
// the file cannot be read as it was opened.
static bool LeerVentana(Reparador &r, const Opciones &opciones, const Fichero &fichero,
                        int32_t primera, int32_t cuantas) {
  std::size_t tam = static_cast<std::size_t>(opciones.tamparte);
  std::fill(r.partes.begin(), r.partes.end(), 0);
  for (int32_t i = 0; i < cuantas; ++i) {
    auto indice = static_cast<uint32_t>(primera + i);
    if (LeerParte(fichero, opciones.tamparte, indice, &r.partes[i * tam]).que != Problema::kNinguno)
      return false;
  }
  return true;
}

// The repair rows of each block of the window that starts at primera.
static void CodificarVentana(Reparador &r, const FicheroDescrito &f, int32_t bloque0,
                             int32_t bloques, int32_t primera) {
  const Codigo &c = r.codigo;
  std::size_t tam = static_cast<std::size_t>(f.tamparte);
  unsigned char *partes[kMaxFilasCodigo], *filas[kMaxFilasCodigo];
  std::vector<unsigned char> ceros(tam, 0);
  for (int32_t b = 0; b < bloques; ++b) {
    for (int pos = 0; pos < c.k; ++pos) {
      int32_t parte = ParteDelBloque(f.totpartes, c, bloque0 + b, pos);
      partes[pos] = parte < 0 ? ceros.data() : &r.partes[(parte - primera) * tam];
    }
    for (int j = 0; j < c.m; ++j)
      filas[j] = &r.filas[(static_cast<std::size_t>(b) * c.m + j) * tam];
    CodificarBloque(r.borrado, partes, filas, f.tamparte);
  }
}

// Row j of every block, then row j + 1: a burst among them costs each block a share of it.
static Fin MandarVentana(Envio &envio, Reparador &r, const Opciones &opciones,
                         const FicheroDescrito &f, int32_t bloque0, int32_t bloques) {
  std::size_t tam = static_cast<std::size_t>(f.tamparte);
  for (int j = 0; j < r.codigo.m; ++j)
    for (int32_t b = 0; b < bloques; ++b) {
      if (!EsperarTurno(envio)) return Fin::kSenal;
      const unsigned char *fila = &r.filas[(static_cast<std::size_t>(b) * r.codigo.m + j) * tam];
      std::size_t largo = CodificarReparacion(f, r.codigo, bloque0 + b, j, fila, r.datagrama);
      ContarDatagrama(envio.ritmo, largo);
      // --perdida leaves out repair datagrams too, as a lossy network would
      if (Omitir(envio.perdidas, opciones.perdida)) continue;
      MandarLateral(envio, r.destino, r.datagrama, largo);
      if (ParadaPedida()) return Fin::kSenal;
    }
  return Fin::kCompleto;
}

Fin MandarReparaciones(Envio &envio, Reparador &r, const Opciones &opciones,
                       const Fichero &fichero) {
  FicheroDescrito f{opciones.tipo,
                    opciones.subtipo,
                    fichero.nombre,
                    static_cast<int32_t>(fichero.totpartes),
                    opciones.tamparte,
                    static_cast<int64_t>(fichero.tamano),
                    0};
  const int32_t ventana = r.codigo.k * r.codigo.entrelazado;
  for (int32_t primera = 0, bloque0 = 0; primera < f.totpartes;
       primera += ventana, bloque0 += r.codigo.entrelazado) {
    int32_t cuantas = std::min(ventana, f.totpartes - primera);
    if (!LeerVentana(r, opciones, fichero, primera, cuantas)) return Fin::kCompleto;
    int32_t bloques = (cuantas + r.codigo.k - 1) / r.codigo.k;
    CodificarVentana(r, f, bloque0, bloques, primera);
    if (MandarVentana(envio, r, opciones, f, bloque0, bloques) == Fin::kSenal) return Fin::kSenal;
  }
  return Fin::kCompleto;
}
