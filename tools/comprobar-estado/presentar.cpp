#include "presentar.h"

static const char *const kPalabras[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};

static std::string Cifra(int64_t valor) {
  return std::to_string(valor);
}

static std::string DatosDeRendimiento(const Juicio &juicio, const Documento &documento,
                                      int64_t silencio_maximo_s) {
  std::string datos = "datagramas=" + Cifra(documento.datagramas) +
                      "c descartados_por_el_nucleo=" + Cifra(documento.descartados) +
                      "c completados=" + Cifra(documento.completados) +
                      "c en_curso=" + Cifra(documento.en_curso.size()) +
                      " restos=" + Cifra(documento.restos.size()) +
                      " silencio=" + Cifra(juicio.silencio_s) + "s";
  if (silencio_maximo_s >= 0) datos += ";;" + Cifra(silencio_maximo_s);
  datos += " antiguedad=" + Cifra(juicio.antiguedad_s) + "s;;" + Cifra(kMsSinReescribir / 1000);
  if (juicio.descartados_nuevos >= 0)
    datos += " descartados_nuevos=" + Cifra(juicio.descartados_nuevos);
  return datos + " fallos=" + Cifra(documento.fallos) + "c con_error=" + Cifra(juicio.con_error);
}

std::string LineaDePlugin(const Juicio &juicio, const Documento &documento,
                          int64_t silencio_maximo_s) {
  std::string linea = std::string("RECEPTOR ") + kPalabras[juicio.gravedad] + " - " + juicio.texto;
  if (juicio.con_cifras) linea += " | " + DatosDeRendimiento(juicio, documento, silencio_maximo_s);
  return linea + "\n";
}

// A label value: backslash, quote and line feed escaped, as the format asks.
static std::string Etiqueta(const std::string &ruta) {
  std::string etiqueta = "{fichero=\"";
  for (char c : ruta) {
    if (c == '\\' || c == '"') etiqueta += '\\';
    etiqueta += c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  return etiqueta + "\"}";
}

static void Metrica(std::string &texto, const std::string &etiqueta, const char *nombre,
                    const char *tipo, const char *ayuda, int64_t valor) {
  std::string completo = std::string("receptor_multicast_") + nombre;
  texto += "# HELP " + completo + " " + ayuda + "\n";
  texto += "# TYPE " + completo + " " + tipo + "\n";
  texto += completo + etiqueta + " " + Cifra(valor) + "\n";
}

std::string TextoPrometheus(const Juicio &juicio, const Documento &d, const std::string &ruta) {
  std::string texto, e = Etiqueta(ruta);
  Metrica(texto, e, "estado", "gauge",
          "Veredicto de la comprobacion: 0 bien, 1 aviso, 2 critico, 3 desconocido.",
          juicio.gravedad);
  if (!juicio.con_cifras) return texto;
  Metrica(texto, e, "unido", "gauge", "1 si el receptor esta unido al grupo.", d.unido ? 1 : 0);
  Metrica(texto, e, "datagramas_total", "counter", "Datagramas aceptados desde el arranque.",
          d.datagramas);
  Metrica(texto, e, "descartados_por_el_nucleo_total", "counter",
          "Datagramas que el nucleo descarto sin sitio en la cola desde el arranque.",
          d.descartados);
  Metrica(texto, e, "completados_total", "counter", "Ficheros completados desde el arranque.",
          d.completados);
  Metrica(texto, e, "en_curso", "gauge", "Ficheros en curso.", d.en_curso.size());
  Metrica(texto, e, "restos", "gauge", "Restos de ficheros que ya no estan en curso.",
          d.restos.size());
  Metrica(texto, e, "silencio_segundos", "gauge",
          "Segundos desde el ultimo datagrama, o desde el arranque antes del primero.",
          juicio.silencio_s);
  Metrica(texto, e, "antiguedad_segundos", "gauge",
          "Segundos desde que el receptor reescribio el fichero de estado.", juicio.antiguedad_s);
  if (juicio.descartados_nuevos >= 0)
    Metrica(texto, e, "descartados_nuevos", "gauge",
            "Datagramas descartados por el nucleo desde la comprobacion anterior.",
            juicio.descartados_nuevos);
  Metrica(texto, e, "fallos_total", "counter",
          "Fallos al escribir, sincronizar o guardar desde el arranque.", d.fallos);
  Metrica(texto, e, "con_error", "gauge", "Ficheros en curso que no se pueden guardar ahora.",
          juicio.con_error);
  return texto;
}
