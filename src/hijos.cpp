#include "hijos.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "directorio.h"
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
    hijos.en_marcha.emplace_back(pid, identidad);
    return;
  }
  fprintf(stderr, "No se pudo ejecutar %s para %s: %s\n", hijos.nombre.c_str(), identidad.c_str(),
          strerror(error));
}

void LanzarAlCompletar(AlCompletar &hijos, std::vector<std::string> &identidades, FILE *salida) {
  for (std::string &identidad : identidades) {
    if (hijos.en_marcha.size() < kMaxEnMarcha) {
      Lanzar(hijos, identidad, salida);
    } else if (hijos.en_espera.size() < kMaxEnEspera) {
      hijos.en_espera.push_back(std::move(identidad));
    } else {
      fflush(salida);
      fprintf(stderr, "Demasiados ficheros esperan a %s: %s no se le pasa\n", hijos.nombre.c_str(),
              identidad.c_str());
    }
  }
  identidades.clear();
}

// "<identidad>: <programa> termino con estado N." or "... por la senal N."
static void InformarFin(const AlCompletar &hijos, const std::string &identidad, int estado,
                        FILE *salida) {
  if (!hijos.silencioso) return;
  Renglon linea;
  AnadirNombre(linea, identidad, hijos.a_terminal);
  Anadir(linea, ": ");
  Anadir(linea, hijos.nombre);
  Anadir(linea, WIFSIGNALED(estado) ? " termino por la senal " : " termino con estado ");
  AnadirEntero(linea, WIFSIGNALED(estado) ? WTERMSIG(estado) : WEXITSTATUS(estado));
  Anadir(linea, ".\n");
  Emitir(linea, salida);
}

void RecogerHijos(AlCompletar &hijos, FILE *salida) {
  for (std::size_t i = 0; i < hijos.en_marcha.size();) {
    int estado;
    pid_t pid = waitpid(hijos.en_marcha[i].first, &estado, WNOHANG);
    if (pid == 0) {
      ++i;
      continue;
    }
    if (pid > 0) InformarFin(hijos, hijos.en_marcha[i].second, estado, salida);
    hijos.en_marcha.erase(hijos.en_marcha.begin() + static_cast<std::ptrdiff_t>(i));
  }
  while (hijos.en_marcha.size() < kMaxEnMarcha && !hijos.en_espera.empty()) {
    std::string identidad = std::move(hijos.en_espera.front());
    hijos.en_espera.pop_front();
    Lanzar(hijos, identidad, salida);
  }
}
