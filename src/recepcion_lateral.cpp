#include "recepcion_lateral.h"

#include <netinet/udp.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "direcciones.h"
#include "fatal.h"
#include "ficheros.h"
#include "informes.h"
#include "rechazos.h"
#include "reloj.h"
#include "reparar.h"
#include "salida.h"

void AbrirCanalLateral(CanalLateral &canal, const char *grupo, uint16_t puerto,
                       const OpcionesEntrada &opciones, FILE *avisos) {
  AbrirMembresia(canal.membresia, grupo, puerto, opciones, avisos);
  // descriptions are read one by one, never as a merged run
  int no = 0;
  setsockopt(canal.membresia.sock, SOL_UDP, UDP_GRO, &no, sizeof no);
  canal.activo = true;
}

// "<identidad>: <line>", or the line alone for a datagram that names no file, within the
// quiet log's budget for what anyone on the network can cause.
[[gnu::format(printf, 6, 7)]] static void Decir(AlmacenFicheros &almacen, Prioridad prioridad,
                                                const std::string *identidad,
                                                const sockaddr_storage *origen, FILE *salida,
                                                const char *formato, ...) {
  if (!DentroDelFreno(almacen, formato, origen)) return;
  Renglon linea;
  Anadir(linea, Prefijo(salida, prioridad));
  if (identidad != nullptr) {
    AnadirNombre(linea, *identidad, almacen.opciones.a_terminal);
    Anadir(linea, ": ");
  }
  char texto[256];
  va_list argumentos;
  va_start(argumentos, formato);
  vsnprintf(texto, sizeof texto, formato, argumentos);
  va_end(argumentos);
  Anadir(linea, texto);
  Emitir(linea, salida);
}

// Told as the store's refusals are: once, then counted, within the quiet log's budget. Without
// the quiet log, no summary line names the file: the line does.
static void RechazarFalsa(AlmacenFicheros &almacen, bool conocida, const std::string &identidad,
                          const sockaddr_storage *origen, FILE *salida) {
  std::string emisor = TextoDeEmisor(origen);
  std::string nombre = almacen.opciones.silencioso   ? ""
                       : almacen.opciones.a_terminal ? NombreVisible(identidad) + ": "
                                                     : identidad + ": ";
  if (conocida)
    Rechazar(almacen, identidad, origen, salida,
             "%sDescripcion con firma falsa, descartada (emisor %s).\n", nombre.c_str(),
             emisor.c_str());
  else
    Rechazar(almacen, identidad, origen, salida,
             "%sDescripcion firmada con una clave desconocida, descartada (emisor %s).\n",
             nombre.c_str(), emisor.c_str());
}

static bool FuenteAceptada(const Membresia &membresia, const sockaddr_storage &origen) {
  const std::vector<sockaddr_storage> &fuentes = membresia.opciones.fuentes;
  return fuentes.empty() || std::any_of(fuentes.begin(), fuentes.end(),
                                        [&](const auto &f) { return MismaDireccion(f, origen); });
}

// Whether one more signature may be checked in this second.
static bool CabeOtraFirma(CanalLateral &canal) {
  int64_t segundo = AhoraMs() / 1000;
  if (segundo != canal.segundo) canal.firmas = 0;
  canal.segundo = segundo;
  return canal.firmas++ < kMaxFirmasPorSegundo;
}

// One datagram: a description checked and taken, or refused.
static void Tomar(CanalLateral &canal, TablaDeFirmas &tabla, AlmacenFicheros &almacen,
                  const unsigned char *datos, std::size_t largo, const sockaddr_storage *origen,
                  FILE *salida) {
  if (largo > 0 && datos[0] == kLateralReparacion && canal.reparaciones != nullptr)
    return TomarReparacion(*canal.reparaciones, almacen, datos, largo, origen);
  // another type is for a reader this receiver does not have, and so are descriptions to one
  // that has no keys to check them with
  if (largo == 0 || datos[0] != kLateralDescripcion || tabla.claves.empty()) return;
  std::string emisor = TextoDeEmisor(origen);
  Descripcion d;
  if (!DecodificarDescripcion(datos, largo, d)) {
    ++tabla.descripciones_falsas;
    Decir(almacen, Prioridad::kAviso, nullptr, origen, salida,
          "Descripcion no valida de %zu bytes, descartada (emisor %s).\n", largo, emisor.c_str());
    return;
  }
  // the same again, every pass of a carousel: nothing to take, nor to verify
  if (YaAnotada(tabla, d)) return;
  // only a trusted key's id costs a check: a stranger's own key is refused at once
  bool conocida = std::any_of(tabla.claves.begin(), tabla.claves.end(), [&](const auto &c) {
    return memcmp(c.data(), d.id_clave, kTamIdClave) == 0;
  });
  if (conocida && !CabeOtraFirma(canal)) return;
  std::string identidad = IdentidadDescrita(d.fichero);
  if (!conocida || ClaveQueFirma(tabla, d) == nullptr) {
    ++tabla.descripciones_falsas;
    RechazarFalsa(almacen, conocida, identidad, origen, salida);
    return;
  }
  if (AnotarDescripcion(tabla, d) == Anotada::kNueva)
    Decir(almacen, Prioridad::kSuceso, &identidad, origen, salida,
          "Descripcion firmada de %d partes (emisor %s).\n", d.fichero.totpartes, emisor.c_str());
}

static int RecibirLateral(CanalLateral &canal) {
  for (int i = 0; i < kLoteLateral; ++i) {
    canal.vectores[i] = {canal.datos[i], sizeof canal.datos[i]};
    canal.mensajes[i].msg_hdr = {};
    canal.mensajes[i].msg_hdr.msg_iov = &canal.vectores[i];
    canal.mensajes[i].msg_hdr.msg_iovlen = 1;
    canal.mensajes[i].msg_hdr.msg_name = &canal.origenes[i];
    canal.mensajes[i].msg_hdr.msg_namelen = sizeof canal.origenes[i];
  }
  int mensajes =
      recvmmsg(canal.membresia.sock, canal.mensajes, kLoteLateral, MSG_DONTWAIT, nullptr);
  if (mensajes >= 0) return mensajes;
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
  DieWithError("4Error al crear  el socket()");
}

int AtenderCanalLateral(CanalLateral &canal, TablaDeFirmas &tabla, AlmacenFicheros &almacen,
                        FILE *salida) {
  int tomados = 0;
  int64_t desde = AhoraNs();
  for (int lote = 0; lote < kLotesLateralesPorVuelta; ++lote) {
    int mensajes = RecibirLateral(canal);
    for (int i = 0; i < mensajes; ++i) {
      if (!FuenteAceptada(canal.membresia, canal.origenes[i])) continue;
      // a datagram longer than any description fills the buffer, and is none
      Tomar(canal, tabla, almacen, canal.datos[i], canal.mensajes[i].msg_len, &canal.origenes[i],
            salida);
      ++tomados;
    }
    if (mensajes < kLoteLateral || AhoraNs() - desde >= kTiempoLateralNs) break;
  }
  return tomados;
}
