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
#include "reloj.h"
#include "rechazos.h"

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

int BuscarPorRaiz(const AlmacenFicheros &almacen, const std::string &raiz) {
  for (std::size_t i = 0; i < almacen.en_curso.size(); ++i)
    if (almacen.en_curso[i].raiz == raiz) return static_cast<int>(i);
  return -1;
}

static void CerrarTemporal(FicheroEnCurso &f) {
  if (f.pf1 >= 0) close(f.pf1);
  f.pf1 = -1;
}

void QuitarFichero(AlmacenFicheros &almacen, std::size_t cual) {
  if (almacen.ultimo >= 0)
    almacen.faltan_del_ultimo =
        almacen.en_curso[static_cast<std::size_t>(almacen.ultimo)].partes.faltan;
  SoltarBuffer(almacen, almacen.en_curso[cual]);
  CerrarTemporal(almacen.en_curso[cual]);
  almacen.en_curso.erase(almacen.en_curso.begin() + static_cast<std::ptrdiff_t>(cual));
  OlvidarAtajo(almacen);
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

void EsperarUltimaOtraVez(FicheroEnCurso &f) {
  Olvidar(f.partes, UltimaParte(f.disposicion));
  f.disposicion.ultima = -1;
  f.ultima_adelantada = false;
}
