#include "almacen.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstring>

#include "fatal.h"
#include "registro.h"
#include "salida.h"

// In silent mode a line of the store is one of the few printed, so it starts with the identity
// of the file it speaks of.
static void AnadirPrefijo(Renglon &linea, const AlmacenFicheros &almacen,
                          const std::string &identidad) {
  if (!almacen.opciones.silencioso) return;
  AnadirNombre(linea, identidad, almacen.opciones.a_terminal);
  Anadir(linea, ": ");
}

[[gnu::format(printf, 4, 5)]] static void Informar(const AlmacenFicheros &almacen,
                                                   const std::string &identidad, FILE *salida,
                                                   const char *formato, ...) {
  Renglon prefijo;
  AnadirPrefijo(prefijo, almacen, identidad);
  Emitir(prefijo, salida);
  va_list argumentos;
  va_start(argumentos, formato);
  vfprintf(salida, formato, argumentos);
  va_end(argumentos);
}

// Standard output keeps whole lines; failures of the disk go to standard error after it.
static void ReportarFallo(const char *mensaje, int error, FILE *salida) {
  fflush(salida);
  fprintf(stderr, "%s: %s\n", mensaje, strerror(error));
}

// A full disk fails every part alike: each error is told once per file.
static void ReportarFalloUnaVez(FicheroEnCurso &f, const char *mensaje, int error, FILE *salida) {
  std::vector<int> &avisados = f.errores_avisados;
  if (std::find(avisados.begin(), avisados.end(), error) != avisados.end()) return;
  avisados.push_back(error);
  ReportarFallo(mensaje, error, salida);
}

static int32_t PartesGrabadas(const FicheroEnCurso &f) {
  return static_cast<int32_t>(
      std::count(f.partesrecibidas.begin(), f.partesrecibidas.end(), kGrabada));
}

// "<suceso> <identidad> con N de M partes.": a file dropped or resumed, named in any mode.
static void InformarDeFichero(const AlmacenFicheros &almacen, std::string_view suceso,
                              const FicheroEnCurso &f, FILE *salida) {
  Renglon linea;
  Anadir(linea, suceso);
  Anadir(linea, " ");
  AnadirNombre(linea, f.old_nombre, almacen.opciones.a_terminal);
  Anadir(linea, " con ");
  AnadirEntero(linea, PartesGrabadas(f));
  Anadir(linea, " de ");
  AnadirEntero(linea, f.totpartes);
  Anadir(linea, " partes.\n");
  Emitir(linea, salida);
}

static constexpr std::string_view kSufijoTemporal = ".tmp";

// Such a final name is another file's temporary name: storing it, or starting that file, would
// delete or hide the other.
static bool TerminaEnTmp(const std::string &identidad) {
  return identidad.size() >= kSufijoTemporal.size() &&
         identidad.compare(identidad.size() - kSufijoTemporal.size(), kSufijoTemporal.size(),
                           kSufijoTemporal) == 0;
}

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
  } else if (actual.nombre.find('/') != std::string_view::npos) {
    Informar(almacen, id, salida, "Nombre con '/' no permitido, descartado.\n");
  } else if (TerminaEnTmp(id)) {
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

// The final name counts as stored when it can be read; asked without opening it, so that a
// FIFO of that name cannot block the receiver. Asked once per batch: the datagrams of a file
// mostly come together.
static bool YaGrabado(AlmacenFicheros &almacen, const std::string &nombre) {
  if (!almacen.en_lote) return access(nombre.c_str(), R_OK) == 0;
  if (auto *sondeo = SondeoDelLote(almacen, nombre)) return sondeo->second;
  bool grabado = access(nombre.c_str(), R_OK) == 0;
  almacen.sondeos.emplace_back(nombre, grabado);
  return grabado;
}

// A file completed within the batch is stored for the rest of it, without asking again.
static void AnotarGrabado(AlmacenFicheros &almacen, const std::string &nombre) {
  if (auto *sondeo = SondeoDelLote(almacen, nombre)) sondeo->second = true;
}

// The file of this identity in progress, or -1.
static int Buscar(const AlmacenFicheros &almacen, const std::string &identidad) {
  // most datagrams belong to the file of the one before
  if (almacen.ultimo >= 0 && almacen.en_curso[almacen.ultimo].old_nombre == identidad)
    return almacen.ultimo;
  for (std::size_t i = 0; i < almacen.en_curso.size(); ++i)
    if (almacen.en_curso[i].old_nombre == identidad) return static_cast<int>(i);
  return -1;
}

static void CerrarTemporal(FicheroEnCurso &f) {
  if (f.pf1 >= 0) close(f.pf1);
  f.pf1 = -1;
}

// A file left unfinished whose writes failed says how many of its parts never reached the disk.
static void AvisarPartesNoGrabadas(const FicheroEnCurso &f, FILE *salida) {
  auto fallidas = std::count(f.partesrecibidas.begin(), f.partesrecibidas.end(), kFallida);
  if (fallidas == 0) return;
  fflush(salida);
  fprintf(stderr, "Fichero %s abandonado: %ld partes no grabadas.\n", f.old_nombre.c_str(),
          static_cast<long>(fallidas));
}

// The file goes, its progress with it: its temporary file is deleted.
static void Abandonar(AlmacenFicheros &almacen, std::size_t cual, FILE *salida) {
  FicheroEnCurso &f = almacen.en_curso[cual];
  AvisarPartesNoGrabadas(f, salida);
  if (almacen.opciones.maximo > 1 || almacen.opciones.silencioso)
    InformarDeFichero(almacen, "Abandonado", f, salida);
  CerrarTemporal(f);
  unlink(f.old_nombre_temp.c_str());
  almacen.en_curso.erase(almacen.en_curso.begin() + static_cast<std::ptrdiff_t>(cual));
  almacen.ultimo = -1;
}

// Room for one more file: the one touched least recently goes.
static void HacerSitio(AlmacenFicheros &almacen, FILE *salida) {
  if (static_cast<int>(almacen.en_curso.size()) < almacen.opciones.maximo) return;
  auto masViejo = std::min_element(
      almacen.en_curso.begin(), almacen.en_curso.end(),
      [](const FicheroEnCurso &a, const FicheroEnCurso &b) { return a.ultimo_uso < b.ultimo_uso; });
  Abandonar(almacen, static_cast<std::size_t>(masViejo - almacen.en_curso.begin()), salida);
}

// Picks up a file that an earlier run left with its record; the record is used up either way.
static bool Reanudar(AlmacenFicheros &almacen, FicheroEnCurso &f, FILE *salida) {
  std::string registro = NombreRegistro(f.old_nombre);
  if (access(registro.c_str(), F_OK) != 0) return false;
  int fd = open(f.old_nombre_temp.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  struct stat datos;
  // only a plain file that is nowhere else: a hard link would write outside the directory
  bool valido = fd >= 0 && fstat(fd, &datos) == 0 && S_ISREG(datos.st_mode) &&
                datos.st_nlink == 1 && LeerRegistro(f, fd);
  unlink(registro.c_str());
  if (!valido) {
    if (fd >= 0) close(fd);
    return false;
  }
  f.pf1 = fd;
  InformarDeFichero(almacen, "Reanudado", f, salida);
  return true;
}

// A leftover of that name, even a link planted there, is replaced, never followed; whatever is
// planted between the two calls makes the create fail rather than block or be followed.
static void CrearTemporal(FicheroEnCurso &f) {
  unlink(f.old_nombre_temp.c_str());
  f.pf1 =
      open(f.old_nombre_temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (f.pf1 < 0) DieWithError("Error al crear el fichero temporal.");
}

static int EmpezarFichero(AlmacenFicheros &almacen, const DatagramaActual &actual, int32_t tamparte,
                          FILE *salida) {
  HacerSitio(almacen, salida);
  // the previous file, complete or not, leaves no temporary file behind
  if (!almacen.temporal_huerfano.empty()) unlink(almacen.temporal_huerfano.c_str());
  almacen.temporal_huerfano.clear();
  FicheroEnCurso &f = almacen.en_curso.emplace_back();
  f.old_nombre = actual.elnombre;
  f.old_nombre_temp = f.old_nombre + std::string(kSufijoTemporal);
  f.totpartes = f.faltan = actual.totpartes;
  f.partesrecibidas.assign(static_cast<std::size_t>(actual.totpartes), kFalta);
  if (!almacen.opciones.reanudar || !Reanudar(almacen, f, salida)) {
    CrearTemporal(f);
    Informar(almacen, f.old_nombre, salida, "TotPart:%d|MaxTAMprt:%d|TAMprt:%d\n", actual.totpartes,
             tamparte, actual.totpartes * tamparte);
  }
  return static_cast<int>(almacen.en_curso.size()) - 1;
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
static int64_t PosicionDeParte(FicheroEnCurso &f, const DatagramaActual &actual, int32_t tamparte,
                               const unsigned char *contenido, std::size_t largo) {
  bool es_ultima = actual.parteactual == f.totpartes - 1;
  if (!es_ultima) {
    if (f.tamparte_propio == 0) f.tamparte_propio = tamparte;
    return static_cast<int64_t>(actual.parteactual) * tamparte;
  }
  if (f.tamparte_propio > 0 || f.totpartes == 1)
    return static_cast<int64_t>(actual.parteactual) * f.tamparte_propio;
  f.ultima_adelantada = true;
  f.ultima_posicion = static_cast<int64_t>(actual.parteactual) * tamparte;
  f.ultima.assign(contenido, contenido + largo);
  return f.ultima_posicion;
}

// The last part goes missing again, to be written when it comes next.
static void EsperarUltimaOtraVez(FicheroEnCurso &f) {
  f.partesrecibidas[static_cast<std::size_t>(f.totpartes - 1)] = kFalta;
  f.largo_ultima = -1;
  ++f.faltan;
}

// Puts a last part written too early at its right offset. Returns false, with the last part
// missing again, when the disk refuses.
static bool RecolocarUltima(const AlmacenFicheros &almacen, FicheroEnCurso &f, FILE *salida) {
  int64_t correcta = static_cast<int64_t>(f.totpartes - 1) * f.tamparte_propio;
  if (!f.ultima_adelantada || f.ultima_posicion == correcta) return true;
  if (!GrabarCompleto(f.pf1, f.ultima.data(), f.ultima.size(), correcta)) {
    ReportarFallo("Error al recolocar la ultima parte en el fichero temporal", errno, salida);
    EsperarUltimaOtraVez(f);
    return false;
  }
  f.ultima_posicion = correcta;
  Informar(almacen, f.old_nombre, salida, "Ultima parte recolocada,posicion %lld....%zu bytes...\n",
           static_cast<long long>(correcta), f.ultima.size());
  return true;
}

// Bytes past the last part, left by a part placed before the file's size was known, go.
static bool RecortarAlLargo(FicheroEnCurso &f, FILE *salida) {
  int64_t largo = static_cast<int64_t>(f.totpartes - 1) * f.tamparte_propio + f.largo_ultima;
  if (ftruncate(f.pf1, largo) == 0) return true;
  ReportarFallo("Error al recortar el fichero temporal", errno, salida);
  EsperarUltimaOtraVez(f);
  return false;
}

// Complete or not, the file is no longer in progress: its next datagram is probed afresh.
static void CompletarFichero(AlmacenFicheros &almacen, std::size_t cual, FILE *salida) {
  FicheroEnCurso &f = almacen.en_curso[cual];
  if (!RecolocarUltima(almacen, f, salida) || !RecortarAlLargo(f, salida)) return;
  CerrarTemporal(f);
  std::string temporal = f.old_nombre_temp, final_ = f.old_nombre;
  almacen.en_curso.erase(almacen.en_curso.begin() + static_cast<std::ptrdiff_t>(cual));
  almacen.ultimo = -1;
  if (rename(temporal.c_str(), final_.c_str()) < 0) {
    // the data stays in the temporary file, which the next file's start deletes
    ReportarFallo("Error al renombrar el fichero temporal", errno, salida);
    almacen.temporal_huerfano = temporal;
    return;
  }
  AnotarGrabado(almacen, final_);
  Informar(almacen, final_, salida, "Completado!\n");
}

// A last part kept from before the file's part size was known, longer than that size, cannot
// be this file's: it goes, and the last part is awaited again.
static void DescartarUltimaMasLarga(const AlmacenFicheros &almacen, FicheroEnCurso &f,
                                    FILE *salida) {
  if (!f.ultima_adelantada || f.tamparte_propio == 0 ||
      f.ultima.size() <= static_cast<std::size_t>(f.tamparte_propio))
    return;
  Informar(almacen, f.old_nombre, salida,
           "Ultima parte de %zu bytes, mayor que las del fichero (%d), descartada.\n",
           f.ultima.size(), f.tamparte_propio);
  f.ultima_adelantada = false;
  EsperarUltimaOtraVez(f);
}

// "NO LA TENGO,posicion P....N bytes...", built by hand: it is printed for every new part.
static void InformarParte(const AlmacenFicheros &almacen, const FicheroEnCurso &f, int64_t posicion,
                          std::size_t largo, bool grabada, FILE *salida) {
  if (almacen.opciones.silencioso && grabada) return;
  Renglon linea;
  AnadirPrefijo(linea, almacen, f.old_nombre);
  Anadir(linea, "NO LA TENGO,posicion ");
  AnadirEntero(linea, posicion);
  Anadir(linea, "....");
  AnadirEntero(linea, static_cast<int64_t>(largo));
  Anadir(linea, grabada ? " bytes...\n" : " bytes NO grabados...\n");
  Emitir(linea, salida);
}

// Whether the part was written ahead, and then with which outcome.
static bool YaEscrita(AlmacenFicheros &almacen, const unsigned char *datos, int &error) {
  std::vector<Adelantada> &hechas = almacen.adelantadas;
  while (almacen.siguiente_adelantada < hechas.size()) {
    const Adelantada &hecha = hechas[almacen.siguiente_adelantada++];
    if (hecha.datos != datos) continue;
    error = hecha.error;
    return true;
  }
  return false;
}

static void GrabarParte(AlmacenFicheros &almacen, std::size_t cual, const DatagramaActual &actual,
                        const Paquete &paquete, int32_t tamparte, FILE *salida) {
  FicheroEnCurso &f = almacen.en_curso[cual];
  const unsigned char *contenido = paquete.datos + TamCabecera;
  std::size_t largo = static_cast<std::size_t>(paquete.tampaquete - TamCabecera);
  int64_t posicion = PosicionDeParte(f, actual, tamparte, contenido, largo);
  int error = 0;
  bool grabada = YaEscrita(almacen, paquete.datos, error)
                     ? error == 0
                     : GrabarCompleto(f.pf1, contenido, largo, posicion);
  if (!grabada && error == 0) error = errno;
  // the line is whole once the write has answered; a failure ends it differently
  InformarParte(almacen, f, posicion, largo, grabada, salida);
  std::size_t indice = static_cast<std::size_t>(actual.parteactual);
  if (!grabada) {
    f.partesrecibidas[indice] = kFallida;
    ReportarFalloUnaVez(f, "Error al grabar la parte en el fichero temporal", error, salida);
    return;
  }
  f.partesrecibidas[indice] = kGrabada;
  if (actual.parteactual == f.totpartes - 1) f.largo_ultima = static_cast<int64_t>(largo);
  --f.faltan;
  DescartarUltimaMasLarga(almacen, f, salida);
  if (f.faltan == 0) CompletarFichero(almacen, cual, salida);
}

// Parts of the same file sent with another part size would complete it with wrong content.
static bool OtraDisposicion(const AlmacenFicheros &almacen, const FicheroEnCurso &f,
                            const DatagramaActual &actual, const Paquete &paquete, FILE *salida) {
  int32_t largo = paquete.tampaquete - TamCabecera, propio = f.tamparte_propio;
  bool es_ultima = actual.parteactual == f.totpartes - 1;
  if (propio == 0 || (es_ultima ? largo <= propio : largo == propio)) return false;
  Informar(almacen, f.old_nombre, salida,
           "Parte de %d bytes distinta de las del fichero en curso (%d), descartada.\n", largo,
           propio);
  return true;
}

// A datagram of a file in progress that does not fit it is refused with one line.
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
  int cual = Buscar(almacen, actual.elnombre);
  if (cual < 0) {
    cual = EmpezarFichero(almacen, actual, tamparte, salida);
  } else if (NoEncajaEnElFichero(almacen, almacen.en_curso[cual], actual, paquete, salida)) {
    return;
  }
  Tocar(almacen, cual, faltan);
  FicheroEnCurso &f = almacen.en_curso[static_cast<std::size_t>(cual)];
  if (f.partesrecibidas[static_cast<std::size_t>(actual.parteactual)] == kGrabada) return;
  GrabarParte(almacen, static_cast<std::size_t>(cual), actual, paquete, tamparte, salida);
  // the file may have completed and left: then faltan keeps its last count, 0
  faltan = almacen.ultimo >= 0 ? almacen.en_curso[almacen.ultimo].faltan : 0;
}

int32_t FaltanParaResumen(const AlmacenFicheros &almacen, const DatagramaActual &actual,
                          int32_t faltan) {
  if (almacen.opciones.maximo == 1) return faltan;
  int cual = Buscar(almacen, actual.elnombre);
  return cual >= 0 ? almacen.en_curso[static_cast<std::size_t>(cual)].faltan : faltan;
}

void GuardarFicherosEnCurso(AlmacenFicheros &almacen) {
  if (!almacen.opciones.reanudar) return;
  for (FicheroEnCurso &f : almacen.en_curso) {
    if (f.pf1 < 0) continue;
    if (fdatasync(f.pf1) != 0) {
      fprintf(stderr, "Error al sincronizar %s: %s\n", f.old_nombre_temp.c_str(), strerror(errno));
      continue;
    }
    EscribirRegistro(f);
  }
}

// A datagram whose part may be written ahead: whole, from its own buffer.
static bool Adelantable(const Paquete &paquete) {
  return !paquete.truncado && paquete.tampaquete >= kTamVistaCabecera;
}

// The length every part of the file has, or that its last part may have.
static bool LargoDelFichero(const FicheroEnCurso &f, int32_t parte, const Paquete &paquete) {
  int32_t largo = paquete.tampaquete - TamCabecera;
  return parte == f.totpartes - 1 ? largo <= f.tamparte_propio : largo == f.tamparte_propio;
}

// The file in progress whose new parts the datagram starts a run of, or nullptr.
static FicheroEnCurso *FicheroDelTramo(AlmacenFicheros &almacen, const Paquete &primero,
                                       std::size_t &fin_nombre) {
  const void *nul = memchr(primero.datos + offsetof(Cabecera, nombre), '\0', kTamCampoNombre);
  if (!Adelantable(primero) || nul == nullptr) return nullptr;
  fin_nombre =
      static_cast<std::size_t>(static_cast<const unsigned char *>(nul) - primero.datos) + 1;
  DatagramaActual actual;
  DecodificarCabecera(primero.datos, static_cast<std::size_t>(primero.legibles), actual);
  ConstruirIdentidad(actual);
  int cual = Buscar(almacen, actual.elnombre);
  if (cual < 0 || YaGrabado(almacen, actual.elnombre)) return nullptr;
  FicheroEnCurso &f = almacen.en_curso[static_cast<std::size_t>(cual)];
  bool encaja = f.pf1 >= 0 && f.tamparte_propio > 0 && actual.totpartes == f.totpartes;
  return encaja ? &f : nullptr;
}

// Writes the run with one call; what the call leaves unwritten is tried part by part, so that
// each part's outcome is its own.
static void EscribirTramo(AlmacenFicheros &almacen, const FicheroEnCurso &f, const Paquete *tramo,
                          iovec *partes, int cuantas, int64_t posicion) {
  ssize_t escritos;
  do {
    escritos = pwritev(f.pf1, partes, cuantas, posicion);
  } while (escritos < 0 && errno == EINTR);
  std::size_t hechos = escritos > 0 ? static_cast<std::size_t>(escritos) : 0;
  for (int i = 0; i < cuantas; ++i) {
    int error = 0;
    if (hechos >= partes[i].iov_len) {
      hechos -= partes[i].iov_len;
    } else {
      hechos = 0;
      const unsigned char *bytes = static_cast<const unsigned char *>(partes[i].iov_base);
      if (!GrabarCompleto(f.pf1, bytes, partes[i].iov_len, posicion)) error = errno;
    }
    posicion += static_cast<int64_t>(partes[i].iov_len);
    almacen.adelantadas.push_back({tramo[i].datos, error});
  }
}

// One run: the new parts that follow each other in the batch and in the file. Returns where it
// ends, desde when the batch has none there.
static int AdelantarTramo(AlmacenFicheros &almacen, const Paquete *lote, int desde, int cuantos) {
  std::size_t fin_nombre = 0;
  FicheroEnCurso *f = FicheroDelTramo(almacen, lote[desde], fin_nombre);
  if (f == nullptr) return desde;
  int32_t primera = IndiceDeParte(lote[desde].datos), parte = primera;
  iovec partes[kTamLote];
  int hasta = desde;
  for (; hasta < cuantos && hasta - desde < kTamLote; ++hasta, ++parte) {
    const Paquete &p = lote[hasta];
    if (parte < 0 || parte >= f->totpartes || !Adelantable(p) || IndiceDeParte(p.datos) != parte ||
        !MismoFichero(lote[desde].datos, p.datos, fin_nombre) ||
        f->partesrecibidas[static_cast<std::size_t>(parte)] == kGrabada ||
        !LargoDelFichero(*f, parte, p))
      break;
    partes[hasta - desde] = {const_cast<unsigned char *>(p.datos) + TamCabecera,
                             static_cast<std::size_t>(p.tampaquete - TamCabecera)};
  }
  if (hasta > desde)
    EscribirTramo(almacen, *f, lote + desde, partes, hasta - desde,
                  static_cast<int64_t>(primera) * f->tamparte_propio);
  return hasta;
}

void AdelantarEscrituras(AlmacenFicheros &almacen, const Paquete *lote, int cuantos) {
  almacen.adelantadas.clear();
  almacen.siguiente_adelantada = 0;
  // only a start of the batch made of such runs: past anything else, files may change
  for (int i = 0; i < cuantos;) {
    int hasta = AdelantarTramo(almacen, lote, i, cuantos);
    if (hasta == i) break;
    i = hasta;
  }
}
