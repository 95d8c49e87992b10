#include "palabras.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

bool LeerEntero(const char *texto, long long minimo, long long maximo, long long &valor) {
  if (*texto < '0' || *texto > '9') return false;
  errno = 0;
  char *fin;
  long long leido = strtoll(texto, &fin, 10);
  if (errno != 0 || *fin != '\0' || leido < minimo || leido > maximo) return false;
  valor = leido;
  return true;
}

// A long option that takes no value, by the code getopt gives for it.
static const option *OpcionSinValor(const option *largas, int codigo) {
  for (const option *o = largas; o->name != nullptr; ++o)
    if (o->val == codigo && o->has_arg == no_argument) return o;
  return nullptr;
}

// The long options that a word abbreviates, as "--a, --b" when there are several.
static std::string Candidatas(const std::string &palabra, const option *largas) {
  std::string nombre = palabra.substr(2, palabra.find('=') - 2), lista;
  int cuantas = 0;
  for (const option *o = largas; o->name != nullptr; ++o)
    if (std::string(o->name).rfind(nombre, 0) == 0) {
      lista += (cuantas++ > 0 ? ", --" : "--") + std::string(o->name);
    }
  return cuantas > 1 ? lista : "";
}

// A long option is the whole word, which getopt has always passed by then; a short one may sit
// in a cluster such as -cx, so only its letter is named.
std::string ProblemaDeOpcion(int resultado, char **argv, const option *largas) {
  std::string palabra = argv[optind - 1];
  bool larga = palabra.rfind("--", 0) == 0;
  std::string corta = std::string("-") + static_cast<char>(optopt);
  if (resultado == ':') return "Falta el valor de la opcion " + (larga ? palabra : corta);
  std::string candidatas = larga ? Candidatas(palabra, largas) : "";
  if (!candidatas.empty()) return "Opcion ambigua: " + palabra + " (" + candidatas + ")";
  if (optopt == 0) return "Opcion no valida: " + palabra;
  const option *sin_valor = OpcionSinValor(largas, optopt);
  if (sin_valor != nullptr && larga)
    return std::string("La opcion --") + sin_valor->name + " no lleva valor: " + palabra;
  return "Opcion no valida: " + corta;
}
