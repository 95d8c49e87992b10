// The program run on each completed file: started without a shell and without waiting for it,
// a few at a time, and reaped as it ends; the hand-offs that an earlier run left pending are
// taken up at the start.
#ifndef HIJOS_H
#define HIJOS_H

#include <sys/types.h>

#include <cstdio>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "ficheros.h"

/// Most programs running at once; further completed files wait their turn.
inline constexpr std::size_t kMaxEnMarcha = 4;
/// Most completed files waiting for a program in memory; past that, their marks on disk hold
/// them until the queue has room.
inline constexpr std::size_t kMaxEnEspera = 1024;

/// A program running on a completed file.
struct Hijo {
  pid_t pid;
  std::string identidad;   // the file it was given
  bool superado = false;   // the file completed again after it started: its end hands nothing over
};

struct AlCompletar {
  std::string programa;                                  // as given, or absolute
  std::string nombre;                                    // as given, to name it in reports
  std::string directorio;                                // where the files are, absolute
  bool silencioso = false;                               // ends are told on the quiet log
  bool a_terminal = false;                               // which is a terminal
  std::vector<Hijo> en_marcha;                           // each program running, and its file
  std::deque<std::string> en_espera;                     // identities waiting for a program
  bool desbordado = false;  // marks on disk wait that the queue could not take: read again
                            // once it has room
};

/// Takes the program and the directory where files are completed. A program given by a
/// relative path is taken from the working directory now. Ends the process through
/// DieWithError when the working directory cannot be read.
void PrepararAlCompletar(AlCompletar &hijos, const char *programa, const OpcionesAlmacen &opciones);

/// Sets the directory, absolute, once the receiver is in it.
void FijarDirectorioAlCompletar(AlCompletar &hijos);

/// Runs the program on each file named (identities of completed files), or queues them while
/// kMaxEnMarcha run; past kMaxEnEspera, the file's mark alone holds it until the queue has room.
/// A program already running on one of them hands nothing over when it ends. Empties the list.
void LanzarAlCompletar(AlCompletar &hijos, std::vector<std::string> &identidades, FILE *salida);

/// Reaps the programs that ended, telling each end on the quiet log, and starts those waiting,
/// refilling the queue from the marks on disk that it could not take. A program that ended by
/// itself clears its file's pending hand-off, unless the file completed again since it started.
void RecogerHijos(AlCompletar &hijos, FILE *salida);

/// At the start, in the working directory: runs the program on each file whose hand-off an
/// earlier run left pending; one whose file is gone is told (on the quiet log, or on standard
/// error) and cleared.
void RetomarEntregas(AlCompletar &hijos, FILE *salida);

/// At the end: reaps the programs that ended, then tells on the quiet log each file whose
/// program still runs or has not started, those completed (identities) and not handed over
/// yet among them. Their hand-offs stay pending for the next start.
void TerminarEntregas(AlCompletar &hijos, const std::vector<std::string> &completados,
                      FILE *salida);

#endif
