// What the sender tells a person: a progress line on a terminal, redrawn about four times a
// second, and one summary line at the end of every run. The figures and the texts are plain
// routines over counts and times given to them, without a clock or a terminal.
#ifndef EMISOR_PROGRESO_H
#define EMISOR_PROGRESO_H

#include <cstdint>
#include <string>

/// Nanoseconds between redraws of the line.
inline constexpr int64_t kPeriodoProgresoNs = 250000000;

/// Counts of the run so far.
struct Cuentas {
  uint64_t enviados = 0;    // datagrams that left
  uint64_t bytes = 0;       // their bytes
  uint64_t sin_enviar = 0;  // datagrams that the kernel's queue never took
  uint64_t omitidos = 0;    // datagrams left out by --perdida
  uint64_t previstos = 0;   // datagrams of the whole run; 0 in carrusel
};

/// Where the send is: the file, its pass and its repeat, counted from 1.
struct Posicion {
  const char *nombre = "";     // name of the file being sent
  long long pasada = 0;        // pass over the file set
  long long pasadas = 0;       // passes asked for; 0 in carrusel
  long long repeticion = 0;    // send of this file within the pass
  long long repeticiones = 1;  // sends of each file in a row
};

/// The counts at one instant.
struct Muestra {
  int64_t ns = 0;         // when, on the monotonic clock
  uint64_t hechos = 0;    // datagrams dealt with: sent, not sent or left out
  uint64_t enviados = 0;  // datagrams sent
  uint64_t bytes = 0;     // their bytes
};

/// Figures of the last second.
struct Cifras {
  double datagramas_s = 0;  // datagrams sent per second
  double mbit_s = 0;        // their bits per second, in millions
  long long quedan_s = -1;  // seconds to the end at the pace of the last second; -1: unknown
};

inline constexpr int kMuestras = 8;  // two seconds of redraws

/// State of the progress line.
struct Progreso {
  bool en_terminal = false;     // standard error is a terminal: draw the line
  bool dibujada = false;        // the line is drawn and not yet erased
  int columnas = 0;             // width of the terminal it was drawn for
  int64_t proximo = 0;          // ns when the line is redrawn next
  Muestra muestras[kMuestras];  // one per redraw, the oldest overwritten first
  unsigned cuantas = 0;         // samples taken so far
};

/// Datagrams dealt with so far.
uint64_t Hechos(const Cuentas &cuentas);

/// Starts the line's clock at ahora, with a first sample of nothing sent.
void IniciarProgreso(Progreso &progreso, int64_t ahora);

/// Keeps a sample, forgetting the oldest when kMuestras are kept.
void AnotarMuestra(Progreso &progreso, const Muestra &muestra);

/// Rates over the last second before ahora, from the sample taken about a second earlier;
/// before a second has gone by, what was sent counts as sent in the last second.
Cifras CifrasDelUltimoSegundo(const Progreso &progreso, const Muestra &ahora, uint64_t previstos);

/// The progress line, cut or padded to columnas - 1 characters so that it never wraps.
std::string LineaDeProgreso(const Cuentas &cuentas, const Posicion &posicion, const Cifras &cifras,
                            int columnas);

/// Redraws the line on standard error when it is due and it is a terminal, leaving the cursor
/// at its start.
void MostrarProgreso(Progreso &progreso, const Cuentas &cuentas, const Posicion &posicion,
                     int64_t ahora);

/// Erases the line, so that what follows starts on a clean line.
void BorrarProgreso(Progreso &progreso);

/// Writes a message on standard error in place of the line, which the next redraw brings back.
void Avisar(Progreso &progreso, const char *formato, ...) __attribute__((format(printf, 2, 3)));

/// The summary at the end of a run of ns nanoseconds, with the datagrams left out when
/// --perdida was given.
std::string LineaFinal(const Cuentas &cuentas, int64_t ns, bool con_perdida);

#endif
