// Printed output: lines built in memory and handed to a buffered stream in one call, for those
// printed once per datagram; the journal's priority prefix when the stream is the journal; and
// when the stream's buffer is written out.
#ifndef SALIDA_H
#define SALIDA_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

/// Most characters FormatearEntero writes: "-9223372036854775808".
inline constexpr std::size_t kMaxCifras = 20;

/// Writes the decimal form of the number at destino, as "%d" would; returns its length.
/// destino needs room for kMaxCifras characters.
std::size_t FormatearEntero(char *destino, int64_t numero);

/// Text built in memory and handed to the stream with one call. Whatever does not fit is left
/// out: no append writes past texto, whatever it is given.
struct Renglon {
  // Room for a summary line with the longest name a datagram can carry, or for the dump.
  char texto[2048];
  std::size_t largo = 0;  // bytes used
};

/// Appends as much of parte as fits.
inline void Anadir(Renglon &renglon, std::string_view parte) {
  std::size_t cabe = sizeof renglon.texto - renglon.largo;
  // a copy of a known size, as a literal's, compiles to a few moves
  std::size_t largo = parte.size() <= cabe ? parte.size() : cabe;
  if (parte.size() <= cabe)
    memcpy(renglon.texto + renglon.largo, parte.data(), parte.size());
  else
    memcpy(renglon.texto + renglon.largo, parte.data(), cabe);
  renglon.largo += largo;
}

/// Appends a name that came from the network. For a terminal, its control bytes (below 0x20,
/// and 0x7f) show as '?', so that a sender cannot move the cursor or retitle the window.
void AnadirNombre(Renglon &renglon, std::string_view nombre, bool a_terminal);

/// The name without its control bytes, as AnadirNombre shows it on a terminal: the form of
/// every name on the error stream, which is read by a person whatever it is connected to.
std::string NombreVisible(std::string_view nombre);

/// Appends the decimal form of the number, as much of it as fits.
inline void AnadirEntero(Renglon &renglon, int64_t numero) {
  if (sizeof renglon.texto - renglon.largo >= kMaxCifras) {
    renglon.largo += FormatearEntero(renglon.texto + renglon.largo, numero);
    return;
  }
  char cifras[kMaxCifras];
  Anadir(renglon, std::string_view(cifras, FormatearEntero(cifras, numero)));
}

/// Where a line of at most largo bytes can be built in place, at the end of the stream's buffer
/// (as EscribirTexto would copy it there); nullptr when the buffer has no such room. The line is
/// kept with Escrito.
inline char *Hueco(FILE *salida, std::size_t largo) {
#ifdef __GLIBC__
  if (salida->_IO_write_end - salida->_IO_write_ptr >= static_cast<std::ptrdiff_t>(largo))
    return salida->_IO_write_ptr;
#endif
  (void)salida, (void)largo;
  return nullptr;
}

/// The line built at Hueco's place ends at fin: it is the stream's now.
inline void Escrito(FILE *salida, char *fin) {
#ifdef __GLIBC__
  salida->_IO_write_ptr = fin;
#else
  (void)salida, (void)fin;
#endif
}

/// Copies the text at p; returns where it ends.
inline char *Copiar(char *p, std::string_view texto) {
  memcpy(p, texto.data(), texto.size());
  return p + texto.size();
}

/// Appends the text to the stream's buffer, without formatting. Where it fits, it is copied
/// there as glibc's own putc does, without the call: the per-datagram lines are short, and the
/// call cost more than the copy. A stream that is line buffered, unbuffered or full has no room
/// in this sense, and takes the call.
inline void EscribirTexto(FILE *salida, std::string_view texto) {
  char *hueco = texto.empty() ? nullptr : Hueco(salida, texto.size());
  if (hueco != nullptr)
    Escrito(salida, Copiar(hueco, texto));
  else
    fwrite_unlocked(texto.data(), 1, texto.size(), salida);
}

inline void Emitir(const Renglon &renglon, FILE *salida) {
  EscribirTexto(salida, std::string_view(renglon.texto, renglon.largo));
}

/// Syslog priorities, as the journal reads them at the start of a line.
enum class Prioridad { kError, kAviso, kSuceso };

/// Finds whether standard output and standard error are the journal's stream, as
/// JOURNAL_STREAM (device:inode) names it; once, at the start, before anything is printed.
void DetectarDiario();

/// Whether the stream is the journal's, as DetectarDiario found.
bool AlDiario(FILE *flujo);

/// "<3>", "<4>" or "<6>" when the stream is the journal; "" on a terminal, a pipe or a file.
const char *Prefijo(FILE *flujo, Prioridad prioridad);

/// Printed output that waits in the stream's buffer, so that a busy receiver writes it in large
/// blocks while a person or a script still sees it soon.
struct Vaciado {
  bool pendiente = false;  // output waits in the buffer
  int64_t desde = 0;       // since when, in CLOCK_MONOTONIC nanoseconds
};

/// Printed output waits at most about this long while datagrams keep coming.
inline constexpr int64_t kEsperaAntesDeVaciar = 2'000'000;  // nanoseconds

/// Once per batch: notes when output began to wait, and writes it out once it has waited
/// kEsperaAntesDeVaciar.
void VaciarSiHaEsperado(Vaciado &vaciado, FILE *salida);

/// Nanoseconds until waiting output is due to be shown, 0 when it is due now.
int64_t EsperaHastaVaciar(const Vaciado &vaciado);

/// When waiting output is due to be shown, in CLOCK_MONOTONIC nanoseconds.
inline int64_t MomentoDeVaciar(const Vaciado &vaciado) {
  return vaciado.desde + kEsperaAntesDeVaciar;
}

/// Writes out whatever output waits.
void Vaciar(Vaciado &vaciado, FILE *salida);

#endif
