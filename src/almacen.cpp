#include "almacen.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "fatal.h"
#include "salida.h"

// Standard output keeps whole lines; failures of the disk go to standard error after it.
static void ReportarFallo(const char *mensaje, int error, FILE *salida) {
  fflush(salida);
  fprintf(stderr, "%s: %s\n", mensaje, strerror(error));
}

// A full disk fails every part alike: each error is told once per file.
static void ReportarFalloUnaVez(AlmacenFicheros &almacen, const char *mensaje, int error,
                                FILE *salida) {
  std::vector<int> &avisados = almacen.errores_avisados;
  if (std::find(avisados.begin(), avisados.end(), error) != avisados.end()) return;
  avisados.push_back(error);
  ReportarFallo(mensaje, error, salida);
}

// A file left unfinished whose writes failed says how many of its parts never reached the disk.
static void AvisarPartesNoGrabadas(const AlmacenFicheros &almacen, FILE *salida) {
  if (almacen.old_nombre.empty() || almacen.errores_avisados.empty()) return;
  const std::vector<unsigned char> &partes = almacen.partesrecibidas;
  auto fallidas = std::count(partes.begin(), partes.begin() + almacen.totpartes, kFallida);
  if (fallidas == 0) return;
  fflush(salida);
  fprintf(stderr, "Fichero %s abandonado: %ld partes no grabadas.\n", almacen.old_nombre.c_str(),
          static_cast<long>(fallidas));
}

static constexpr std::string_view kSufijoTemporal = ".tmp";

// Such a final name is another file's temporary name: storing it, or starting that file, would
// delete or hide the other.
static bool TerminaEnTmp(const std::string &identidad) {
  return identidad.size() >= kSufijoTemporal.size() &&
         identidad.compare(identidad.size() - kSufijoTemporal.size(), kSufijoTemporal.size(),
                           kSufijoTemporal) == 0;
}

static bool PaqueteImposible(const DatagramaActual &actual, const Paquete &paquete, FILE *salida) {
  if (paquete.tampaquete < TamCabecera) {
    fprintf(salida, "Paquete de %d bytes, mas corto que la cabecera, descartado.\n",
            paquete.tampaquete);
  } else if (paquete.truncado) {
    fprintf(salida, "Paquete de mas de %d bytes, descartado.\n", kTamMaxPaquete);
  } else if (actual.totpartes <= 0) {
    fprintf(salida, "Total de partes %d no valido, descartado.\n", actual.totpartes);
  } else if (actual.parteactual < 0 || actual.parteactual >= actual.totpartes) {
    fprintf(salida, "Parte %d/%d fuera del fichero, descartada.\n", actual.parteactual,
            actual.totpartes);
  } else if (actual.nombre.find('/') != std::string_view::npos) {
    fprintf(salida, "Nombre con '/' no permitido, descartado.\n");
  } else if (TerminaEnTmp(actual.elnombre)) {
    fprintf(salida, "Nombre terminado en '.tmp' no permitido, descartado.\n");
  } else if (actual.elnombre.size() > kMaxIdentidad) {
    fprintf(salida, "Nombre demasiado largo (%zu caracteres), descartado.\n",
            actual.elnombre.size());
  } else {
    return false;
  }
  return true;
}

// The final name counts as stored when it can be read; asked without opening it, so that a
// FIFO of that name cannot block the receiver.
static bool YaGrabado(const std::string &nombre) {
  return access(nombre.c_str(), R_OK) == 0;
}

static void EmpezarFichero(AlmacenFicheros &almacen, const DatagramaActual &actual,
                           int32_t tamparte, int32_t &faltan, FILE *salida) {
  AvisarPartesNoGrabadas(almacen, salida);
  if (almacen.pf1 >= 0) close(almacen.pf1);
  almacen.pf1 = -1;
  faltan = actual.totpartes;
  std::fill(almacen.partesrecibidas.begin(), almacen.partesrecibidas.end(), 0);
  // the previous file, complete or not, leaves no temporary file behind
  if (!almacen.old_nombre_temp.empty()) unlink(almacen.old_nombre_temp.c_str());
  almacen.old_nombre = actual.elnombre;
  almacen.old_nombre_temp = almacen.old_nombre + ".tmp";
  almacen.totpartes = actual.totpartes;
  almacen.tamparte_propio = 0;
  almacen.ultima_adelantada = false;
  almacen.largo_ultima = -1;
  almacen.errores_avisados.clear();
  // a leftover of that name, even a link planted there, is replaced, never followed; whatever
  // is planted between the two calls makes the create fail rather than block or be followed
  unlink(almacen.old_nombre_temp.c_str());
  almacen.pf1 = open(almacen.old_nombre_temp.c_str(),
                     O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (almacen.pf1 < 0) DieWithError("Error al crear el fichero temporal.");
  fprintf(salida, "TotPart:%d|MaxTAMprt:%d|TAMprt:%d\n", actual.totpartes, tamparte,
          actual.totpartes * tamparte);
}

static bool GrabarCompleto(int fd, const unsigned char *datos, std::size_t largo,
                           int64_t posicion) {
  while (largo > 0) {
    ssize_t escritos = pwrite(fd, datos, largo, posicion);
    if (escritos < 0 && errno == EINTR) continue;
    if (escritos < 0) return false;
    if (escritos == 0) {
      errno = ENOSPC;
      return false;
    }
    datos += escritos;
    largo -= static_cast<std::size_t>(escritos);
    posicion += escritos;
  }
  return true;
}

// Where the part goes. A last part is placed with the file's own part size once that is known;
// before that, with the loop's, and it is kept to be put right on completion.
static int64_t PosicionDeParte(AlmacenFicheros &almacen, const DatagramaActual &actual,
                               int32_t tamparte, const unsigned char *contenido,
                               std::size_t largo) {
  bool es_ultima = actual.parteactual == almacen.totpartes - 1;
  if (!es_ultima) {
    if (almacen.tamparte_propio == 0) almacen.tamparte_propio = tamparte;
    return static_cast<int64_t>(actual.parteactual) * tamparte;
  }
  if (almacen.tamparte_propio > 0 || almacen.totpartes == 1)
    return static_cast<int64_t>(actual.parteactual) * almacen.tamparte_propio;
  almacen.ultima_adelantada = true;
  almacen.ultima_posicion = static_cast<int64_t>(actual.parteactual) * tamparte;
  almacen.ultima.assign(contenido, contenido + largo);
  return almacen.ultima_posicion;
}

// Puts a last part written too early at its right offset. Returns false, with the last part
// missing again, when the disk refuses.
static bool RecolocarUltima(AlmacenFicheros &almacen, int32_t &faltan, FILE *salida) {
  int64_t correcta = static_cast<int64_t>(almacen.totpartes - 1) * almacen.tamparte_propio;
  if (!almacen.ultima_adelantada || almacen.ultima_posicion == correcta) return true;
  const std::vector<unsigned char> &ultima = almacen.ultima;
  if (!GrabarCompleto(almacen.pf1, ultima.data(), ultima.size(), correcta)) {
    ReportarFallo("Error al recolocar la ultima parte en el fichero temporal", errno, salida);
    almacen.partesrecibidas[almacen.totpartes - 1] = kFalta;
    faltan = 1;
    return false;
  }
  almacen.ultima_posicion = correcta;
  fprintf(salida, "Ultima parte recolocada,posicion %lld....%zu bytes...\n",
          static_cast<long long>(correcta), ultima.size());
  return true;
}

// Bytes past the last part, left by a part placed before the file's size was known, go.
static bool RecortarAlLargo(AlmacenFicheros &almacen, int32_t &faltan, FILE *salida) {
  int64_t largo =
      static_cast<int64_t>(almacen.totpartes - 1) * almacen.tamparte_propio + almacen.largo_ultima;
  if (ftruncate(almacen.pf1, largo) == 0) return true;
  ReportarFallo("Error al recortar el fichero temporal", errno, salida);
  almacen.partesrecibidas[almacen.totpartes - 1] = kFalta;
  faltan = 1;
  return false;
}

// Complete or not, the file is no longer in progress: its next datagram is probed afresh.
static void SoltarFichero(AlmacenFicheros &almacen) {
  if (almacen.pf1 >= 0) close(almacen.pf1);
  almacen.pf1 = -1;
  almacen.old_nombre.clear();
}

static void CompletarFichero(AlmacenFicheros &almacen, int32_t &faltan, FILE *salida) {
  if (!RecolocarUltima(almacen, faltan, salida) || !RecortarAlLargo(almacen, faltan, salida))
    return;
  std::string final_ = almacen.old_nombre;
  SoltarFichero(almacen);
  if (rename(almacen.old_nombre_temp.c_str(), final_.c_str()) < 0) {
    // the data stays in the temporary file, which the next file's start deletes
    ReportarFallo("Error al renombrar el fichero temporal", errno, salida);
    return;
  }
  almacen.old_nombre_temp.clear();
  EscribirTexto(salida, "Completado!\n");
}

// A last part kept from before the file's part size was known, longer than that size, cannot
// be this file's: it goes, and the last part is awaited again.
static void DescartarUltimaMasLarga(AlmacenFicheros &almacen, int32_t &faltan, FILE *salida) {
  if (!almacen.ultima_adelantada || almacen.tamparte_propio == 0 ||
      almacen.ultima.size() <= static_cast<std::size_t>(almacen.tamparte_propio))
    return;
  fprintf(salida, "Ultima parte de %zu bytes, mayor que las del fichero (%d), descartada.\n",
          almacen.ultima.size(), almacen.tamparte_propio);
  almacen.ultima_adelantada = false;
  almacen.largo_ultima = -1;
  almacen.partesrecibidas[almacen.totpartes - 1] = kFalta;
  ++faltan;
}

static void GrabarParte(AlmacenFicheros &almacen, const DatagramaActual &actual,
                        const Paquete &paquete, int32_t tamparte, int32_t &faltan, FILE *salida) {
  const unsigned char *contenido = paquete.datos + TamCabecera;
  std::size_t largo = static_cast<std::size_t>(paquete.tampaquete - TamCabecera);
  int64_t posicion = PosicionDeParte(almacen, actual, tamparte, contenido, largo);
  bool grabada = GrabarCompleto(almacen.pf1, contenido, largo, posicion);
  int error = grabada ? 0 : errno;
  // the line is whole once the write has answered; a failure ends it differently
  Renglon linea;
  Anadir(linea, "NO LA TENGO,posicion ");
  AnadirEntero(linea, posicion);
  Anadir(linea, "....");
  AnadirEntero(linea, static_cast<int64_t>(largo));
  Anadir(linea, grabada ? " bytes...\n" : " bytes NO grabados...\n");
  Emitir(linea, salida);
  if (!grabada) {
    almacen.partesrecibidas[actual.parteactual] = kFallida;
    ReportarFalloUnaVez(almacen, "Error al grabar la parte en el fichero temporal", error, salida);
    return;
  }
  almacen.partesrecibidas[actual.parteactual] = kGrabada;
  if (actual.parteactual == almacen.totpartes - 1)
    almacen.largo_ultima = static_cast<int64_t>(largo);
  --faltan;
  DescartarUltimaMasLarga(almacen, faltan, salida);
  if (faltan == 0) CompletarFichero(almacen, faltan, salida);
}

// Parts of the same file sent with another part size would complete it with wrong content.
static bool OtraDisposicion(const AlmacenFicheros &almacen, const DatagramaActual &actual,
                            const Paquete &paquete, FILE *salida) {
  int32_t largo = paquete.tampaquete - TamCabecera, propio = almacen.tamparte_propio;
  bool es_ultima = actual.parteactual == almacen.totpartes - 1;
  if (propio == 0 || (es_ultima ? largo <= propio : largo == propio)) return false;
  fprintf(salida, "Parte de %d bytes distinta de las del fichero en curso (%d), descartada.\n",
          largo, propio);
  return true;
}

// A datagram of the file in progress that does not fit it is refused with one line.
static bool NoEncajaEnElFichero(const AlmacenFicheros &almacen, const DatagramaActual &actual,
                                const Paquete &paquete, FILE *salida) {
  if (actual.totpartes != almacen.totpartes) {
    // parts of another count would be flagged against this file and could complete it
    fprintf(salida, "Total de partes %d distinto del fichero en curso (%d), descartado.\n",
            actual.totpartes, almacen.totpartes);
    return true;
  }
  return OtraDisposicion(almacen, actual, paquete, salida);
}

void AlmacenarParte(AlmacenFicheros &almacen, const DatagramaActual &actual, const Paquete &paquete,
                    int32_t tamparte, int32_t &faltan, FILE *salida) {
  if (PaqueteImposible(actual, paquete, salida)) return;
  if (YaGrabado(actual.elnombre)) {
    EscribirTexto(salida, "Ya grabado antes...\n");
    return;
  }
  if (actual.elnombre != almacen.old_nombre) {
    EmpezarFichero(almacen, actual, tamparte, faltan, salida);
  } else if (NoEncajaEnElFichero(almacen, actual, paquete, salida)) {
    return;
  }
  if (almacen.partesrecibidas[actual.parteactual] == kGrabada || almacen.pf1 < 0) return;
  GrabarParte(almacen, actual, paquete, tamparte, faltan, salida);
}
