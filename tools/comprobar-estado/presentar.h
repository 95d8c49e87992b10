// The verdict written out: one line for a monitoring plugin, or the Prometheus text format.
#ifndef COMPROBAR_PRESENTAR_H
#define COMPROBAR_PRESENTAR_H

#include <string>

#include "documento.h"
#include "juicio.h"

/// "RECEPTOR OK - <texto> | <datos>\n": the verdict's word as monitoring plugins say it, what
/// it found, and when the document was read, its figures as performance data.
std::string LineaDePlugin(const Juicio &juicio, const Documento &documento,
                          int64_t silencio_maximo_s);

/// The same figures as metrics of the Prometheus text format, each labelled with the status
/// file's path; when the document could not be read, only the verdict.
std::string TextoPrometheus(const Juicio &juicio, const Documento &documento,
                            const std::string &ruta);

#endif
