#include "empezar.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <unordered_set>

#include "direcciones.h"
#include "en_curso.h"
#include "fatal.h"
#include "informes.h"
#include "registro.h"
#include "reloj.h"
#include "rechazos.h"

// The least recently touched file, of the identity given, or of any when it is empty.
static std::size_t MasViejo(const AlmacenFicheros &almacen, const std::string &identidad) {
  std::size_t cual = almacen.en_curso.size();
  for (std::size_t i = 0; i < almacen.en_curso.size(); ++i) {
    const FicheroEnCurso &f = almacen.en_curso[i];
    if ((identidad.empty() || f.old_nombre == identidad) &&
        (cual == almacen.en_curso.size() || f.ultimo_uso < almacen.en_curso[cual].ultimo_uso))
      cual = i;
  }
  return cual;
}

// Files of different identities in progress: the versions of one file count once.
static int Identidades(const AlmacenFicheros &almacen) {
  std::unordered_set<std::string> vistas;
  for (const FicheroEnCurso &f : almacen.en_curso) vistas.insert(f.old_nombre);
  return static_cast<int>(vistas.size());
}

// Room for one more file: the one touched least recently goes. Another sender's version of a
// file in progress takes no room of another file: of such versions, kMaxVersiones at most.
static void HacerSitio(AlmacenFicheros &almacen, const std::string &identidad, bool version,
                       FILE *salida) {
  if (version) {
    auto versiones =
        std::count_if(almacen.en_curso.begin(), almacen.en_curso.end(),
                      [&](const FicheroEnCurso &f) { return f.old_nombre == identidad; });
    if (versiones >= kMaxVersiones) AbandonarFichero(almacen, MasViejo(almacen, identidad), salida);
    if (versiones > 0) return;
  }
  while (!almacen.en_curso.empty() && Identidades(almacen) >= almacen.opciones.maximo)
    AbandonarFichero(almacen, MasViejo(almacen, ""), salida);
}

// Picks up a file that an earlier run left with its record; a record that does not describe
// the temporary file in place is removed.
static bool Reanudar(AlmacenFicheros &almacen, FicheroEnCurso &f, FILE *salida) {
  if (access(NombreRegistro(f.raiz).c_str(), F_OK) != 0) return false;
  int fd = open(f.old_nombre_temp.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  struct stat datos;
  // only a plain file that is nowhere else: a hard link would write outside the directory
  bool valido = fd >= 0 && fstat(fd, &datos) == 0 && S_ISREG(datos.st_mode) &&
                datos.st_nlink == 1 && LeerRegistro(f, fd);
  if (!valido) {
    if (fd >= 0) close(fd);
    BorrarRegistro(f.raiz);
    return false;
  }
  f.pf1 = fd;
  InformarDeFichero(almacen, "Reanudado", f, salida, Prioridad::kSuceso);
  return true;
}

// A leftover of that name, even a link planted there, is replaced, never followed; whatever is
// planted between the two calls makes the create fail rather than block or be followed. Read
// too: a part that comes again is compared with what is stored. No record may describe another
// file, and no side copy of an earlier run may stay.
static void CrearTemporal(FicheroEnCurso &f) {
  BorrarRastros(f.raiz);
  f.pf1 = open(f.old_nombre_temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (f.pf1 < 0) DieWithError("Error al crear el fichero temporal.");
}

// Quiet, a start says what the file is: its parts and, when this datagram tells it, their size;
// within the log's budget, as anyone can start files.
static void InformarInicio(AlmacenFicheros &almacen, const std::string &id,
                           const DatagramaActual &actual, const sockaddr_storage *origen,
                           int32_t tamparte, int32_t largo, FILE *salida) {
  if (!almacen.opciones.silencioso) {
    // the size of a file of millions of parts needs 64 bits
    Informar(almacen, id, salida, "TotPart:%d|MaxTAMprt:%d|TAMprt:%lld\n", actual.totpartes,
             tamparte, static_cast<long long>(actual.totpartes) * tamparte);
  } else if (!DentroDelFreno(almacen, "Empezado", origen)) {
    return;
  } else if (actual.parteactual < UltimaParte(actual.totpartes) || actual.totpartes == 1) {
    Informar(almacen, id, salida, "Empezado con %d partes de %d bytes.\n", actual.totpartes, largo);
  } else {
    Informar(almacen, id, salida, "Empezado con %d partes.\n", actual.totpartes);
  }
}

// What a version's names derive from: its identity, unless another sender's version in
// progress has them, or an earlier run left a record of another sender's version under them, or
// the version's own record from an earlier run is under the names with its sender.
static std::string ElegirRaiz(const AlmacenFicheros &almacen, const std::string &identidad,
                              const sockaddr_storage &emisor) {
  std::string texto = TextoDeDireccion(emisor), con_emisor = RaizDeVersion(identidad, texto);
  if (access(NombreRegistro(con_emisor).c_str(), F_OK) == 0 ||
      BuscarPorRaiz(almacen, identidad) >= 0)
    return con_emisor;
  std::string de = EmisorDelRegistro(identidad);
  return !de.empty() && de != texto ? con_emisor : identidad;
}

// Whether a file in progress or stored goes by that name.
static bool NombreOcupado(const AlmacenFicheros &almacen, const std::string &nombre) {
  return access(nombre.c_str(), F_OK) == 0 ||
         std::any_of(almacen.en_curso.begin(), almacen.en_curso.end(), [&](const auto &f) {
           return f.old_nombre == nombre || f.apodo == nombre;
         });
}

// A version's name in the log and the status file, "<identidad>@<emisor>", is no other file's,
// in progress or stored: anyone may name a file so. Taken, it gets "#2", "#3"...
static std::string ApodoLibre(const AlmacenFicheros &almacen, std::string_view base) {
  std::string apodo(base);
  for (int n = 2; n < 100 && NombreOcupado(almacen, apodo); ++n)
    apodo = std::string(base) + "#" + std::to_string(n);
  return apodo;
}

int EmpezarFichero(AlmacenFicheros &almacen, const DatagramaActual &actual,
                   const sockaddr_storage *origen, int32_t tamparte, int32_t largo, FILE *salida) {
  HacerSitio(almacen, actual.elnombre, SeDistinguen(almacen, actual.elnombre, origen), salida);
  // the previous file, complete or not, leaves no temporary file behind
  if (!almacen.temporal_huerfano.empty()) unlink(almacen.temporal_huerfano.c_str());
  almacen.temporal_huerfano.clear();
  std::string raiz = actual.elnombre, apodo = actual.elnombre;
  sockaddr_storage emisor{};
  if (SeDistinguen(almacen, actual.elnombre, origen)) {
    emisor = *origen;
    raiz = ElegirRaiz(almacen, actual.elnombre, emisor);
    // under the plain names, what an earlier run left under its sender's is no use to anyone
    if (raiz == actual.elnombre) BorrarRastros(RaizDeVersion(raiz, TextoDeDireccion(emisor)));
    if (raiz != actual.elnombre) apodo = ApodoLibre(almacen, ApodoDeRaiz(raiz));
  }
  FicheroEnCurso &f = almacen.en_curso.emplace_back();
  OlvidarAtajo(almacen);
  f.old_nombre = actual.elnombre;
  f.emisor = emisor;
  f.raiz = raiz;
  f.apodo = apodo;
  OlvidarResto(almacen, raiz);
  f.old_nombre_temp = NombreTemporal(f.raiz);
  f.disposicion.totpartes = actual.totpartes;
  f.progreso_s = AhoraRealS();
  EmpezarPartes(f.partes, actual.totpartes);
  if (!almacen.opciones.reanudar || !Reanudar(almacen, f, salida)) {
    CrearTemporal(f);
    InformarInicio(almacen, f.apodo, actual, origen, tamparte, largo, salida);
  }
  return static_cast<int>(almacen.en_curso.size()) - 1;
}
