#include "guardar.h"

#include <cerrno>

#include "completar.h"
#include "directorio.h"
#include "escritura.h"
#include "informes.h"
#include "registro.h"
#include "sincronia.h"

/// How often, with resume asked, the files in progress are saved while the receiver runs.
static constexpr int64_t kSegundosEntreRegistros = 5;

// Writes out the file's buffer, syncs the file and writes its record. A failed sync makes every
// part not known to be on disk missing again, and leaves no record.
static void GuardarFichero(AlmacenFicheros &almacen, FicheroEnCurso &f, FILE *salida) {
  VolcarBuffer(almacen, f, salida);
  // a write that failed since leaves a part missing, which the next save looks at again
  bool escritas = Fallidas(f.partes) == 0;
  if (SincronizarTemporal(almacen, f, salida) && EscribirRegistro(almacen, f, salida) && escritas)
    DarPorSuperados(almacen, f, salida);
}

void VolcarFicheros(AlmacenFicheros &almacen, FILE *salida) {
  for (FicheroEnCurso &f : almacen.en_curso) VolcarBuffer(almacen, f, salida);
}

void GuardarFicherosEnCurso(AlmacenFicheros &almacen, FILE *salida) {
  if (!almacen.opciones.reanudar) {
    VolcarFicheros(almacen, salida);
    return;
  }
  for (FicheroEnCurso &f : almacen.en_curso) GuardarFichero(almacen, f, salida);
  // the records' new names too; a failure that lasts is told once
  if (!almacen.en_curso.empty() && !SincronizarDirectorio(almacen.directorio)) {
    if (errno != almacen.error_directorio)
      ReportarFallo(almacen, "", "Error al sincronizar el directorio de trabajo", errno, salida);
    almacen.error_directorio = errno;
  } else {
    almacen.error_directorio = 0;
  }
  AnunciarSiEstanEnDisco(almacen, salida);
}

void GuardarSiToca(AlmacenFicheros &almacen, int64_t ahora, FILE *salida) {
  if (!almacen.opciones.reanudar) return;
  if (almacen.ultimo_registro == 0) almacen.ultimo_registro = ahora;
  if (ahora - almacen.ultimo_registro < kSegundosEntreRegistros) return;
  almacen.ultimo_registro = ahora;
  GuardarFicherosEnCurso(almacen, salida);
}
