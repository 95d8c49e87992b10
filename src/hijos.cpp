#include "hijos.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "directorio.h"
#include "entregas.h"
#include "salida.h"

extern char **environ;

void PrepararAlCompletar(AlCompletar &hijos, const char *programa,
                         const OpcionesAlmacen &opciones) {
  hijos.programa = hijos.nombre = programa;
  hijos.silencioso = opciones.silencioso;
  hijos.a_terminal = opciones.a_terminal;
  // a bare name is looked up in PATH; a relative path means from where the receiver started
  if (strchr(programa, '/') != nullptr && programa[0] != '/')
    hijos.programa = DirectorioDeTrabajo() + "/" + programa;
}

void FijarDirectorioAlCompletar(AlCompletar &hijos) {
  hijos.directorio = DirectorioDeTrabajo();
}

// Standard input reads nothing: the program runs beside the receiver, not for a person.
static void Lanzar(AlCompletar &hijos, const std::string &identidad, FILE *salida) {
  std::string ruta = hijos.directorio + "/" + identidad;
  char *argumentos[] = {hijos.programa.data(), ruta.data(), nullptr};
  posix_spawn_file_actions_t acciones;
  posix_spawn_file_actions_init(&acciones);
  posix_spawn_file_actions_addopen(&acciones, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  fflush(salida);
  pid_t pid;
  int error = posix_spawnp(&pid, hijos.programa.c_str(), &acciones, nullptr, argumentos, environ);
  posix_spawn_file_actions_destroy(&acciones);
  if (error == 0) {
    hijos.en_marcha.push_back(Hijo{pid, identidad});
    return;
  }
  std::string visible = NombreVisible(identidad);
  fprintf(stderr, "%s%s: No se pudo ejecutar %s para %s: %s\n", Prefijo(stderr, Prioridad::kError),
          visible.c_str(), hijos.nombre.c_str(), visible.c_str(), strerror(error));
}

static bool EnEspera(const AlCompletar &hijos, const std::string &identidad) {
  return std::find(hijos.en_espera.begin(), hijos.en_espera.end(), identidad) !=
         hijos.en_espera.end();
}

static bool EnMarcha(const AlCompletar &hijos, const std::string &identidad) {
  return std::any_of(hijos.en_marcha.begin(), hijos.en_marcha.end(),
                     [&](const Hijo &hijo) { return hijo.identidad == identidad; });
}

// The file waits its turn in memory; past kMaxEnEspera its mark alone keeps it, read again
// once the queue has room. Told once each time the queue fills.
static void Encolar(AlCompletar &hijos, std::string identidad, FILE *salida) {
  if (EnEspera(hijos, identidad)) return;
  if (hijos.en_espera.size() < kMaxEnEspera) {
    hijos.en_espera.push_back(std::move(identidad));
    return;
  }
  if (hijos.desbordado) return;
  hijos.desbordado = true;
  fflush(salida);
  fprintf(stderr,
          "%sDemasiados ficheros esperan a %s: desde %s, cada uno espera en su marca y se le "
          "pasara cuando haya sitio\n",
          Prefijo(stderr, Prioridad::kAviso), hijos.nombre.c_str(),
          NombreVisible(identidad).c_str());
}

void LanzarAlCompletar(AlCompletar &hijos, std::vector<std::string> &identidades, FILE *salida) {
  for (std::string &identidad : identidades) {
    // a program still on an older version of the file has not had this one
    bool en_marcha = false;
    for (Hijo &hijo : hijos.en_marcha)
      if (hijo.identidad == identidad) hijo.superado = en_marcha = true;
    if (!en_marcha && hijos.en_marcha.size() < kMaxEnMarcha && !EnEspera(hijos, identidad)) {
      Lanzar(hijos, identidad, salida);
    } else {
      Encolar(hijos, std::move(identidad), salida);
    }
  }
  identidades.clear();
}

// "<identidad>: <texto>", the identity without controls on a terminal. The text, which names
// the program, may be as long as a path.
static void LineaDelFichero(const AlCompletar &hijos, const std::string &identidad,
                            const std::string &texto, FILE *salida,
                            Prioridad prioridad = Prioridad::kSuceso) {
  Renglon prefijo;
  Anadir(prefijo, Prefijo(salida, prioridad));
  AnadirNombre(prefijo, identidad, hijos.a_terminal || salida == stderr);
  Anadir(prefijo, ": ");
  Emitir(prefijo, salida);
  EscribirTexto(salida, texto);
}

// "<identidad>: <programa> termino con estado N." or "... por la senal N."
static void InformarFin(const AlCompletar &hijos, const std::string &identidad, int estado,
                        FILE *salida) {
  if (!hijos.silencioso) return;
  bool senal = WIFSIGNALED(estado);
  bool bien = WIFEXITED(estado) && WEXITSTATUS(estado) == 0;
  LineaDelFichero(hijos, identidad,
                  hijos.nombre + (senal ? " termino por la senal " : " termino con estado ") +
                      std::to_string(senal ? WTERMSIG(estado) : WEXITSTATUS(estado)) + ".\n",
                  salida, bien ? Prioridad::kSuceso : Prioridad::kAviso);
}

// A program that ended by itself has had the file: its hand-off is no longer pending, unless
// the same file completed again since it started, which then waits for a program of its own.
// One killed may not have done its work.
static void Terminado(AlCompletar &hijos, std::size_t cual, int estado, FILE *salida) {
  Hijo hijo = std::move(hijos.en_marcha[cual]);
  hijos.en_marcha.erase(hijos.en_marcha.begin() + static_cast<std::ptrdiff_t>(cual));
  InformarFin(hijos, hijo.identidad, estado, salida);
  if (hijo.superado) {
    Encolar(hijos, std::move(hijo.identidad), salida);
  } else if (WIFEXITED(estado) && !EnEspera(hijos, hijo.identidad)) {
    BorrarEntrega(hijo.identidad);
  }
}

// Reaps the programs that ended.
static void Recoger(AlCompletar &hijos, FILE *salida) {
  for (std::size_t i = 0; i < hijos.en_marcha.size();) {
    int estado;
    pid_t pid = waitpid(hijos.en_marcha[i].pid, &estado, WNOHANG);
    if (pid == 0) {
      ++i;
      continue;
    }
    if (pid > 0) {
      Terminado(hijos, i, estado, salida);
    } else {
      hijos.en_marcha.erase(hijos.en_marcha.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
}

// The marks are the queue: into the empty queue, in name order, as many as it holds of the
// files that no program has yet; a mark whose file is gone is told and cleared.
static void TomarMarcas(AlCompletar &hijos, FILE *salida) {
  hijos.desbordado = false;
  for (std::string &identidad : EntregasPendientes()) {
    struct stat datos;
    if (lstat(identidad.c_str(), &datos) != 0 || !S_ISREG(datos.st_mode)) {
      fflush(salida);
      LineaDelFichero(hijos, identidad, "ya no existe; no se le pasa a " + hijos.nombre + ".\n",
                      hijos.silencioso ? salida : stderr, Prioridad::kAviso);
      BorrarEntrega(identidad);
    } else if (hijos.en_espera.size() == kMaxEnEspera) {
      hijos.desbordado = true;
      return;
    } else if (!EnMarcha(hijos, identidad)) {
      hijos.en_espera.push_back(std::move(identidad));
    }
  }
}

void RecogerHijos(AlCompletar &hijos, FILE *salida) {
  Recoger(hijos, salida);
  for (;;) {
    if (hijos.en_espera.empty() && hijos.desbordado) TomarMarcas(hijos, salida);
    if (hijos.en_marcha.size() >= kMaxEnMarcha || hijos.en_espera.empty()) return;
    std::string identidad = std::move(hijos.en_espera.front());
    hijos.en_espera.pop_front();
    Lanzar(hijos, identidad, salida);
  }
}

void RetomarEntregas(AlCompletar &hijos, FILE *salida) {
  TomarMarcas(hijos, salida);
  RecogerHijos(hijos, salida);
}

void TerminarEntregas(AlCompletar &hijos, const std::vector<std::string> &completados,
                      FILE *salida) {
  Recoger(hijos, salida);
  if (!hijos.silencioso) return;
  for (const Hijo &hijo : hijos.en_marcha)
    LineaDelFichero(hijos, hijo.identidad,
                    hijos.nombre + " sigue en marcha; se le pasara de nuevo al arrancar.\n",
                    salida);
  std::vector<std::string> esperan(hijos.en_espera.begin(), hijos.en_espera.end());
  esperan.insert(esperan.end(), completados.begin(), completados.end());
  for (const std::string &identidad : esperan)
    LineaDelFichero(hijos, identidad,
                    "pendiente de " + hijos.nombre + "; se le pasara al arrancar.\n", salida);
}
