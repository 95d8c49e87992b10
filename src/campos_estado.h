// The status file's fields: their names, and the form of its times, written once for the
// receiver that writes the file and the check that reads it.
#ifndef CAMPOS_ESTADO_H
#define CAMPOS_ESTADO_H

namespace campos_estado {

// The receiver's, in the order it writes them.
inline constexpr char kInicio[] = "inicio";
inline constexpr char kPid[] = "pid";
inline constexpr char kVersion[] = "version";
inline constexpr char kCommit[] = "commit";
inline constexpr char kActualizado[] = "actualizado";
inline constexpr char kUnido[] = "unido";
inline constexpr char kUltimoDatagrama[] = "ultimo_datagrama";
inline constexpr char kDatagramas[] = "datagramas";
inline constexpr char kDescartados[] = "descartados_por_el_nucleo";
inline constexpr char kCompletados[] = "completados";
inline constexpr char kFallos[] = "fallos";
inline constexpr char kDirectorioEscribible[] = "directorio_escribible";
inline constexpr char kRechazados[] = "rechazados";
inline constexpr char kAvisosSinDecir[] = "avisos_sin_decir";
inline constexpr char kEnCurso[] = "en_curso";
inline constexpr char kRestos[] = "restos";

// With trusted keys: files described, descriptions and parts refused, and files of which nothing
// is signed, whose parts are refused.
inline constexpr char kFirmados[] = "firmados";
inline constexpr char kDescripcionesFalsas[] = "descripciones_falsas";
inline constexpr char kPartesFalsas[] = "partes_falsas";
inline constexpr char kSinDescripcion[] = "sin_descripcion";

// Each file's, in progress or left over.
inline constexpr char kFichero[] = "fichero";
inline constexpr char kPartes[] = "partes";
inline constexpr char kTotal[] = "total";
inline constexpr char kEmisor[] = "emisor";
inline constexpr char kEdad[] = "edad_s";
inline constexpr char kError[] = "error";
// and of its error
inline constexpr char kTexto[] = "texto";
inline constexpr char kDesde[] = "desde";

/// Every time in the file, UTC to the second: "2026-12-07T18:00:00Z".
inline constexpr char kFormatoFecha[] = "%Y-%m-%dT%H:%M:%SZ";

}  // namespace campos_estado

#endif
