// Fast text output to a buffered stream, for the lines printed once per datagram.
#ifndef SALIDA_H
#define SALIDA_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

/// Appends the text to the stream's buffer, without formatting.
void EscribirTexto(FILE *salida, std::string_view texto);

/// Appends the decimal form of the number, as "%d" would print it.
void EscribirEntero(FILE *salida, int64_t numero);

/// Writes the decimal form of the number at destino, as "%d" would; returns its length.
/// destino needs room for 20 characters.
std::size_t FormatearEntero(char *destino, int64_t numero);

#endif
