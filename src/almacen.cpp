#include "almacen.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "directorio.h"
#include "disposicion.h"
#include "en_curso.h"
#include "escritura.h"
#include "informes.h"
#include "registro.h"
#include "salida.h"
#include "versiones.h"

/// How often, with resume asked, the files in progress are saved while the receiver runs.
static constexpr int64_t kSegundosEntreRegistros = 5;

static bool PaqueteImposible(AlmacenFicheros &almacen, const DatagramaActual &actual,
                             const Paquete &paquete, FILE *salida) {
  const std::string &id = actual.elnombre;
  if (paquete.tampaquete < TamCabecera) {
    Rechazar(almacen, id, salida, "Paquete de %d bytes, mas corto que la cabecera, descartado.\n",
             paquete.tampaquete);
  } else if (paquete.truncado) {
    Rechazar(almacen, id, salida, "Paquete de mas de %d bytes, descartado.\n", kTamMaxPaquete);
  } else if (actual.totpartes <= 0) {
    Rechazar(almacen, id, salida, "Total de partes %d no valido, descartado.\n", actual.totpartes);
  } else if (actual.parteactual < 0 || actual.parteactual >= actual.totpartes) {
    Rechazar(almacen, id, salida, "Parte %d/%d fuera del fichero, descartada.\n",
             actual.parteactual, actual.totpartes);
  } else if (paquete.tampaquete == TamCabecera && actual.parteactual < actual.totpartes - 1) {
    // every part but the last carries the file's part size: an empty one places the others
    // nowhere
    Rechazar(almacen, id, salida, "Parte %d/%d vacia sin ser la ultima, descartada.\n",
             actual.parteactual, actual.totpartes);
  } else if (NombreConBarra(actual.nombre)) {
    Rechazar(almacen, id, salida, "Nombre con '/' no permitido, descartado.\n");
  } else if (TerminaEnTemporal(id)) {
    // another file's temporary name: storing it, or starting that file, would delete the other
    Rechazar(almacen, id, salida, "Nombre terminado en '.tmp' no permitido, descartado.\n");
  } else if (id.size() > kMaxIdentidad) {
    Rechazar(almacen, id, salida, "Nombre demasiado largo (%zu caracteres), descartado.\n",
             id.size());
  } else {
    return false;
  }
  return true;
}

// The file in progress that takes the datagram, started when needed; -1 when the datagram goes
// no further: its file is stored (and, with new versions asked for, agrees with it), or the
// datagram is refused.
static int FicheroDelDatagrama(AlmacenFicheros &almacen, const DatagramaActual &actual,
                               const Paquete &paquete, int32_t tamparte, FILE *salida) {
  const std::string &id = actual.elnombre;
  int32_t largo = paquete.tampaquete - TamCabecera;
  // a new version in progress is rebuilt beside the stored one, which stays until it completes
  bool actualizar = almacen.opciones.actualizar;
  int cual = actualizar ? Buscar(almacen, id) : -1;
  if (cual < 0 && YaGrabado(almacen, id)) {
    if (!actualizar || IgualQueElGrabado(almacen, actual, paquete)) {
      DecirYaGrabado(almacen, id, salida);
      return -1;
    }
    Informar(almacen, id, salida, "Nueva version del fichero grabado: se recibe de nuevo.\n");
  } else if (!actualizar) {
    cual = Buscar(almacen, id);
  }
  if (cual < 0) cual = EmpezarFichero(almacen, actual, tamparte, largo, salida);
  return SeguirLaDisposicion(almacen, cual, actual, tamparte, paquete.datos + TamCabecera, largo,
                             salida);
}

// Where the part goes. A last part is placed with the file's own part size once that is known;
// before that, with the loop's, and it is kept in memory until the file completes.
static int64_t PosicionDeParte(FicheroEnCurso &f, const DatagramaActual &actual, int32_t tamparte,
                               const unsigned char *contenido, std::size_t largo) {
  bool es_ultima = actual.parteactual == f.totpartes - 1;
  if (!es_ultima) {
    if (f.tamparte_propio == kTamParteDesconocido) f.tamparte_propio = tamparte;
    return static_cast<int64_t>(actual.parteactual) * tamparte;
  }
  if (f.totpartes == 1 || f.tamparte_propio != kTamParteDesconocido)
    return PosicionDeLaParte(f, actual.parteactual);
  f.ultima_adelantada = true;
  f.ultima_posicion = static_cast<int64_t>(actual.parteactual) * tamparte;
  f.ultima.assign(contenido, contenido + largo);
  return f.ultima_posicion;
}

// A last part kept from before the file's part size was known, longer than that size, cannot
// be this file's: it goes, and the last part is awaited again.
static void DescartarUltimaMasLarga(const AlmacenFicheros &almacen, FicheroEnCurso &f,
                                    FILE *salida) {
  if (!f.ultima_adelantada || f.tamparte_propio == kTamParteDesconocido ||
      f.ultima.size() <= static_cast<std::size_t>(f.tamparte_propio))
    return;
  Informar(almacen, f.old_nombre, salida,
           "Ultima parte de %zu bytes, mayor que las del fichero (%d), descartada.\n",
           f.ultima.size(), f.tamparte_propio);
  f.ultima_adelantada = false;
  f.partesrecibidas[static_cast<std::size_t>(f.totpartes - 1)] = kFalta;
  f.largo_ultima = -1;
  ++f.faltan;
}

// Takes a new part: reported, flagged, and on its way to the disk.
static void TomarParte(AlmacenFicheros &almacen, std::size_t cual, const DatagramaActual &actual,
                       const Paquete &paquete, int32_t tamparte, FILE *salida) {
  FicheroEnCurso &f = almacen.en_curso[cual];
  const unsigned char *contenido = paquete.datos + TamCabecera;
  int32_t largo = paquete.tampaquete - TamCabecera;
  int64_t posicion =
      PosicionDeParte(f, actual, tamparte, contenido, static_cast<std::size_t>(largo));
  InformarParte(almacen, posicion, static_cast<std::size_t>(largo), salida);
  bool es_ultima = actual.parteactual == f.totpartes - 1;
  if (!(es_ultima && f.ultima_adelantada))
    GuardarEnBuffer(almacen, f, actual.parteactual, posicion, contenido, largo, salida);
  f.partesrecibidas[static_cast<std::size_t>(actual.parteactual)] = kGrabada;
  if (es_ultima) f.largo_ultima = largo;
  --f.faltan;
  DescartarUltimaMasLarga(almacen, f, salida);
  if (f.faltan == 0 && CompletarFichero(almacen, cual, salida))
    AnotarGrabado(almacen, actual.elnombre);
}

// Whether a part already taken came again with the same bytes: compared with the buffer, the
// last part kept in memory, or the temporary file. A part that cannot be read back counts as
// changed.
static bool IgualQueLaGuardada(const FicheroEnCurso &f, int32_t indice, const Paquete &paquete) {
  const unsigned char *contenido = paquete.datos + TamCabecera;
  std::size_t largo = static_cast<std::size_t>(paquete.tampaquete - TamCabecera);
  bool es_ultima = indice == f.totpartes - 1;
  int64_t guardado = es_ultima ? f.largo_ultima : f.tamparte_propio;
  if (static_cast<int64_t>(largo) != guardado) return false;
  if (es_ultima && f.ultima_adelantada) return memcmp(f.ultima.data(), contenido, largo) == 0;
  if (const unsigned char *retenida = ParteRetenida(f, indice))
    return memcmp(retenida, contenido, largo) == 0;
  unsigned char leido[kTamMaxParte];
  return pread(f.pf1, leido, largo, PosicionDeLaParte(f, indice)) == static_cast<ssize_t>(largo) &&
         memcmp(leido, contenido, largo) == 0;
}

// The sender changed the file since the part was taken: what is stored cannot be completed
// with what comes now, so the file starts afresh from this datagram.
static int EmpezarDeNuevo(AlmacenFicheros &almacen, int cual, const DatagramaActual &actual,
                          int32_t tamparte, int32_t largo, FILE *salida) {
  Informar(almacen, actual.elnombre, salida,
           "Parte %d distinta de la ya recibida: el fichero ha cambiado, se empieza de nuevo.\n",
           actual.parteactual);
  DescartarFichero(almacen, static_cast<std::size_t>(cual));
  return EmpezarFichero(almacen, actual, tamparte, largo, salida);
}

// The file touched last gives faltan its value; with none in progress it is left as it was.
static void Tocar(AlmacenFicheros &almacen, int cual, int32_t &faltan) {
  almacen.ultimo = cual;
  if (cual < 0) return;
  FicheroEnCurso &f = almacen.en_curso[static_cast<std::size_t>(cual)];
  f.ultimo_uso = ++almacen.reloj;
  faltan = f.faltan;
}

// The datagram that brought the file's new layout first, refused then, is taken now that the
// file follows that layout; returns the file's index, -1 when that completed it.
static int TomarPropuesta(AlmacenFicheros &almacen, int cual, const DatagramaActual &actual,
                          int32_t tamparte, int32_t &faltan, FILE *salida) {
  FicheroEnCurso &f = almacen.en_curso[static_cast<std::size_t>(cual)];
  if (f.parte_propuesta < 0) return cual;
  unsigned char datos[kTamRanura];
  std::vector<unsigned char> contenido = std::move(f.contenido_propuesto);
  if (!contenido.empty()) memcpy(datos + TamCabecera, contenido.data(), contenido.size());
  Paquete paquete{datos, TamCabecera + static_cast<int>(contenido.size()), kTamRanura, false};
  DatagramaActual propuesta = actual;
  propuesta.parteactual = f.parte_propuesta;
  f.parte_propuesta = -1;
  // a part but the last carries the file's part size, whatever the loop's says now
  if (propuesta.parteactual < propuesta.totpartes - 1)
    tamparte = static_cast<int32_t>(contenido.size());
  Tocar(almacen, cual, faltan);
  TomarParte(almacen, static_cast<std::size_t>(cual), propuesta, paquete, tamparte, salida);
  faltan = almacen.ultimo >= 0 ? almacen.en_curso[almacen.ultimo].faltan : 0;
  return Buscar(almacen, actual.elnombre);
}

void AlmacenarParte(AlmacenFicheros &almacen, const DatagramaActual &actual, const Paquete &paquete,
                    int32_t tamparte, int32_t &faltan, FILE *salida) {
  if (PaqueteImposible(almacen, actual, paquete, salida)) return;
  int cual = FicheroDelDatagrama(almacen, actual, paquete, tamparte, salida);
  if (cual >= 0) cual = TomarPropuesta(almacen, cual, actual, tamparte, faltan, salida);
  if (cual < 0) return;
  std::size_t indice = static_cast<std::size_t>(actual.parteactual);
  if (Recibida(almacen.en_curso[static_cast<std::size_t>(cual)].partesrecibidas[indice])) {
    if (IgualQueLaGuardada(almacen.en_curso[static_cast<std::size_t>(cual)], actual.parteactual,
                           paquete)) {
      Tocar(almacen, cual, faltan);
      return;
    }
    cual =
        EmpezarDeNuevo(almacen, cual, actual, tamparte, paquete.tampaquete - TamCabecera, salida);
  }
  Tocar(almacen, cual, faltan);
  TomarParte(almacen, static_cast<std::size_t>(cual), actual, paquete, tamparte, salida);
  // the file may have completed and left: then faltan keeps its last count, 0
  faltan = almacen.ultimo >= 0 ? almacen.en_curso[almacen.ultimo].faltan : 0;
}

// Read from the file itself, since a write that failed after the datagram gives parts back.
int32_t FaltanParaResumen(const AlmacenFicheros &almacen, const DatagramaActual &actual,
                          int32_t faltan) {
  int cual = Buscar(almacen, actual.elnombre);
  if (cual < 0) cual = almacen.ultimo;
  return cual >= 0 ? almacen.en_curso[static_cast<std::size_t>(cual)].faltan : faltan;
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
