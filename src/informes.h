// The store's reports: the lines it prints beside the summary lines, and the failures of the disk
// that it tells on its error stream.
#ifndef INFORMES_H
#define INFORMES_H

#include <sys/socket.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "salida.h"

struct AlmacenFicheros;
struct FicheroEnCurso;

/// The start of a line of the store: the journal's priority and, quiet, the identity and a
/// colon, since the summary lines that would name the file are not printed.
void AnadirPrefijo(Renglon &linea, const AlmacenFicheros &almacen, const std::string &identidad,
                   FILE *salida, Prioridad prioridad);

/// Prints a line of the store about the file of that identity; in quiet mode it starts with the
/// identity and a colon, since the summary lines that would name the file are not printed.
[[gnu::format(printf, 4, 5)]] void Informar(const AlmacenFicheros &almacen,
                                            const std::string &identidad, FILE *salida,
                                            const char *formato, ...);

/// The same at the priority given.
[[gnu::format(printf, 5, 6)]] void InformarCon(const AlmacenFicheros &almacen, Prioridad prioridad,
                                               const std::string &identidad, FILE *salida,
                                               const char *formato, ...);

/// "<suceso> <identidad> con N de M partes.": a file dropped or resumed, named in any mode;
/// quiet, "<identidad>: <suceso> con N de M partes.".
void InformarDeFichero(const AlmacenFicheros &almacen, std::string_view suceso,
                       const FicheroEnCurso &fichero, FILE *salida, Prioridad prioridad);

/// "Caducado <identidad> con N de M partes, sin cambios en S s." (or "..., sin registro, sin
/// cambios en S s." when no record tells its parts): leftovers removed; quiet, as
/// InformarDeFichero.
void InformarDeResto(const AlmacenFicheros &almacen, const struct Resto &resto, int64_t edad,
                     FILE *salida);

/// "NO LA TENGO,posicion P....N bytes...": a new part taken into its file (not in quiet mode);
/// "REPARADA,en posicion P....N bytes..." between MarcarReparadas(true) and (false).
void InformarParte(const AlmacenFicheros &almacen, int64_t posicion, std::size_t largo,
                   FILE *salida);

/// Whether the parts taken from now on are repaired ones, told so in their lines.
void MarcarReparadas(bool reparadas);

/// "<identidad>: mensaje: <system error>" on the error stream, after what was printed before
/// it; without the identity when it is empty, for a failure that concerns no one file.
void ReportarFallo(const AlmacenFicheros &almacen, const std::string &identidad,
                   const char *mensaje, int error, FILE *salida);

/// Whether this failure of the file (its message and error) is new, noting it then: a failure
/// that repeats is told once, and again only once a save without errors has cleared it.
bool PrimeraVez(FicheroEnCurso &fichero, const char *mensaje, int error);

/// ReportarFallo, told once per file, message and error: a full disk fails every part alike.
void ReportarFalloUnaVez(const AlmacenFicheros &almacen, FicheroEnCurso &fichero,
                         const char *mensaje, int error, FILE *salida);

/// After a save of the file without errors: failures told before are cleared, and, if there
/// were any, "<identidad>: Guardado sin errores de nuevo." says so.
void DarPorSuperados(const AlmacenFicheros &almacen, FicheroEnCurso &fichero, FILE *salida);

/// A file left unfinished whose writes failed says how many of its parts never reached the disk.
void AvisarPartesNoGrabadas(const AlmacenFicheros &almacen, const FicheroEnCurso &fichero,
                            FILE *salida);


/// "Ya grabado antes...": for every datagram of a stored file, or on the quiet log once per run
/// and file, "<identidad>: Ya grabado antes...".
void DecirYaGrabado(AlmacenFicheros &almacen, const std::string &identidad, FILE *salida);

#endif
