#include "escritura.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "ficheros.h"
#include "informes.h"

bool GrabarCompleto(int fd, const unsigned char *datos, std::size_t largo, int64_t posicion,
                    std::size_t *hechos) {
  if (hechos != nullptr) *hechos = 0;
  while (largo > 0) {
    ssize_t escritos = pwrite(fd, datos, largo, posicion);
    if (escritos < 0 && errno == EINTR) continue;
    if (escritos < 0) return false;
    if (escritos == 0) {
      errno = ENOSPC;
      return false;
    }
    if (hechos != nullptr) *hechos += static_cast<std::size_t>(escritos);
    datos += escritos;
    largo -= static_cast<std::size_t>(escritos);
    posicion += escritos;
  }
  return true;
}

void SoltarBuffer(AlmacenFicheros &almacen, FicheroEnCurso &f) {
  BufferEscritura &b = f.buffer;
  if (b.memoria == nullptr) return;
  b = BufferEscritura{};
  --almacen.buffers;
}

// The parts that a failed write did not wholly store, from hasta on, are missing again; the
// disk's error is told once per file.
static void DevolverPartes(AlmacenFicheros &almacen, FicheroEnCurso &f, const ParteEnBuffer *partes,
                           std::size_t cuantas, int64_t hasta, int error, FILE *salida) {
  for (std::size_t i = 0; i < cuantas; ++i) {
    if (partes[i].posicion + partes[i].largo <= hasta) continue;
    if (f.partes.estados[static_cast<std::size_t>(partes[i].indice)] != kGrabada) continue;
    Devolver(f.partes, partes[i].indice);
    if (partes[i].indice == UltimaParte(f.disposicion)) f.disposicion.ultima = -1;
  }
  ReportarFalloUnaVez(almacen, f, "Error al grabar la parte en el fichero temporal", error, salida);
  if (error == ENOSPC || error == EDQUOT) f.sin_sitio = almacen.disco_lleno = true;
}

// Writes the bytes from desde to hasta, a run of parts with nothing missing between them.
static void EscribirTramo(AlmacenFicheros &almacen, FicheroEnCurso &f, int64_t desde, int64_t hasta,
                          const ParteEnBuffer *partes, std::size_t cuantas, FILE *salida) {
  const BufferEscritura &b = f.buffer;
  const unsigned char *bytes = b.memoria.get() + (desde - b.base);
  std::size_t hechos = 0;
  if (!GrabarCompleto(f.pf1, bytes, static_cast<std::size_t>(hasta - desde), desde, &hechos)) {
    DevolverPartes(almacen, f, partes, cuantas, desde + static_cast<int64_t>(hechos), errno,
                   salida);
    return;
  }
  // with resume asked, the disk starts on full blocks now, so that the final sync is short
  if (almacen.opciones.reanudar && hasta - desde >= kTamPagina)
    sync_file_range(f.pf1, desde, hasta - desde, SYNC_FILE_RANGE_WRITE);
}

// Writes what the buffer holds, in runs of parts that follow each other; returns where the
// highest run ends and where it starts.
static void EscribirTodo(AlmacenFicheros &almacen, FicheroEnCurso &f, int64_t &inicio_ultimo,
                         int64_t &fin_ultimo, FILE *salida) {
  BufferEscritura &b = f.buffer;
  // parts mostly come in order, and then are in order already
  if (b.desordenadas)
    std::sort(b.partes.begin(), b.partes.end(), [](const ParteEnBuffer &x, const ParteEnBuffer &y) {
      return x.posicion < y.posicion;
    });
  inicio_ultimo = fin_ultimo = b.base;
  std::size_t i = 0;
  while (i < b.partes.size()) {
    std::size_t primera = i;
    // the bytes kept on disk already go with the run that follows them, so that it starts on
    // a page
    int64_t desde = b.partes[i].posicion == b.base + b.arrastre ? b.base : b.partes[i].posicion;
    int64_t hasta = b.partes[i].posicion + b.partes[i].largo;
    while (++i < b.partes.size() && b.partes[i].posicion == hasta) hasta += b.partes[i].largo;
    EscribirTramo(almacen, f, desde, hasta, &b.partes[primera], i - primera, salida);
    inicio_ultimo = desde;
    fin_ultimo = hasta;
  }
  b.partes.clear();
  b.desordenadas = false;
  b.arrastre = 0;
}

void VolcarBuffer(AlmacenFicheros &almacen, FicheroEnCurso &f, FILE *salida) {
  int64_t inicio = 0, fin = 0;
  if (f.buffer.partes.empty()) return;
  EscribirTodo(almacen, f, inicio, fin, salida);
  // without resume, a save is a write: once every part is written again, the trouble is over
  if (!almacen.opciones.reanudar && !f.errores_avisados.empty() && Fallidas(f.partes) == 0)
    DarPorSuperados(almacen, f, salida);
}

static bool Cabe(const BufferEscritura &b, int64_t posicion, int32_t largo) {
  int64_t desde = posicion - b.base;
  return desde >= b.arrastre && desde + largo <= kTamBuffer;
}

// A window of the file that holds the part: one that goes on from a run just written starts
// on the page where the run ended, keeping its last bytes; one below the last starts so that
// the part lies at its top, for files sent backwards.
static void MoverVentana(BufferEscritura &b, int64_t posicion, int32_t largo, int64_t inicio_run,
                         int64_t fin_run) {
  int64_t pagina = posicion / kTamPagina * kTamPagina;
  if (posicion == fin_run && inicio_run <= pagina && pagina < fin_run && fin_run > b.base) {
    memmove(b.memoria.get(), b.memoria.get() + (pagina - b.base),
            static_cast<std::size_t>(fin_run - pagina));
    b.arrastre = fin_run - pagina;
    b.base = pagina;
  } else if (posicion < b.base) {
    int64_t tope = (posicion + largo + kTamPagina - 1) / kTamPagina * kTamPagina;
    b.base = std::max<int64_t>(0, tope - kTamBuffer);
  } else {
    b.base = pagina;
  }
}

// Memory for one more buffer; at the limit, the least recently touched file gives its own.
static void DarMemoria(AlmacenFicheros &almacen, FicheroEnCurso &f, FILE *salida) {
  if (almacen.buffers >= kMaxBuffers) {
    FicheroEnCurso *cedente = nullptr;
    for (FicheroEnCurso &otro : almacen.en_curso)
      if (otro.buffer.memoria != nullptr && &otro != &f &&
          (cedente == nullptr || otro.ultimo_uso < cedente->ultimo_uso))
        cedente = &otro;
    VolcarBuffer(almacen, *cedente, salida);
    SoltarBuffer(almacen, *cedente);
  }
  // not cleared: only the bytes of the parts copied in are ever written
  f.buffer.memoria.reset(new unsigned char[kTamBuffer]);
  ++almacen.buffers;
}

void GuardarEnBuffer(AlmacenFicheros &almacen, FicheroEnCurso &f, int32_t indice, int64_t posicion,
                     const unsigned char *datos, int32_t largo, FILE *salida) {
  BufferEscritura &b = f.buffer;
  if (b.memoria == nullptr) {
    DarMemoria(almacen, f, salida);
    MoverVentana(b, posicion, largo, -1, -1);
  } else if (!Cabe(b, posicion, largo)) {
    int64_t inicio = b.base, fin = b.base;
    if (!b.partes.empty()) EscribirTodo(almacen, f, inicio, fin, salida);
    MoverVentana(b, posicion, largo, inicio, fin);
  }
  memcpy(b.memoria.get() + (posicion - b.base), datos, static_cast<std::size_t>(largo));
  if (!b.partes.empty() && posicion < b.partes.back().posicion) b.desordenadas = true;
  b.partes.push_back({indice, posicion, largo});
}

const unsigned char *ParteRetenida(const FicheroEnCurso &f, int32_t indice) {
  const BufferEscritura &b = f.buffer;
  for (const ParteEnBuffer &p : b.partes)
    if (p.indice == indice) return b.memoria.get() + (p.posicion - b.base);
  return nullptr;
}
