#include "informes.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <ctime>

#include "direcciones.h"
#include "ficheros.h"
#include "rechazos.h"
#include "nombres.h"
#include "salida.h"
#include "reloj.h"

void AnadirPrefijo(Renglon &linea, const AlmacenFicheros &almacen,
                          const std::string &identidad, FILE *salida, Prioridad prioridad) {
  Anadir(linea, Prefijo(salida, prioridad));
  if (!almacen.opciones.silencioso) return;
  AnadirNombre(linea, identidad, almacen.opciones.a_terminal);
  Anadir(linea, ": ");
}

static void InformarSegun(const AlmacenFicheros &almacen, Prioridad prioridad,
                          const std::string &identidad, FILE *salida, const char *formato,
                          va_list argumentos) {
  Renglon prefijo;
  AnadirPrefijo(prefijo, almacen, identidad, salida, prioridad);
  Emitir(prefijo, salida);
  vfprintf(salida, formato, argumentos);
}

void Informar(const AlmacenFicheros &almacen, const std::string &identidad, FILE *salida,
              const char *formato, ...) {
  va_list argumentos;
  va_start(argumentos, formato);
  InformarSegun(almacen, Prioridad::kSuceso, identidad, salida, formato, argumentos);
  va_end(argumentos);
}

void InformarCon(const AlmacenFicheros &almacen, Prioridad prioridad, const std::string &identidad,
                 FILE *salida, const char *formato, ...) {
  va_list argumentos;
  va_start(argumentos, formato);
  InformarSegun(almacen, prioridad, identidad, salida, formato, argumentos);
  va_end(argumentos);
}

// Quiet, it reads as every other line of the log: the identity first.
static void AnadirSuceso(Renglon &linea, const AlmacenFicheros &almacen, std::string_view suceso,
                         const std::string &identidad, FILE *salida, Prioridad prioridad) {
  AnadirPrefijo(linea, almacen, identidad, salida, prioridad);
  Anadir(linea, suceso);
  if (almacen.opciones.silencioso) return;
  Anadir(linea, " ");
  AnadirNombre(linea, identidad, almacen.opciones.a_terminal);
}

static void AnadirPartes(Renglon &linea, int32_t partes, int32_t total) {
  Anadir(linea, " con ");
  AnadirEntero(linea, partes);
  Anadir(linea, " de ");
  AnadirEntero(linea, total);
  Anadir(linea, " partes");
}

void InformarDeFichero(const AlmacenFicheros &almacen, std::string_view suceso,
                       const FicheroEnCurso &f, FILE *salida, Prioridad prioridad) {
  Renglon linea;
  AnadirSuceso(linea, almacen, suceso, f.apodo, salida, prioridad);
  AnadirPartes(linea, Recibidas(f.partes), f.disposicion.totpartes);
  Anadir(linea, ".\n");
  Emitir(linea, salida);
}

void InformarDeResto(const AlmacenFicheros &almacen, const Resto &resto, int64_t edad,
                     FILE *salida) {
  Renglon linea;
  AnadirSuceso(linea, almacen, "Caducado", std::string(ApodoDeRaiz(resto.raiz)), salida,
               Prioridad::kSuceso);
  if (resto.total > 0) {
    AnadirPartes(linea, resto.partes, resto.total);
  } else {
    Anadir(linea, ", sin registro");
  }
  Anadir(linea, ", sin cambios en ");
  AnadirEntero(linea, edad);
  Anadir(linea, " s.\n");
  Emitir(linea, salida);
}

// A literal copied at p, whose size the compiler knows; returns where it ends.
template <std::size_t N>
static char *Poner(char *p, const char (&literal)[N]) {
  memcpy(p, literal, N - 1);
  return p + N - 1;
}

// The start of a part's line: a received part's, or, while repairs hand theirs to the store, a
// repaired one's, of the same length, so that a received part's line costs no more than before.
static constexpr char kTextoRecibida[] = "NO LA TENGO,posicion ";
static constexpr char kTextoReparada[] = "REPARADA,en posicion ";
static_assert(sizeof kTextoRecibida == sizeof kTextoReparada);
static char texto_de_parte[sizeof kTextoRecibida] = "NO LA TENGO,posicion ";

void MarcarReparadas(bool reparadas) {
  memcpy(texto_de_parte, reparadas ? kTextoReparada : kTextoRecibida, sizeof texto_de_parte);
}

// Built by hand, in place in the stream's buffer when it has room: it is printed for every new
// part. Apart from the test of quiet, which then costs a part no more than itself.
[[gnu::noinline]] static void EscribirLineaDeParte(int64_t posicion, std::size_t largo,
                                                   FILE *salida) {
  char aparte[96];  // the text and two numbers of kMaxCifras at most
  char *hueco = Hueco(salida, sizeof aparte);
  char *p = Poner(hueco != nullptr ? hueco : aparte, texto_de_parte);
  p += FormatearEntero(p, posicion);
  p = Poner(p, "....");
  p += FormatearEntero(p, static_cast<int64_t>(largo));
  p = Poner(p, " bytes...\n");
  if (hueco != nullptr)
    Escrito(salida, p);
  else
    EscribirTexto(salida, std::string_view(aparte, static_cast<std::size_t>(p - aparte)));
}

void InformarParte(const AlmacenFicheros &almacen, int64_t posicion, std::size_t largo,
                   FILE *salida) {
  if (!almacen.opciones.silencioso) EscribirLineaDeParte(posicion, largo, salida);
}

// Standard output keeps whole lines; failures of the disk go to the error stream after it.
void ReportarFallo(const AlmacenFicheros &almacen, const std::string &identidad,
                   const char *mensaje, int error, FILE *salida) {
  fflush(salida);
  ++almacen.fallos;
  fputs(Prefijo(almacen.errores, Prioridad::kError), almacen.errores);
  if (!identidad.empty()) fprintf(almacen.errores, "%s: ", NombreVisible(identidad).c_str());
  fprintf(almacen.errores, "%s: %s\n", mensaje, strerror(error));
}

bool PrimeraVez(FicheroEnCurso &f, const char *mensaje, int error) {
  std::vector<FalloAvisado> &avisados = f.errores_avisados;
  if (std::any_of(avisados.begin(), avisados.end(), [&](const FalloAvisado &a) {
        return a.error == error && strcmp(a.mensaje, mensaje) == 0;
      }))
    return false;
  avisados.push_back({mensaje, error, AhoraRealS()});
  return true;
}

void ReportarFalloUnaVez(const AlmacenFicheros &almacen, FicheroEnCurso &f, const char *mensaje,
                         int error, FILE *salida) {
  if (PrimeraVez(f, mensaje, error)) ReportarFallo(almacen, f.apodo, mensaje, error, salida);
}

void DarPorSuperados(const AlmacenFicheros &almacen, FicheroEnCurso &f, FILE *salida) {
  if (f.errores_avisados.empty()) return;
  f.errores_avisados.clear();
  Renglon linea;
  Anadir(linea, Prefijo(salida, Prioridad::kSuceso));
  AnadirNombre(linea, f.apodo, almacen.opciones.a_terminal);
  Anadir(linea, ": Guardado sin errores de nuevo.\n");
  Emitir(linea, salida);
}

void AvisarPartesNoGrabadas(const AlmacenFicheros &almacen, const FicheroEnCurso &f, FILE *salida) {
  int32_t fallidas = Fallidas(f.partes);
  if (fallidas == 0) return;
  fflush(salida);
  std::string nombre = NombreVisible(f.apodo);
  fprintf(almacen.errores, "%s%s: Fichero %s abandonado: %ld partes no grabadas.\n",
          Prefijo(almacen.errores, Prioridad::kError), nombre.c_str(), nombre.c_str(),
          static_cast<long>(fallidas));
}

/// Stored identities named on the quiet log, remembered so that each is named once a run.
static constexpr std::size_t kMaxDichos = 65536;

void DecirYaGrabado(AlmacenFicheros &almacen, const std::string &identidad, FILE *salida) {
  if (!almacen.opciones.silencioso) {
    EscribirTexto(salida, "Ya grabado antes...\n");
    return;
  }
  std::unordered_set<std::string> &dichos = almacen.ya_dichos;
  if (dichos.count(identidad) != 0) return;
  if (dichos.size() == kMaxDichos) dichos.clear();
  dichos.insert(identidad);
  Renglon linea;
  Anadir(linea, Prefijo(salida, Prioridad::kSuceso));
  AnadirNombre(linea, identidad, almacen.opciones.a_terminal);
  Anadir(linea, ": Ya grabado antes...\n");
  Emitir(linea, salida);
}
