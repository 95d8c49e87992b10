#include "en_curso.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <unordered_set>

#include "direcciones.h"
#include "escritura.h"
#include "fatal.h"
#include "informes.h"
#include "registro.h"
#include "sincronia.h"

bool SeDistinguen(const AlmacenFicheros &almacen, const std::string &identidad,
                  const sockaddr_storage *origen) {
  // the name of a version with its sender must fit where any identity does
  return almacen.opciones.por_emisor && origen != nullptr &&
         identidad.size() + 1 + INET6_ADDRSTRLEN <= kMaxIdentidad;
}

// Whether the file is the datagram's version: with versions told apart, of its sender too.
static bool DelEmisor(const AlmacenFicheros &almacen, const FicheroEnCurso &f,
                      const sockaddr_storage *origen) {
  return !SeDistinguen(almacen, f.old_nombre, origen) || MismaDireccion(f.emisor, *origen);
}

int BuscarDe(const AlmacenFicheros &almacen, const std::string &identidad,
             const sockaddr_storage *origen) {
  const std::vector<FicheroEnCurso> &todos = almacen.en_curso;
  // most datagrams belong to the file of the one before
  if (almacen.ultimo >= 0 && todos[almacen.ultimo].old_nombre == identidad &&
      DelEmisor(almacen, todos[almacen.ultimo], origen))
    return almacen.ultimo;
  for (std::size_t i = 0; i < todos.size(); ++i)
    if (todos[i].old_nombre == identidad && DelEmisor(almacen, todos[i], origen))
      return static_cast<int>(i);
  return -1;
}

void RecordarAtajo(AlmacenFicheros &almacen, const DatagramaActual &actual,
                   const sockaddr_storage *origen, int cual) {
  Atajo &a = almacen.atajo;
  a = {actual.numero_de_identidad, almacen.lotes, almacen.cambios_de_tabla, {}, cual};
  if (origen != nullptr) a.origen = *origen;
}

int SegunElAtajo(const AlmacenFicheros &almacen, const DatagramaActual &actual,
                 const sockaddr_storage *origen) {
  const Atajo &a = almacen.atajo;
  if (almacen.lotes == 0 || a.identidad != actual.numero_de_identidad || a.lote != almacen.lotes ||
      a.cambios != almacen.cambios_de_tabla)
    return -1;
  if (almacen.opciones.por_emisor && (origen == nullptr || !MismaDireccion(a.origen, *origen)))
    return -1;
  return a.cual;
}

int BuscarPorRaiz(const AlmacenFicheros &almacen, const std::string &raiz) {
  for (std::size_t i = 0; i < almacen.en_curso.size(); ++i)
    if (almacen.en_curso[i].raiz == raiz) return static_cast<int>(i);
  return -1;
}

int Buscar(const AlmacenFicheros &almacen, const std::string &identidad) {
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

void QuitarFichero(AlmacenFicheros &almacen, std::size_t cual) {
  SoltarBuffer(almacen, almacen.en_curso[cual]);
  CerrarTemporal(almacen.en_curso[cual]);
  almacen.en_curso.erase(almacen.en_curso.begin() + static_cast<std::ptrdiff_t>(cual));
  ++almacen.cambios_de_tabla;
  almacen.ultimo = -1;
}

void OlvidarResto(AlmacenFicheros &almacen, const std::string &raiz) {
  std::erase_if(almacen.restos, [&](const Resto &resto) { return resto.raiz == raiz; });
}

void DescartarFichero(AlmacenFicheros &almacen, std::size_t cual) {
  BorrarRastros(almacen.en_curso[cual].raiz);
  QuitarFichero(almacen, cual);
}

void AbandonarFichero(AlmacenFicheros &almacen, std::size_t cual, FILE *salida) {
  FicheroEnCurso &f = almacen.en_curso[cual];
  VolcarBuffer(almacen, f, salida);
  AvisarPartesNoGrabadas(almacen, f, salida);
  if ((almacen.opciones.maximo > 1 || almacen.opciones.silencioso) &&
      DentroDelFreno(almacen, "Abandonado", &f.emisor))
    InformarDeFichero(almacen, "Abandonado", f, salida, Prioridad::kAviso);
  DescartarFichero(almacen, cual);
}

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

// Another sender's version of the file is in progress.
static bool HayOtraVersion(const AlmacenFicheros &almacen, const FicheroEnCurso &f) {
  return std::any_of(almacen.en_curso.begin(), almacen.en_curso.end(), [&](const auto &otro) {
    return &otro != &f && otro.old_nombre == f.old_nombre;
  });
}

// Of the versions of a file whose writes found the disk full, the one with the fewest parts: the
// others then gain parts at each turn, and one of them completes.
static int QueCede(const AlmacenFicheros &almacen) {
  const std::vector<FicheroEnCurso> &todos = almacen.en_curso;
  for (const FicheroEnCurso &f : todos) {
    if (!f.sin_sitio || !HayOtraVersion(almacen, f)) continue;
    int cual = -1;
    for (std::size_t i = 0; i < todos.size(); ++i)
      if (todos[i].old_nombre == f.old_nombre &&
          (cual < 0 || Recibidas(todos[i].partes) < Recibidas(todos[cual].partes)))
        cual = static_cast<int>(i);
    return cual;
  }
  return -1;
}

void CederSitio(AlmacenFicheros &almacen, FILE *salida) {
  if (!almacen.disco_lleno) return;
  almacen.disco_lleno = false;
  for (int cual; (cual = QueCede(almacen)) >= 0;) {
    FicheroEnCurso &f = almacen.en_curso[static_cast<std::size_t>(cual)];
    std::string identidad = f.old_nombre;
    // once for each version, however often it comes back and gives way again
    if (almacen.cedidas.size() > kMaxFicherosEnCurso) almacen.cedidas.clear();
    if (almacen.cedidas.insert(f.raiz).second)
      InformarCon(almacen, Prioridad::kAviso, f.apodo, salida,
                  "Sin sitio en el disco para dos versiones: esta deja el suyo a la otra.\n");
    AbandonarFichero(almacen, static_cast<std::size_t>(cual), salida);
    // the space it leaves is the other versions' to try again
    for (FicheroEnCurso &otro : almacen.en_curso)
      if (otro.old_nombre == identidad) otro.sin_sitio = false;
  }
  for (FicheroEnCurso &f : almacen.en_curso) f.sin_sitio = false;
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
  } else if (actual.parteactual < actual.totpartes - 1 || actual.totpartes == 1) {
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
  ++almacen.cambios_de_tabla;
  f.old_nombre = actual.elnombre;
  f.emisor = emisor;
  f.raiz = raiz;
  f.apodo = apodo;
  OlvidarResto(almacen, raiz);
  f.old_nombre_temp = NombreTemporal(f.raiz);
  f.disposicion.totpartes = actual.totpartes;
  f.progreso_s = static_cast<int64_t>(time(nullptr));
  EmpezarPartes(f.partes, actual.totpartes);
  if (!almacen.opciones.reanudar || !Reanudar(almacen, f, salida)) {
    CrearTemporal(f);
    InformarInicio(almacen, f.apodo, actual, origen, tamparte, largo, salida);
  }
  return static_cast<int>(almacen.en_curso.size()) - 1;
}

void EsperarUltimaOtraVez(FicheroEnCurso &f) {
  Olvidar(f.partes, f.disposicion.totpartes - 1);
  f.disposicion.ultima = -1;
  f.ultima_adelantada = false;
}


void GuardarFichero(AlmacenFicheros &almacen, FicheroEnCurso &f, FILE *salida) {
  VolcarBuffer(almacen, f, salida);
  // a write that failed since leaves a part missing, which the next save looks at again
  bool escritas = Fallidas(f.partes) == 0;
  if (SincronizarTemporal(almacen, f, salida) && EscribirRegistro(almacen, f, salida) && escritas)
    DarPorSuperados(almacen, f, salida);
}
