#include "documento.h"

#include <cstdio>
#include <ctime>
#include <utility>

// Deep enough for any status file; a deeper document is refused before the stack runs out.
static constexpr int kProfundidadMaxima = 16;

namespace {

enum class Tipo { kNulo, kLogico, kNumero, kTexto, kLista, kObjeto };

// One JSON value, of the few kinds a status file holds.
struct Valor {
  Tipo tipo = Tipo::kNulo;
  bool logico = false;
  bool entero = true;  // a number without fraction or exponent, which numero holds
  int64_t numero = 0;
  std::string texto;
  std::vector<Valor> lista;
  std::vector<std::string> nombres;  // an object's names, in the document's order
  std::vector<Valor> campos;         // the value of each name
};

// Where the parse is in the bytes, and the first problem it met.
struct Lector {
  std::string_view texto;
  std::size_t pos = 0;
  int profundidad = 0;
  std::string error;
};

}  // namespace

static bool Fallar(Lector &lector, const std::string &problema) {
  if (lector.error.empty()) lector.error = problema + " en el byte " + std::to_string(lector.pos);
  return false;
}

static void SaltarEspacios(Lector &lector) {
  while (lector.pos < lector.texto.size() &&
         (lector.texto[lector.pos] == ' ' || lector.texto[lector.pos] == '\n' ||
          lector.texto[lector.pos] == '\t' || lector.texto[lector.pos] == '\r'))
    ++lector.pos;
}

static bool Tomar(Lector &lector, char c) {
  SaltarEspacios(lector);
  if (lector.pos >= lector.texto.size() || lector.texto[lector.pos] != c) return false;
  ++lector.pos;
  return true;
}

static bool LeerPalabra(Lector &lector, std::string_view palabra) {
  if (lector.texto.substr(lector.pos, palabra.size()) != palabra)
    return Fallar(lector, "JSON no valido");
  lector.pos += palabra.size();
  return true;
}

static void AnadirUtf8(std::string &texto, unsigned codigo) {
  if (codigo < 0x80) {
    texto += static_cast<char>(codigo);
  } else if (codigo < 0x800) {
    texto += static_cast<char>(0xc0 | (codigo >> 6));
    texto += static_cast<char>(0x80 | (codigo & 0x3f));
  } else {
    texto += static_cast<char>(0xe0 | (codigo >> 12));
    texto += static_cast<char>(0x80 | ((codigo >> 6) & 0x3f));
    texto += static_cast<char>(0x80 | (codigo & 0x3f));
  }
}

// The four hexadecimal digits of a \u escape; surrogates are kept as they come, one by one.
static bool LeerCodigo(Lector &lector, std::string &texto) {
  if (lector.texto.size() - lector.pos < 4) return Fallar(lector, "escape no valido");
  unsigned codigo = 0;
  for (int i = 0; i < 4; ++i) {
    char c = lector.texto[lector.pos++];
    unsigned cifra = c >= '0' && c <= '9'   ? c - '0'
                     : c >= 'a' && c <= 'f' ? c - 'a' + 10
                     : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                            : 16;
    if (cifra == 16) return Fallar(lector, "escape no valido");
    codigo = codigo * 16 + cifra;
  }
  AnadirUtf8(texto, codigo);
  return true;
}

static bool LeerEscape(Lector &lector, std::string &texto) {
  if (lector.pos >= lector.texto.size()) return Fallar(lector, "texto sin terminar");
  char c = lector.texto[lector.pos++];
  static const std::string_view kEscapes = "\"\"\\\\//b\bf\fn\nr\rt\t";
  for (std::size_t i = 0; i < kEscapes.size(); i += 2)
    if (kEscapes[i] == c) {
      texto += kEscapes[i + 1];
      return true;
    }
  if (c == 'u') return LeerCodigo(lector, texto);
  return Fallar(lector, "escape no valido");
}

// After the opening quote.
static bool LeerTexto(Lector &lector, std::string &texto) {
  while (lector.pos < lector.texto.size()) {
    char c = lector.texto[lector.pos++];
    if (c == '"') return true;
    if (static_cast<unsigned char>(c) < 0x20) return Fallar(lector, "control en un texto");
    if (c != '\\') {
      texto += c;
    } else if (!LeerEscape(lector, texto)) {
      return false;
    }
  }
  return Fallar(lector, "texto sin terminar");
}

static bool EsCifra(char c) {
  return c >= '0' && c <= '9';
}

// Integers are kept exactly; any other number only as one that is not whole.
static bool LeerNumero(Lector &lector, Valor &valor) {
  std::size_t inicio = lector.pos;
  bool negativo = lector.texto[lector.pos] == '-';
  if (negativo) ++lector.pos;
  if (lector.pos >= lector.texto.size() || !EsCifra(lector.texto[lector.pos]))
    return Fallar(lector, "numero no valido");
  valor.tipo = Tipo::kNumero;
  for (; lector.pos < lector.texto.size() && EsCifra(lector.texto[lector.pos]); ++lector.pos) {
    int cifra = lector.texto[lector.pos] - '0';
    if (valor.numero > (INT64_MAX - cifra) / 10) valor.entero = false;
    valor.numero = valor.numero * 10 + (valor.entero ? cifra : 0);
  }
  if (negativo) valor.numero = -valor.numero;
  while (lector.pos < lector.texto.size() &&
         std::string_view("0123456789.eE+-").find(lector.texto[lector.pos]) !=
             std::string_view::npos) {
    valor.entero = false;
    ++lector.pos;
  }
  return lector.pos > inicio;
}

static bool LeerValor(Lector &lector, Valor &valor);

static bool LeerLista(Lector &lector, Valor &valor) {
  valor.tipo = Tipo::kLista;
  if (Tomar(lector, ']')) return true;
  do {
    valor.lista.emplace_back();
    if (!LeerValor(lector, valor.lista.back())) return false;
  } while (Tomar(lector, ','));
  return Tomar(lector, ']') || Fallar(lector, "falta ']'");
}

static bool LeerObjeto(Lector &lector, Valor &valor) {
  valor.tipo = Tipo::kObjeto;
  if (Tomar(lector, '}')) return true;
  do {
    std::string nombre;
    if (!Tomar(lector, '"') || !LeerTexto(lector, nombre)) return Fallar(lector, "falta un nombre");
    if (!Tomar(lector, ':')) return Fallar(lector, "falta ':'");
    valor.nombres.push_back(std::move(nombre));
    valor.campos.emplace_back();
    if (!LeerValor(lector, valor.campos.back())) return false;
  } while (Tomar(lector, ','));
  return Tomar(lector, '}') || Fallar(lector, "falta '}'");
}

static bool LeerValor(Lector &lector, Valor &valor) {
  SaltarEspacios(lector);
  if (lector.pos >= lector.texto.size()) return Fallar(lector, "JSON incompleto");
  if (lector.profundidad >= kProfundidadMaxima) return Fallar(lector, "JSON demasiado anidado");
  char c = lector.texto[lector.pos];
  ++lector.profundidad;
  bool hecho;
  if (c == '{' || c == '[' || c == '"') ++lector.pos;
  if (c == '{') {
    hecho = LeerObjeto(lector, valor);
  } else if (c == '[') {
    hecho = LeerLista(lector, valor);
  } else if (c == '"') {
    valor.tipo = Tipo::kTexto;
    hecho = LeerTexto(lector, valor.texto);
  } else if (c == 't' || c == 'f') {
    valor.tipo = Tipo::kLogico;
    valor.logico = c == 't';
    hecho = LeerPalabra(lector, c == 't' ? "true" : "false");
  } else if (c == 'n') {
    hecho = LeerPalabra(lector, "null");
  } else {
    hecho = LeerNumero(lector, valor);
  }
  --lector.profundidad;
  return hecho;
}

// The mapping of the document: from here on, a problem names the field.
struct Campos {
  const Valor &objeto;
  std::string &error;
};

static const Valor *Buscar(Campos &campos, const char *nombre) {
  for (std::size_t i = 0; i < campos.objeto.nombres.size(); ++i)
    if (campos.objeto.nombres[i] == nombre) return &campos.objeto.campos[i];
  campos.error = std::string("falta el campo \"") + nombre + "\"";
  return nullptr;
}

static bool TipoErroneo(Campos &campos, const char *nombre) {
  campos.error = std::string("el campo \"") + nombre + "\" no tiene el tipo esperado";
  return false;
}

static bool Entero(Campos &campos, const char *nombre, int64_t &destino) {
  const Valor *valor = Buscar(campos, nombre);
  if (valor == nullptr) return false;
  if (valor->tipo != Tipo::kNumero || !valor->entero || valor->numero < 0)
    return TipoErroneo(campos, nombre);
  destino = valor->numero;
  return true;
}

// "2026-12-07T18:00:00Z", as the receiver writes its times; null only where nulo is allowed.
static bool Fecha(Campos &campos, const char *nombre, int64_t &destino, bool nulo = false) {
  const Valor *valor = Buscar(campos, nombre);
  if (valor == nullptr) return false;
  if (nulo && valor->tipo == Tipo::kNulo) {
    destino = -1;
    return true;
  }
  tm partes = {};
  char resto = 0;
  if (valor->tipo != Tipo::kTexto ||
      sscanf(valor->texto.c_str(), "%4d-%2d-%2dT%2d:%2d:%2dZ%c", &partes.tm_year, &partes.tm_mon,
             &partes.tm_mday, &partes.tm_hour, &partes.tm_min, &partes.tm_sec, &resto) != 6)
    return TipoErroneo(campos, nombre);
  partes.tm_year -= 1900;
  partes.tm_mon -= 1;
  destino = timegm(&partes);
  return true;
}

static bool Ficheros(Campos &campos, const char *nombre, std::vector<FicheroNombrado> &destino) {
  const Valor *lista = Buscar(campos, nombre);
  if (lista == nullptr) return false;
  if (lista->tipo != Tipo::kLista) return TipoErroneo(campos, nombre);
  for (const Valor &elemento : lista->lista) {
    if (elemento.tipo != Tipo::kObjeto) return TipoErroneo(campos, nombre);
    Campos suyos{elemento, campos.error};
    const Valor *fichero = Buscar(suyos, "fichero");
    FicheroNombrado leido;
    if (fichero == nullptr || !Entero(suyos, "partes", leido.partes) ||
        !Entero(suyos, "total", leido.total))
      return false;
    if (fichero->tipo != Tipo::kTexto) return TipoErroneo(suyos, "fichero");
    leido.fichero = fichero->texto;
    destino.push_back(std::move(leido));
  }
  return true;
}

static bool Mapear(const Valor &raiz, Documento &documento, std::string &error) {
  if (raiz.tipo != Tipo::kObjeto) {
    error = "no es un objeto JSON";
    return false;
  }
  Campos campos{raiz, error};
  const Valor *unido = Buscar(campos, "unido");
  if (unido == nullptr) return false;
  if (unido->tipo != Tipo::kLogico) return TipoErroneo(campos, "unido");
  documento.unido = unido->logico;
  bool hecho = Fecha(campos, "inicio", documento.inicio) && Entero(campos, "pid", documento.pid) &&
               Fecha(campos, "actualizado", documento.actualizado) &&
               Fecha(campos, "ultimo_datagrama", documento.ultimo_datagrama, true) &&
               Entero(campos, "datagramas", documento.datagramas) &&
               Entero(campos, "descartados_por_el_nucleo", documento.descartados) &&
               Entero(campos, "completados", documento.completados) &&
               Ficheros(campos, "en_curso", documento.en_curso);
  if (!hecho) return false;
  // absent in files of receivers that keep no leftovers: none
  for (const std::string &nombre : raiz.nombres)
    if (nombre == "restos") return Ficheros(campos, "restos", documento.restos);
  return true;
}

bool LeerDocumento(std::string_view texto, Documento &documento, std::string &error) {
  Lector lector;
  lector.texto = texto;
  Valor raiz;
  if (!LeerValor(lector, raiz)) {
    error = lector.error;
    return false;
  }
  SaltarEspacios(lector);
  if (lector.pos != texto.size()) {
    Fallar(lector, "sobran bytes");
    error = lector.error;
    return false;
  }
  return Mapear(raiz, documento, error);
}
