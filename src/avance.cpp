#include "avance.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "informes.h"
#include "salida.h"

static constexpr int64_t kMsEntreDibujos = 250;

static std::size_t AnchoDelTerminal() {
  winsize tamano{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &tamano) != 0 || tamano.ws_col == 0) return 80;
  return tamano.ws_col;
}

static int32_t PartesAntes(const Avance &avance, const std::string &identidad, int32_t ahora) {
  for (const auto &[nombre, partes] : avance.antes)
    if (nombre == identidad) return partes;
  return ahora;
}

// "<identidad> N/M P% R KB/s": the rate from the parts taken since the last drawing.
static void AnadirFichero(Renglon &linea, const FicheroEnCurso &f, int32_t antes,
                          int64_t transcurrido_ms) {
  int32_t partes = Recibidas(f.partes);
  AnadirNombre(linea, f.apodo, true);
  Anadir(linea, " ");
  AnadirEntero(linea, partes);
  Anadir(linea, "/");
  AnadirEntero(linea, f.disposicion.totpartes);
  Anadir(linea, " ");
  AnadirEntero(linea, static_cast<int64_t>(partes) * 100 / f.disposicion.totpartes);
  Anadir(linea, "% ");
  int64_t bytes = static_cast<int64_t>(partes - antes) * std::max(f.disposicion.tamparte, 0);
  AnadirEntero(linea, transcurrido_ms > 0 ? bytes * 1000 / transcurrido_ms / 1024 : 0);
  Anadir(linea, " KB/s");
}

void DibujarAvance(Avance &avance, const AlmacenFicheros &almacen, int64_t ahora_ms) {
  if (!avance.activo || (avance.ultimo_ms >= 0 && ahora_ms - avance.ultimo_ms < kMsEntreDibujos))
    return;
  // an idle receiver leaves the terminal alone
  if (almacen.en_curso.empty() && !avance.dibujado) return;
  int64_t transcurrido = avance.ultimo_ms >= 0 ? ahora_ms - avance.ultimo_ms : 0;
  Renglon linea;
  std::vector<std::pair<std::string, int32_t>> ahora;
  for (const FicheroEnCurso &f : almacen.en_curso) {
    // the room of a line that holds a long name is never overrun
    if (linea.largo + f.apodo.size() + 64 > sizeof linea.texto) break;
    if (!ahora.empty()) Anadir(linea, " | ");
    AnadirFichero(linea, f, PartesAntes(avance, f.apodo, Recibidas(f.partes)), transcurrido);
    ahora.emplace_back(f.apodo, Recibidas(f.partes));
  }
  // the last column is left free: some terminals wrap when it is written
  std::size_t ancho = std::min(linea.largo, AnchoDelTerminal() - 1);
  fprintf(stderr, "\r%.*s\x1b[K", static_cast<int>(ancho), linea.texto);
  avance.dibujado = true;
  avance.ultimo_ms = ahora_ms;
  avance.antes = std::move(ahora);
}

void BorrarAvance(Avance &avance) {
  if (!avance.dibujado) return;
  fputs("\r\x1b[K", stderr);
  avance.dibujado = false;
}
