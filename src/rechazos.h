// What strangers can make the store say, kept within bounds: datagrams refused, told once and
// then counted on the quiet log, and the log's budget for every line that anyone on the network
// can cause.
#ifndef RECHAZOS_H
#define RECHAZOS_H

#include <sys/socket.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "ficheros.h"

/// A refusal that comes again is counted, and its count told at most this often.
inline constexpr int64_t kMsEntreRepeticiones = 5000;

/// Whether a line about causa (its format, or a word), caused by the sender origen (nullptr or
/// family 0: not known), may be printed: always but on the quiet log, where lines that anyone on
/// the network can cause share one budget (FrenoDeLineas); one past it is counted, veces times.
bool DentroDelFreno(AlmacenFicheros &almacen, const char *causa, const sockaddr_storage *origen,
                    uint64_t veces = 1);

/// A datagram from origen refused: counted, and printed as Informar prints. On the quiet log, a
/// refusal that comes again for the same file and cause is told once, then counted, and its
/// count told at most every kMsEntreRepeticiones: "<identidad>: <line> Repetido N veces en S
/// s."; either line within the log's budget (DentroDelFreno).
[[gnu::format(printf, 5, 6)]] void Rechazar(AlmacenFicheros &almacen, const std::string &identidad,
                                            const sockaddr_storage *origen, FILE *salida,
                                            const char *formato, ...);

/// Tells the counts of refusals that came again and have not been told for
/// kMsEntreRepeticiones (ahora_ms on the monotonic clock), and what went untold past the log's
/// budget once a minute; with todas, every count not told yet.
void AvisarRepeticiones(AlmacenFicheros &almacen, int64_t ahora_ms, bool todas, FILE *salida);

/// Forgets the refusals of a file that starts afresh in a new version, telling first the counts
/// not told yet: what is refused from then on is another story.
void OlvidarRepeticiones(AlmacenFicheros &almacen, const std::string &identidad, FILE *salida);

/// A change of version or layout, at warning, naming its sender origen: "<line> (emisor X).";
/// within the log's budget, as anyone can send such datagrams.
[[gnu::format(printf, 5, 6)]] void InformarCambio(AlmacenFicheros &almacen, const std::string &id,
                                                  const sockaddr_storage *origen, FILE *salida,
                                                  const char *formato, ...);

#endif
