#include "estado.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "bucle.h"
#include "campos_estado.h"
#include "commit.h"
#include "direcciones.h"
#include "directorio.h"
#include "en_curso.h"
#include "fatal.h"
#include "informes.h"
#include "nombres.h"
#include "salida.h"
#include "reloj.h"

using namespace campos_estado;

static constexpr int64_t kMsEntreEstados = 1000;
// Written under this name and then renamed over the status file.

void PrepararFicheroEstado(FicheroEstado &informe, const char *ruta) {
  informe.ruta = ruta;
  if (ruta[0] != '/') informe.ruta = DirectorioDeTrabajo() + "/" + ruta;
  std::string prueba = NombreNuevo(informe.ruta);
  int fd = open(prueba.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    fprintf(stderr, "%sNo se puede escribir el fichero de estado %s: %s\n",
            Prefijo(stderr, Prioridad::kError), ruta, strerror(errno));
    exit(kSalidaFatal);
  }
  close(fd);
  unlink(prueba.c_str());
  informe.inicio = AhoraRealS();
}

// A JSON string of bytes that came from the network: quotes, backslashes and control bytes
// escaped, and every byte over 0x7f taken as the character of that number, so that the
// document is valid UTF-8 whatever the name holds.
static void AnadirCadena(std::string &json, const std::string &texto) {
  json += '"';
  for (unsigned char c : texto) {
    if (c == '"' || c == '\\') {
      json += '\\';
      json += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7f) {
      char escape[8];
      snprintf(escape, sizeof escape, "\\u%04x", c);
      json += escape;
    } else {
      json += static_cast<char>(c);
    }
  }
  json += '"';
}

static std::string FechaUtc(int64_t segundos) {
  time_t t = static_cast<time_t>(segundos);
  tm partes;
  gmtime_r(&t, &partes);
  char texto[32];
  strftime(texto, sizeof texto, kFormatoFecha, &partes);
  return "\"" + std::string(texto) + "\"";
}

// A field of the document, on its own line: "  \"nombre\": valor,".
static void Campo(std::string &json, const char *nombre, const std::string &valor) {
  json += "  \"";
  json += nombre;
  json += "\": " + valor + ",\n";
}

// A member of a file's object after its first: ", \"nombre\": ".
static void Miembro(std::string &json, const char *nombre) {
  json += ", \"";
  json += nombre;
  json += "\": ";
}

static std::string Logico(bool valor) { return valor ? "true" : "false"; }

// Whether the receiver hears its group: joined, and when a datagram last came, on the wall
// clock: the time gone since then, on the monotonic clock, taken back from now.
static void AnadirUnion(std::string &json, const Membresia *membresia, int64_t real_ms) {
  Campo(json, kUnido, Logico(membresia != nullptr && membresia->unido));
  if (membresia == nullptr || membresia->ultimo_datagrama_ms < 0) {
    Campo(json, kUltimoDatagrama, "null");
    return;
  }
  int64_t desde_ms = AhoraMs() - membresia->ultimo_datagrama_ms;
  Campo(json, kUltimoDatagrama, FechaUtc((real_ms - desde_ms) / 1000));
}

// A file's name and parts, opening its object.
static void AnadirFichero(std::string &json, const std::string &nombre, int64_t partes,
                          int64_t total) {
  json += "{\"";
  json += kFichero;
  json += "\": ";
  AnadirCadena(json, nombre);
  Miembro(json, kPartes);
  json += std::to_string(partes);
  Miembro(json, kTotal);
  json += std::to_string(total);
}

// Leftovers waiting, with their age; one resumed since the last look is in progress instead.
static void AnadirRestos(std::string &json, const AlmacenFicheros &almacen, int64_t ahora) {
  json += "  \"";
  json += kRestos;
  json += "\": [";
  bool alguno = false;
  for (const Resto &resto : almacen.restos) {
    if (BuscarPorRaiz(almacen, resto.raiz) >= 0) continue;
    json += alguno ? ",\n    " : "\n    ";
    AnadirFichero(json, std::string(ApodoDeRaiz(resto.raiz)), resto.partes, resto.total);
    Miembro(json, kEdad);
    json += std::to_string(std::max<int64_t>(0, ahora - resto.cambio)) + "}";
    alguno = true;
  }
  json += alguno ? "\n  ]\n}\n" : "]\n}\n";
}

// Whether files can be written where they are rebuilt now: a directory the receiver may write
// on a filesystem with room left.
static bool DirectorioEscribible(const AlmacenFicheros &almacen) {
  struct statvfs datos;
  int fd = almacen.directorio >= 0 ? almacen.directorio : AT_FDCWD;
  bool con_sitio = (fd >= 0 ? fstatvfs(fd, &datos) : statvfs(".", &datos)) == 0 &&
                   datos.f_bavail > 0 && (datos.f_flag & ST_RDONLY) == 0;
  return con_sitio && faccessat(fd, ".", W_OK, AT_EACCESS) == 0;
}

// What the disk did to the files lately, and what strangers sent.
static void AnadirProblemas(std::string &json, const AlmacenFicheros &almacen) {
  Campo(json, kFallos, std::to_string(almacen.fallos));
  Campo(json, kDirectorioEscribible, Logico(DirectorioEscribible(almacen)));
  Campo(json, kRechazados, std::to_string(almacen.rechazados));
  Campo(json, kAvisosSinDecir, std::to_string(almacen.freno.total_sin_decir));
}

// A file in progress: its parts, its sender when versions are told apart, its time without a
// new part, and the failure that lasts, if any.
static void AnadirEnCurso(std::string &json, const FicheroEnCurso &f, int64_t ahora) {
  AnadirFichero(json, f.apodo, Recibidas(f.partes), f.disposicion.totpartes);
  if (f.emisor.ss_family != 0) {
    Miembro(json, kEmisor);
    json += "\"" + TextoDeDireccion(f.emisor) + "\"";
  }
  Miembro(json, kEdad);
  json += std::to_string(std::max<int64_t>(0, ahora - f.progreso_s));
  Miembro(json, kError);
  if (f.errores_avisados.empty()) {
    json += "null}";
    return;
  }
  const FalloAvisado &fallo = f.errores_avisados.back();
  json += "{\"";
  json += kTexto;
  json += "\": ";
  AnadirCadena(json, std::string(fallo.mensaje) + ": " + strerror(fallo.error));
  Miembro(json, kDesde);
  json += FechaUtc(fallo.desde_s) + "}}";
}

// The fields that existed first keep their order, the new ones after the start.
static std::string Documento(const FicheroEstado &informe, const Bucle &bucle,
                             const AlmacenFicheros &almacen) {
  int64_t real_ms = AhoraRealMs(), ahora_s = real_ms / 1000;
  std::string json = "{\n";
  Campo(json, kInicio, FechaUtc(informe.inicio));
  Campo(json, kPid, std::to_string(getpid()));
  Campo(json, kVersion, "\"" RECEPTOR_VERSION "\"");
  // the commit the build came from; null when its sources did not say
  Campo(json, kCommit, RECEPTOR_COMMIT[0] != '\0' ? "\"" RECEPTOR_COMMIT "\"" : "null");
  Campo(json, kActualizado, FechaUtc(ahora_s));
  AnadirUnion(json, informe.membresia, real_ms);
  Campo(json, kDatagramas, std::to_string(bucle.datagramas));
  Campo(json, kDescartados, std::to_string(bucle.descartados));
  Campo(json, kCompletados, std::to_string(almacen.completados));
  AnadirProblemas(json, almacen);
  if (informe.firmas != nullptr) {
    json += CamposDeEstado(*informe.firmas);
    Campo(json, kSinDescripcion, std::to_string(almacen.sin_descripcion.size()));
  }
  json += "  \"";
  json += kEnCurso;
  json += "\": [";
  for (std::size_t i = 0; i < almacen.en_curso.size(); ++i) {
    json += i == 0 ? "\n    " : ",\n    ";
    AnadirEnCurso(json, almacen.en_curso[i], ahora_s);
  }
  json += almacen.en_curso.empty() ? "],\n" : "\n  ],\n";
  AnadirRestos(json, almacen, ahora_s);
  return json;
}

void EscribirEstado(FicheroEstado &informe, const Bucle &bucle,
                    const AlmacenFicheros &almacen, int64_t ahora_ms) {
  informe.ultimo_ms = ahora_ms;
  std::string json = Documento(informe, bucle, almacen), nuevo = NombreNuevo(informe.ruta);
  int fd = open(nuevo.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  // readable by all whatever the umask (the service's keeps its files from others): it holds
  // no secret, and a monitor reads it without the group that reads the received files
  bool hecho = fd >= 0 && fchmod(fd, 0644) == 0 &&
               write(fd, json.data(), json.size()) == static_cast<ssize_t>(json.size());
  int error = errno;
  if (fd >= 0) close(fd);
  if (hecho && rename(nuevo.c_str(), informe.ruta.c_str()) == 0) {
    informe.error_avisado = 0;
    return;
  }
  if (hecho) error = errno;
  unlink(nuevo.c_str());
  // written every second: a full disk is told once, not every second
  if (error == informe.error_avisado) return;
  informe.error_avisado = error;
  fprintf(stderr, "%sError al escribir el fichero de estado %s: %s\n",
          Prefijo(stderr, Prioridad::kError), informe.ruta.c_str(), strerror(error));
}

void EscribirEstadoSiToca(FicheroEstado &informe, const Bucle &bucle,
                          const AlmacenFicheros &almacen, int64_t ahora_ms) {
  if (informe.ultimo_ms >= 0 && ahora_ms - informe.ultimo_ms < kMsEntreEstados) return;
  EscribirEstado(informe, bucle, almacen, ahora_ms);
}
