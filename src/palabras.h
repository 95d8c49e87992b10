// The words of a command line as both programs read them: whole decimal numbers, and the
// options that getopt_long refuses, named as the user typed them.
#ifndef PALABRAS_H
#define PALABRAS_H

#include <getopt.h>

#include <string>

/// Reads a whole decimal integer within [minimo, maximo]: digits only, no sign, no spaces, no
/// hexadecimal, no exponent, nothing that overflows.
bool LeerEntero(const char *texto, long long minimo, long long maximo, long long &valor);

/// The problem with the option that getopt_long (run quietly, its short options starting with
/// ':') just refused with resultado, ':' or '?': "Falta el valor de la opcion X", "Opcion
/// ambigua: --x (--xa, --xb)", "La opcion --x no lleva valor: W" or "Opcion no valida: X".
/// largas is the table it was given.
std::string ProblemaDeOpcion(int resultado, char **argv, const option *largas);

#endif
