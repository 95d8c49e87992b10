#include "documento.h"

#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

#include "campos_estado.h"

using Json = nlohmann::json;
using namespace campos_estado;

// Deep enough for any status file (an error's text is at the fourth level); a deeper document
// is refused before its values are built, which would take some 80 bytes a level.
static constexpr std::size_t kProfundidadMaxima = 16;

namespace {

// The library's parser run once over the bytes keeping nothing: the events nlohmann::json's
// sax_parse asks for, all accepted but a level past the limit. It tells where the bytes stop
// being JSON, and lets the document be built only when it is whole and shallow.
struct Validacion {
  std::size_t largo = 0;  // of the bytes, to tell a document cut short
  std::size_t profundidad = 0;
  std::string error;  // the first problem met

  bool Entrar() {
    if (++profundidad <= kProfundidadMaxima) return true;
    error = "JSON demasiado anidado";
    return false;
  }
  bool Salir() {
    --profundidad;
    return true;
  }
  bool null() { return true; }
  bool boolean(bool) { return true; }
  bool number_integer(Json::number_integer_t) { return true; }
  bool number_unsigned(Json::number_unsigned_t) { return true; }
  bool number_float(Json::number_float_t, const Json::string_t &) { return true; }
  bool string(Json::string_t &) { return true; }
  bool binary(Json::binary_t &) { return true; }
  bool key(Json::string_t &) { return true; }
  bool start_object(std::size_t) { return Entrar(); }
  bool end_object() { return Salir(); }
  bool start_array(std::size_t) { return Entrar(); }
  bool end_array() { return Salir(); }
  // byte counts from 1, and is one past the end when the bytes ran out
  bool parse_error(std::size_t byte, const std::string &, const nlohmann::detail::exception &) {
    error = byte > largo ? "JSON incompleto" : "JSON no valido en el byte " + std::to_string(byte);
    return false;
  }
};

// One object of the document: from here on, a problem names the field.
struct Campos {
  const Json &objeto;
  std::string &error;
};

}  // namespace

// The value of the field, or nullptr; its absence is a problem unless it is opcional.
static const Json *Buscar(Campos &campos, const char *nombre, bool opcional = false) {
  auto valor = campos.objeto.find(nombre);
  if (valor != campos.objeto.end()) return &*valor;
  if (!opcional) campos.error = std::string("falta el campo \"") + nombre + "\"";
  return nullptr;
}

static bool TipoErroneo(Campos &campos, const char *nombre) {
  campos.error = std::string("el campo \"") + nombre + "\" no tiene el tipo esperado";
  return false;
}

// A whole number from 0 up; an absent opcional one leaves destino as it was.
static bool Entero(Campos &campos, const char *nombre, int64_t &destino, bool opcional = false) {
  const Json *valor = Buscar(campos, nombre, opcional);
  if (valor == nullptr) return opcional;
  if (!valor->is_number_unsigned() || valor->get<uint64_t>() > INT64_MAX)
    return TipoErroneo(campos, nombre);
  destino = static_cast<int64_t>(valor->get<uint64_t>());
  return true;
}

static bool Logico(Campos &campos, const char *nombre, bool &destino, bool opcional = false) {
  const Json *valor = Buscar(campos, nombre, opcional);
  if (valor == nullptr) return opcional;
  if (!valor->is_boolean()) return TipoErroneo(campos, nombre);
  destino = valor->get<bool>();
  return true;
}

static bool Texto(Campos &campos, const char *nombre, std::string &destino, bool opcional = false) {
  const Json *valor = Buscar(campos, nombre, opcional);
  if (valor == nullptr) return opcional;
  if (!valor->is_string()) return TipoErroneo(campos, nombre);
  destino = valor->get<std::string>();
  return true;
}

// "2026-12-07T18:00:00Z", as the receiver writes its times; null only where nulo is allowed.
static bool Fecha(Campos &campos, const char *nombre, int64_t &destino, bool nulo = false) {
  const Json *valor = Buscar(campos, nombre);
  if (valor == nullptr) return false;
  if (nulo && valor->is_null()) {
    destino = -1;
    return true;
  }
  tm partes = {};
  if (!valor->is_string()) return TipoErroneo(campos, nombre);
  // the form the receiver writes, and nothing after it
  const char *fin = strptime(valor->get_ref<const std::string &>().c_str(), kFormatoFecha, &partes);
  if (fin == nullptr || *fin != '\0') return TipoErroneo(campos, nombre);
  destino = timegm(&partes);
  return true;
}

// A file's "error": absent or null while it saves, otherwise its text and since when.
static bool Error(Campos &campos, std::optional<Fallo> &destino) {
  const Json *valor = Buscar(campos, kError, true);
  if (valor == nullptr || valor->is_null()) return true;
  if (!valor->is_object()) return TipoErroneo(campos, kError);
  Campos suyos{*valor, campos.error};
  Fallo fallo;
  if (!Texto(suyos, kTexto, fallo.texto) || !Fecha(suyos, kDesde, fallo.desde)) return false;
  destino = std::move(fallo);
  return true;
}

static bool Fichero(Campos &campos, FicheroNombrado &leido) {
  return Texto(campos, kFichero, leido.fichero) && Entero(campos, kPartes, leido.partes) &&
         Entero(campos, kTotal, leido.total) && Entero(campos, kEdad, leido.edad_s, true) &&
         Texto(campos, kEmisor, leido.emisor, true) && Error(campos, leido.error);
}

// A list of files; an absent opcional one is empty.
static bool Ficheros(Campos &campos, const char *nombre, std::vector<FicheroNombrado> &destino,
                     bool opcional = false) {
  const Json *lista = Buscar(campos, nombre, opcional);
  if (lista == nullptr) return opcional;
  if (!lista->is_array()) return TipoErroneo(campos, nombre);
  for (const Json &elemento : *lista) {
    if (!elemento.is_object()) return TipoErroneo(campos, nombre);
    Campos suyos{elemento, campos.error};
    destino.emplace_back();
    if (!Fichero(suyos, destino.back())) return false;
  }
  return true;
}

// The fields of the first receivers, then those that later ones added, which may be absent.
static bool Mapear(const Json &raiz, Documento &d, std::string &error) {
  if (!raiz.is_object()) {
    error = "no es un objeto JSON";
    return false;
  }
  Campos c{raiz, error};
  return Logico(c, kUnido, d.unido) && Fecha(c, kInicio, d.inicio) && Entero(c, kPid, d.pid) &&
         Fecha(c, kActualizado, d.actualizado) &&
         Fecha(c, kUltimoDatagrama, d.ultimo_datagrama, true) &&
         Entero(c, kDatagramas, d.datagramas) &&
         Entero(c, kDescartados, d.descartados) &&
         Entero(c, kCompletados, d.completados) && Ficheros(c, kEnCurso, d.en_curso) &&
         Ficheros(c, kRestos, d.restos, true) && Entero(c, kFallos, d.fallos, true) &&
         Logico(c, kDirectorioEscribible, d.directorio_escribible, true) &&
         Entero(c, kRechazados, d.rechazados, true) &&
         Entero(c, kAvisosSinDecir, d.avisos_sin_decir, true);
}

bool LeerDocumento(std::string_view texto, Documento &documento, std::string &error) {
  Validacion validacion;
  validacion.largo = texto.size();
  if (!Json::sax_parse(texto, &validacion)) {
    error = validacion.error;
    return false;
  }
  // whole and shallow, so this parse cannot fail
  return Mapear(Json::parse(texto, nullptr, false), documento, error);
}
