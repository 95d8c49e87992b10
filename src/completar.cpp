#include "completar.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "directorio.h"
#include "en_curso.h"
#include "entregas.h"
#include "firmas.h"
#include "escritura.h"
#include "informes.h"
#include "registro.h"
#include "sincronia.h"

// Writes a last part kept in memory at its place, now that the file's part size is known.
static bool EscribirUltima(AlmacenFicheros &almacen, FicheroEnCurso &f, FILE *salida) {
  if (!f.ultima_adelantada) return true;
  int64_t correcta = PosicionDeLaParte(f.disposicion, UltimaParte(f.disposicion));
  if (!GrabarCompleto(f.pf1, f.ultima.data(), f.ultima.size(), correcta)) {
    ReportarFallo(almacen, f.apodo, "Error al recolocar la ultima parte en el fichero temporal",
                  errno, salida);
    EsperarUltimaOtraVez(f);
    return false;
  }
  if (f.ultima_posicion != correcta)
    Informar(almacen, f.apodo, salida, "Ultima parte recolocada,posicion %lld....%zu bytes...\n",
             static_cast<long long>(correcta), f.ultima.size());
  f.ultima_adelantada = false;
  return true;
}

// Bytes past the last part, left by an earlier run, go; with resume asked, the file is on
// disk before it takes its final name.
static bool DejarEnDisco(AlmacenFicheros &almacen, FicheroEnCurso &f, FILE *salida) {
  if (ftruncate(f.pf1, LargoDelFichero(f.disposicion)) != 0) {
    ReportarFallo(almacen, f.apodo, "Error al recortar el fichero temporal", errno, salida);
    EsperarUltimaOtraVez(f);
    return false;
  }
  return !almacen.opciones.reanudar || SincronizarTemporal(almacen, f, salida);
}

// With a program to run on completed files, the hand-off is marked on disk before the file
// takes its name: whatever ends the receiver afterwards, the next start hands it over. Says
// whether the mark is this completion's own, which a failure then takes back: one left by an
// earlier version of the file still waits for its program.
static bool AnotarSiSeEntrega(AlmacenFicheros &almacen, FicheroEnCurso &f, bool &marca_propia,
                              FILE *salida) {
  marca_propia = false;
  if (!almacen.opciones.entregar) return true;
  marca_propia = !HayEntrega(f.old_nombre);
  if (AnotarEntrega(f.old_nombre)) return true;
  ReportarFallo(almacen, f.apodo, "Error al anotar la entrega pendiente", errno, salida);
  EsperarUltimaOtraVez(f);
  return false;
}

// The one check that no way to the final name skips: every part is in the temporary file
// (synced, when resuming is asked), none waits in memory. A part found missing again is
// already counted in faltan, and the file waits for it.
static bool EnteroEnElTemporal(const AlmacenFicheros &almacen, const FicheroEnCurso &f) {
  return Completas(f.partes, almacen.opciones.reanudar) && !f.ultima_adelantada &&
         f.buffer.partes.empty() && f.disposicion.ultima >= 0;
}

/// Parts read back at once to check them against their signed digests.
static constexpr int32_t kPartesPorLectura = 512;

// With trusted keys, every part on disk matches its signed digest, read back from the temporary
// file: parts resumed from an earlier run were never checked in this one, and a description
// signed anew since leaves the older parts unmatched. One read of the file, once.
static bool FirmadoEntero(const AlmacenFicheros &almacen, const FicheroEnCurso &f) {
  if (almacen.firmas == nullptr) return true;
  const Disposicion &d = f.disposicion;
  int64_t tamparte = d.totpartes == 1 ? d.ultima : d.tamparte;
  std::vector<unsigned char> bloque(static_cast<std::size_t>(tamparte) * kPartesPorLectura);
  for (int32_t desde = 0; desde < d.totpartes; desde += kPartesPorLectura) {
    int32_t hasta = std::min(d.totpartes, desde + kPartesPorLectura);
    int64_t inicio = PosicionDeLaParte(d, desde);
    int64_t bytes = (hasta == d.totpartes ? LargoDelFichero(d) : PosicionDeLaParte(d, hasta)) - inicio;
    if (pread(f.pf1, bloque.data(), static_cast<std::size_t>(bytes), inicio) != bytes) return false;
    for (int32_t i = desde; i < hasta; ++i) {
      int64_t largo = i == UltimaParte(d) ? d.ultima : d.tamparte;
      if (ComprobarParte(*almacen.firmas, f.old_nombre, d.totpartes, i,
                         bloque.data() + (PosicionDeLaParte(d, i) - inicio),
                         static_cast<int32_t>(largo)) != Firma::kCierta)
        return false;
    }
  }
  return true;
}

// A file whose parts on disk its sender did not sign as they are goes, and is received afresh.
static void SinFirmaEntera(AlmacenFicheros &almacen, std::size_t cual, FILE *salida) {
  InformarCon(almacen, Prioridad::kAviso, almacen.en_curso[cual].apodo, salida,
              "Partes que no coinciden con su descripcion firmada: se empieza de nuevo.\n");
  DescartarFichero(almacen, cual);
}

// Without new versions taken, a file stored leaves another sender's version of it in progress
// nothing to complete: its datagrams are answered as stored from now on.
static void DejarOtrasVersiones(AlmacenFicheros &almacen, const std::string &identidad,
                                FILE *salida) {
  if (almacen.opciones.actualizar) return;
  for (int cual; (cual = BuscarDe(almacen, identidad, nullptr)) >= 0;)
    AbandonarFichero(almacen, static_cast<std::size_t>(cual), salida);
}

// "Completado!" under the name the file went by, and the file is for whoever acts on completed
// files. Its record goes, unless a version whose names are the same is in progress again.
static void Anunciar(AlmacenFicheros &almacen, const Completado &c, FILE *salida) {
  if (BuscarPorRaiz(almacen, c.raiz) < 0) BorrarRegistro(c.raiz);
  Informar(almacen, c.apodo, salida, "Completado!\n");
  ++almacen.completados;
  almacen.recien_completados.push_back(c.final_);
  DejarOtrasVersiones(almacen, c.final_, salida);
}

// A failed rename leaves the data in the temporary file, which the next file's start deletes.
static void NoRenombrado(AlmacenFicheros &almacen, const std::string &temporal,
                         const std::string &final_, const std::string &raiz, bool marca_propia,
                         int error, FILE *salida) {
  BorrarRegistro(raiz);
  if (marca_propia) BorrarEntrega(final_);
  ReportarFallo(almacen, final_, "Error al renombrar el fichero temporal", error, salida);
  almacen.temporal_huerfano = temporal;
}

bool CompletarFichero(AlmacenFicheros &almacen, std::size_t cual, FILE *salida) {
  FicheroEnCurso &f = almacen.en_curso[cual];
  VolcarBuffer(almacen, f, salida);
  bool marca_propia = false;
  if (f.partes.faltan != 0 || !EscribirUltima(almacen, f, salida) ||
      !DejarEnDisco(almacen, f, salida) || !EnteroEnElTemporal(almacen, f))
    return false;
  if (!FirmadoEntero(almacen, f)) {
    SinFirmaEntera(almacen, cual, salida);
    return false;
  }
  if (!AnotarSiSeEntrega(almacen, f, marca_propia, salida)) return false;
  // every part is on disk now: whatever failed on the way is over
  DarPorSuperados(almacen, f, salida);
  std::string temporal = f.old_nombre_temp, final_ = f.old_nombre, raiz = f.raiz;
  Completado completado{f.old_nombre, f.raiz, f.apodo};
  bool renombrado = rename(temporal.c_str(), final_.c_str()) == 0;
  int error = errno;
  // complete or not, the file is no longer in progress: its next datagram is probed afresh
  QuitarFichero(almacen, cual);
  if (!renombrado) {
    NoRenombrado(almacen, temporal, final_, raiz, marca_propia, error, salida);
    return false;
  }
  // With resume asked, the new name is on disk before the file is announced. Until a sync of
  // the directory succeeds, the file stays under its final name, whole whichever name a loss
  // of power leaves (its data is on disk), and its record stays for the temporary name.
  if (almacen.opciones.reanudar && !SincronizarDirectorio(almacen.directorio)) {
    ReportarFallo(almacen, final_, "Error al sincronizar el directorio de trabajo", errno, salida);
    almacen.sin_anunciar.push_back(completado);
    return false;
  }
  Anunciar(almacen, completado, salida);
  return true;
}

void AnunciarSiEstanEnDisco(AlmacenFicheros &almacen, FILE *salida) {
  if (almacen.sin_anunciar.empty() || !SincronizarDirectorio(almacen.directorio)) return;
  for (const Completado &completado : almacen.sin_anunciar) Anunciar(almacen, completado, salida);
  almacen.sin_anunciar.clear();
}
