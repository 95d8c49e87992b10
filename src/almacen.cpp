#include "almacen.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "directorio.h"
#include "en_curso.h"
#include "escritura.h"
#include "informes.h"
#include "registro.h"
#include "salida.h"

/// How often, with resume asked, the files in progress are saved while the receiver runs.
static constexpr int64_t kSegundosEntreRegistros = 5;
/// Stored identities whose leftovers were removed, remembered so that each is removed once.
static constexpr std::size_t kMaxLimpiados = 64;

static bool PaqueteImposible(const AlmacenFicheros &almacen, const DatagramaActual &actual,
                             const Paquete &paquete, FILE *salida) {
  const std::string &id = actual.elnombre;
  if (paquete.tampaquete < TamCabecera) {
    Informar(almacen, id, salida, "Paquete de %d bytes, mas corto que la cabecera, descartado.\n",
             paquete.tampaquete);
  } else if (paquete.truncado) {
    Informar(almacen, id, salida, "Paquete de mas de %d bytes, descartado.\n", kTamMaxPaquete);
  } else if (actual.totpartes <= 0) {
    Informar(almacen, id, salida, "Total de partes %d no valido, descartado.\n", actual.totpartes);
  } else if (actual.parteactual < 0 || actual.parteactual >= actual.totpartes) {
    Informar(almacen, id, salida, "Parte %d/%d fuera del fichero, descartada.\n",
             actual.parteactual, actual.totpartes);
  } else if (paquete.tampaquete == TamCabecera && actual.parteactual < actual.totpartes - 1) {
    // every part but the last carries the file's part size: an empty one places the others
    // nowhere
    Informar(almacen, id, salida, "Parte %d/%d vacia sin ser la ultima, descartada.\n",
             actual.parteactual, actual.totpartes);
  } else if (NombreConBarra(actual.nombre)) {
    Informar(almacen, id, salida, "Nombre con '/' no permitido, descartado.\n");
  } else if (TerminaEnTemporal(id)) {
    // another file's temporary name: storing it, or starting that file, would delete the other
    Informar(almacen, id, salida, "Nombre terminado en '.tmp' no permitido, descartado.\n");
  } else if (id.size() > kMaxIdentidad) {
    Informar(almacen, id, salida, "Nombre demasiado largo (%zu caracteres), descartado.\n",
             id.size());
  } else {
    return false;
  }
  return true;
}

void EmpezarLote(AlmacenFicheros &almacen) {
  almacen.en_lote = true;
  almacen.sondeos.clear();
}

static std::pair<std::string, bool> *SondeoDelLote(AlmacenFicheros &almacen,
                                                   const std::string &nombre) {
  for (auto it = almacen.sondeos.rbegin(); it != almacen.sondeos.rend(); ++it)
    if (it->first == nombre) return &*it;
  return nullptr;
}

// A stored file needs no temporary file nor record: an earlier run that ended between the
// rename and the record's removal, or a file that came by other means, leaves them.
static void LimpiarRestos(AlmacenFicheros &almacen, const std::string &identidad) {
  std::vector<std::string> &limpiados = almacen.limpiados;
  if (Buscar(almacen, identidad) >= 0 ||
      std::find(limpiados.begin(), limpiados.end(), identidad) != limpiados.end())
    return;
  unlink((identidad + std::string(kSufijoTemporal)).c_str());
  BorrarRegistro(identidad);
  if (limpiados.size() == kMaxLimpiados) limpiados.erase(limpiados.begin());
  limpiados.push_back(identidad);
}

// The final name counts as stored when it can be read; asked without opening it, so that a
// FIFO of that name cannot block the receiver. Asked once per batch: the datagrams of a file
// mostly come together.
static bool YaGrabado(AlmacenFicheros &almacen, const std::string &nombre) {
  if (almacen.en_lote)
    if (auto *sondeo = SondeoDelLote(almacen, nombre)) return sondeo->second;
  bool grabado = access(nombre.c_str(), R_OK) == 0;
  if (almacen.en_lote) almacen.sondeos.emplace_back(nombre, grabado);
  if (grabado) LimpiarRestos(almacen, nombre);
  return grabado;
}

// A file completed within the batch is stored for the rest of it, without asking again.
static void AnotarGrabado(AlmacenFicheros &almacen, const std::string &nombre) {
  if (auto *sondeo = SondeoDelLote(almacen, nombre)) sondeo->second = true;
}

// Parts of the same file sent with another part size would complete it with wrong content.
static bool OtraDisposicion(const AlmacenFicheros &almacen, const FicheroEnCurso &f,
                            const DatagramaActual &actual, const Paquete &paquete, FILE *salida) {
  int32_t largo = paquete.tampaquete - TamCabecera, propio = f.tamparte_propio;
  bool es_ultima = actual.parteactual == f.totpartes - 1;
  if (propio == kTamParteDesconocido || (es_ultima ? largo <= propio : largo == propio))
    return false;
  Informar(almacen, f.old_nombre, salida,
           "Parte de %d bytes distinta de las del fichero en curso (%d), descartada.\n", largo,
           propio);
  return true;
}

// A datagram of a file in progress, or of one just resumed, that does not fit it is refused
// with one line.
static bool NoEncajaEnElFichero(const AlmacenFicheros &almacen, const FicheroEnCurso &f,
                                const DatagramaActual &actual, const Paquete &paquete,
                                FILE *salida) {
  if (actual.totpartes != f.totpartes) {
    // parts of another count would be flagged against this file and could complete it
    Informar(almacen, f.old_nombre, salida,
             "Total de partes %d distinto del fichero en curso (%d), descartado.\n",
             actual.totpartes, f.totpartes);
    return true;
  }
  return OtraDisposicion(almacen, f, actual, paquete, salida);
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
  if (f.totpartes == 1) return 0;
  if (f.tamparte_propio != kTamParteDesconocido)
    return static_cast<int64_t>(actual.parteactual) * f.tamparte_propio;
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
  int64_t posicion = f.totpartes == 1 ? 0 : static_cast<int64_t>(indice) * f.tamparte_propio;
  return pread(f.pf1, leido, largo, posicion) == static_cast<ssize_t>(largo) &&
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

void AlmacenarParte(AlmacenFicheros &almacen, const DatagramaActual &actual, const Paquete &paquete,
                    int32_t tamparte, int32_t &faltan, FILE *salida) {
  if (PaqueteImposible(almacen, actual, paquete, salida)) return;
  if (YaGrabado(almacen, actual.elnombre)) {
    if (!almacen.opciones.silencioso) EscribirTexto(salida, "Ya grabado antes...\n");
    return;
  }
  int32_t largo = paquete.tampaquete - TamCabecera;
  int cual = Buscar(almacen, actual.elnombre);
  if (cual < 0) cual = EmpezarFichero(almacen, actual, tamparte, largo, salida);
  if (NoEncajaEnElFichero(almacen, almacen.en_curso[static_cast<std::size_t>(cual)], actual,
                          paquete, salida))
    return;
  std::size_t indice = static_cast<std::size_t>(actual.parteactual);
  if (Recibida(almacen.en_curso[static_cast<std::size_t>(cual)].partesrecibidas[indice])) {
    if (IgualQueLaGuardada(almacen.en_curso[static_cast<std::size_t>(cual)], actual.parteactual,
                           paquete)) {
      Tocar(almacen, cual, faltan);
      return;
    }
    cual = EmpezarDeNuevo(almacen, cual, actual, tamparte, largo, salida);
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
  // the records' new names too
  if (!almacen.en_curso.empty() && !SincronizarDirectorio(almacen.directorio))
    ReportarFallo(almacen, "Error al sincronizar el directorio de trabajo", errno, salida);
}

void GuardarSiToca(AlmacenFicheros &almacen, int64_t ahora, FILE *salida) {
  if (!almacen.opciones.reanudar) return;
  if (almacen.ultimo_registro == 0) almacen.ultimo_registro = ahora;
  if (ahora - almacen.ultimo_registro < kSegundosEntreRegistros) return;
  almacen.ultimo_registro = ahora;
  GuardarFicherosEnCurso(almacen, salida);
}
