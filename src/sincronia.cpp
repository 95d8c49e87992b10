#include "sincronia.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "escritura.h"
#include "informes.h"
#include "nombres.h"
#include "registro.h"
#include "salida.h"

/// Bytes copied at a time into a new temporary file.
static constexpr std::size_t kTamCopia = 1 << 20;

// A last part kept in memory is not written yet: it is neither on disk nor lost.
static int32_t EnMemoria(const FicheroEnCurso &f) {
  return f.ultima_adelantada ? UltimaParte(f.disposicion) : -1;
}

// Every part not known to be on disk is missing again, to be written anew when it comes.
static void DevolverNoSincronizadas(FicheroEnCurso &f) {
  DevolverNoSincronizadas(f.partes, EnMemoria(f));
  if (!Recibida(f.partes, UltimaParte(f.disposicion))) f.disposicion.ultima = -1;
}

// Where the bytes of the parts before hasta end in the file.
static int64_t FinDePartes(const FicheroEnCurso &f, int32_t hasta) {
  if (hasta < f.disposicion.totpartes) return PosicionDeLaParte(f.disposicion, hasta);
  return LargoDelFichero(f.disposicion);
}

static bool CopiarTramo(int desde_fd, int hacia_fd, int64_t desde, int64_t hasta,
                        unsigned char *bloque) {
  while (desde < hasta) {
    std::size_t largo = static_cast<std::size_t>(std::min<int64_t>(hasta - desde, kTamCopia));
    ssize_t leidos = pread(desde_fd, bloque, largo, desde);
    if (leidos < 0 && errno == EINTR) continue;
    if (leidos <= 0) {
      if (leidos == 0) errno = EIO;
      return false;
    }
    if (!GrabarCompleto(hacia_fd, bloque, static_cast<std::size_t>(leidos), desde)) return false;
    desde += leidos;
  }
  return true;
}

// Copies the parts on disk, run by run, into the new temporary file, where they are written but
// not yet synced.
static bool CopiarSincronizadas(FicheroEnCurso &f, int nuevo) {
  std::unique_ptr<unsigned char[]> bloque(new unsigned char[kTamCopia]);
  std::vector<unsigned char> &partes = f.partes.estados;
  for (int32_t i = 0; i < f.disposicion.totpartes;) {
    if (partes[static_cast<std::size_t>(i)] != kSincronizada) {
      ++i;
      continue;
    }
    int32_t fin = i;
    while (fin < f.disposicion.totpartes && partes[static_cast<std::size_t>(fin)] == kSincronizada)
      ++fin;
    if (!CopiarTramo(f.pf1, nuevo, PosicionDeLaParte(f.disposicion, i), FinDePartes(f, fin),
                     bloque.get()))
      return false;
    MarcarCopiadas(f.partes, i, fin);
    i = fin;
  }
  return true;
}

// The file goes on in a new temporary file that takes the old one's name; the old one, whose
// failed write-back may hide under a later sync, goes.
static bool Mudar(AlmacenFicheros &almacen, FicheroEnCurso &f, FILE *salida) {
  DevolverNoSincronizadas(f);
  std::string nuevo = NombreTemporalNuevo(f.old_nombre_temp);
  unlink(nuevo.c_str());
  int fd = open(nuevo.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd >= 0 && CopiarSincronizadas(f, fd) &&
      rename(nuevo.c_str(), f.old_nombre_temp.c_str()) == 0) {
    close(f.pf1);
    f.pf1 = fd;
    f.mudar = false;
    return true;
  }
  ReportarFalloUnaVez(almacen, f, "Error al pasar el fichero a un temporal nuevo", errno, salida);
  if (fd >= 0) close(fd);
  unlink(nuevo.c_str());
  // what the copy marked as written is in no temporary file that stays
  DevolverNoSincronizadas(f);
  return false;
}

bool SincronizarTemporal(AlmacenFicheros &almacen, FicheroEnCurso &f, FILE *salida) {
  if (f.mudar && !Mudar(almacen, f, salida)) return false;
  if (fdatasync(f.pf1) == 0) {
    MarcarEnDisco(f.partes, EnMemoria(f));
    return true;
  }
  int error = errno;
  if (PrimeraVez(f, "Error al sincronizar", error)) {
    fflush(salida);
    ++almacen.fallos;
    fprintf(almacen.errores, "%s%s: Error al sincronizar %s: %s\n",
            Prefijo(almacen.errores, Prioridad::kError), NombreVisible(f.apodo).c_str(),
            NombreVisible(f.old_nombre_temp).c_str(), strerror(error));
  }
  BorrarRegistro(f.raiz);
  f.mudar = true;
  Mudar(almacen, f, salida);
  return false;
}
