#include "grabados.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "reloj.h"

/// Stored files kept open for comparing at once.
static constexpr std::size_t kMaxGrabados = 16;
/// A stored file not compared for this long is closed: one deleted meanwhile frees its space.
static constexpr int64_t kMsGrabadoAbierto = 2000;
/// Bytes of a stored file read at once for comparing, about 45 parts.
static constexpr int64_t kTamVentana = 64 * 1024;

// The entries after it move: the batch's probes look them up again.
static void Cerrar(AlmacenFicheros &almacen, std::size_t i) {
  close(almacen.grabados[i].fd);
  almacen.grabados.erase(almacen.grabados.begin() + static_cast<std::ptrdiff_t>(i));
  for (Sondeo &sondeo : almacen.sondeos) sondeo.abierto = -1;
}

static void CerrarGrabado(AlmacenFicheros &almacen, const std::string &identidad) {
  for (std::size_t i = 0; i < almacen.grabados.size(); ++i)
    if (almacen.grabados[i].identidad == identidad) return Cerrar(almacen, i);
}

void EmpezarLote(AlmacenFicheros &almacen) {
  ++almacen.lotes;
  OlvidarAtajo(almacen);
  almacen.ahora_s = AhoraRealS();
  almacen.sondeos.clear();
  if (almacen.grabados.empty()) return;
  int64_t ahora_ms = AhoraMs();
  for (std::size_t i = almacen.grabados.size(); i-- > 0;)
    if (ahora_ms - almacen.grabados[i].usado_ms > kMsGrabadoAbierto) Cerrar(almacen, i);
}

static Sondeo *SondeoDelLote(AlmacenFicheros &almacen, const std::string &nombre) {
  for (auto it = almacen.sondeos.rbegin(); it != almacen.sondeos.rend(); ++it)
    if (it->identidad == nombre) return &*it;
  return nullptr;
}

// The final name counts as stored when it can be read; asked without opening it, so that a
// FIFO of that name cannot block the receiver. The datagrams of a file mostly come together.
bool YaGrabado(AlmacenFicheros &almacen, const std::string &nombre, bool &primero) {
  primero = false;
  if (almacen.lotes > 0)
    if (Sondeo *sondeo = SondeoDelLote(almacen, nombre)) return sondeo->grabado;
  primero = true;
  bool grabado = access(nombre.c_str(), R_OK) == 0;
  if (almacen.lotes > 0) almacen.sondeos.push_back({nombre, grabado});
  if (!grabado && !almacen.grabados.empty()) CerrarGrabado(almacen, nombre);
  return grabado;
}

void AnotarGrabado(AlmacenFicheros &almacen, const std::string &nombre) {
  if (Sondeo *sondeo = SondeoDelLote(almacen, nombre)) {
    sondeo->grabado = true;
    sondeo->abierto = -1;
  }
  // the file open for comparing is the version just replaced
  CerrarGrabado(almacen, nombre);
  almacen.ya_dichos.erase(nombre);
}

static int64_t Nanosegundos(const timespec &t) {
  return static_cast<int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

static bool MismoFichero(const Grabado &g, const struct stat &datos) {
  return g.dispositivo == static_cast<int64_t>(datos.st_dev) &&
         g.inodo == static_cast<int64_t>(datos.st_ino) && g.largo == datos.st_size &&
         g.cambio_ns == Nanosegundos(datos.st_mtim);
}

// Opens the stored file, never through a link, and so that a FIFO cannot block; false when it is
// no plain file, or not the one just looked at.
static bool Abrir(Grabado &g, const struct stat &visto) {
  g.fd = open(g.identidad.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  struct stat datos;
  if (g.fd < 0 || fstat(g.fd, &datos) != 0 || datos.st_ino != visto.st_ino) {
    if (g.fd >= 0) close(g.fd);
    return false;
  }
  g.dispositivo = static_cast<int64_t>(datos.st_dev);
  g.inodo = static_cast<int64_t>(datos.st_ino);
  g.largo = datos.st_size;
  g.cambio_ns = Nanosegundos(datos.st_mtim);
  g.ventana.clear();
  return true;
}

// The stored file of the identity, open, looked at once per batch: one that changed since it was
// opened is opened again. -2 when it is no plain file that can be read.
static int AbrirGrabado(AlmacenFicheros &almacen, const std::string &identidad) {
  struct stat datos;
  if (lstat(identidad.c_str(), &datos) != 0 || !S_ISREG(datos.st_mode)) return -2;
  std::vector<Grabado> &grabados = almacen.grabados;
  int64_t ahora_ms = AhoraMs();
  for (std::size_t i = 0; i < grabados.size(); ++i) {
    if (grabados[i].identidad != identidad) continue;
    grabados[i].usado_ms = ahora_ms;
    if (MismoFichero(grabados[i], datos)) return static_cast<int>(i);
    Cerrar(almacen, i);
    break;
  }
  if (grabados.size() == kMaxGrabados)
    Cerrar(almacen,
           static_cast<std::size_t>(std::min_element(grabados.begin(), grabados.end(),
                                                     [](const Grabado &a, const Grabado &b) {
                                                       return a.usado_ms < b.usado_ms;
                                                     }) -
                                    grabados.begin()));
  Grabado nuevo;
  nuevo.identidad = identidad;
  nuevo.usado_ms = ahora_ms;
  if (!Abrir(nuevo, datos)) return -2;
  grabados.push_back(std::move(nuevo));
  return static_cast<int>(grabados.size()) - 1;
}

// The layout that a stored file of largo_fichero bytes has as a datagram of totpartes parts,
// part parte of largo bytes, reads it; totpartes 0 when the file cannot be of such a layout.
// Every part but the last carries the part size, the last at most as much and, but in a file
// of one part, at least a byte.
static Disposicion DisposicionDelGrabado(int32_t totpartes, int32_t parte, int32_t largo,
                                  int64_t largo_fichero) {
  int64_t total = totpartes;
  if (parte < UltimaParte(totpartes)) {
    int64_t ultima = largo_fichero - (total - 1) * largo;
    if (ultima < 0 || ultima > largo) return {};
    return {totpartes, largo, ultima};
  }
  if (total == 1)
    return largo_fichero == largo ? Disposicion{1, kTamParteDesconocido, largo} : Disposicion{};
  int64_t resto = largo_fichero - largo, tamparte = resto / (total - 1);
  // a part size past any count a datagram holds belongs to no sender's layout
  if (resto <= 0 || resto % (total - 1) != 0 || tamparte < largo || tamparte > INT32_MAX) return {};
  return {totpartes, static_cast<int32_t>(tamparte), largo};
}

// Where the part lies in a stored file of that length, or -1 when the file cannot be one of
// that layout: every part but the last carries the part size, the last at most as much.
static int64_t PosicionEnElGrabado(const DatagramaActual &actual, int32_t largo_parte,
                                   int64_t largo_fichero) {
  Disposicion d =
      DisposicionDelGrabado(actual.totpartes, actual.parteactual, largo_parte, largo_fichero);
  return d.totpartes == 0 ? -1 : PosicionDeLaParte(d, actual.parteactual);
}

// Whether the stored bytes at posicion are these: read from the window kept, or a new window
// read from there, in one call.
static bool MismosBytes(Grabado &g, const unsigned char *contenido, std::size_t largo,
                        int64_t posicion) {
  if (largo == 0) return true;  // an empty last part, at a place the layout allows
  int64_t fin = posicion + static_cast<int64_t>(largo);
  if (posicion < g.desde || fin > g.desde + static_cast<int64_t>(g.ventana.size())) {
    g.desde = posicion / 4096 * 4096;
    g.ventana.resize(static_cast<std::size_t>(std::min(kTamVentana, g.largo - g.desde)));
    ssize_t leidos = pread(g.fd, g.ventana.data(), g.ventana.size(), g.desde);
    g.ventana.resize(leidos > 0 ? static_cast<std::size_t>(leidos) : 0);
    if (fin > g.desde + static_cast<int64_t>(g.ventana.size())) return false;
  }
  return memcmp(g.ventana.data() + (posicion - g.desde), contenido, largo) == 0;
}

bool IgualQueElGrabado(AlmacenFicheros &almacen, const DatagramaActual &actual,
                       const Paquete &paquete) {
  Sondeo suelto;
  Sondeo *sondeo = almacen.lotes > 0 ? SondeoDelLote(almacen, actual.elnombre) : nullptr;
  if (sondeo == nullptr) sondeo = &suelto;
  if (sondeo->abierto == -1) sondeo->abierto = AbrirGrabado(almacen, actual.elnombre);
  // what is no plain file that can be read is left as it is
  if (sondeo->abierto < 0) return true;
  Grabado &g = almacen.grabados[static_cast<std::size_t>(sondeo->abierto)];
  std::size_t largo = static_cast<std::size_t>(paquete.tampaquete - TamCabecera);
  int64_t posicion = PosicionEnElGrabado(actual, static_cast<int32_t>(largo), g.largo);
  return posicion >= 0 && MismosBytes(g, paquete.datos + TamCabecera, largo, posicion);
}
