// The state of the file store, fields only: the files in progress, their parts and write
// buffers, and the store that holds them. Every room of the store takes them from here.
#ifndef FICHEROS_H
#define FICHEROS_H

#include <sys/socket.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "disposicion.h"
#include "formato.h"
#include "freno.h"
#include "partes.h"

/// A part copied into a buffer and not yet on disk.
struct ParteEnBuffer {
  int32_t indice;    // the part's index in its file
  int64_t posicion;  // its offset in the file
  int32_t largo;     // its content length
};

struct BufferEscritura {
  std::unique_ptr<unsigned char[]> memoria;  // kTamBuffer bytes; none while the file is not written
  int64_t base = 0;                          // offset in the file of memoria[0], on a page boundary
  int64_t arrastre = 0;  // bytes at memoria[0] already on disk, kept so that the next write
                         // starts on a page
  std::vector<ParteEnBuffer> partes;  // the parts held, in the order they came
  bool desordenadas = false;          // some part came below one before it
};

/// Most files that may be in progress at once.
inline constexpr int kMaxFicherosEnCurso = 1024;

/// A failure of a file told on the error stream: its message and the system's error, and since
/// when it lasts, seconds since the epoch.
struct FalloAvisado {
  const char *mensaje;
  int error;
  int64_t desde_s;
};

/// What the record on disk of a file in progress holds, so that a save adds to it only what
/// changed since the last one.
struct RegistroEnDisco {
  bool vigente = false;  // a whole record of its temporary file is on disk: saves add to it
  int64_t entero = 0;    // bytes of that whole record, as written
  int64_t largo = 0;     // bytes of the record with what was added since
};

/// One file in progress: its temporary file and what of it has arrived.
struct FicheroEnCurso {
  std::string old_nombre;  // identity, and final name, of the file
  // With versions told apart by their senders, the one this file comes from; family 0 when
  // they are not. What its names on disk derive from: its identity, or, while another sender's
  // version of it is in progress, RaizDeVersion, which no sender can name; and the name it goes
  // by in the log and the status file, ApodoDeRaiz of that.
  sockaddr_storage emisor{};
  std::string raiz;
  std::string apodo;
  std::string old_nombre_temp;  // its temporary file's name: raiz followed by ".tmp"
  int pf1 = -1;                 // the temporary file, open while the file is in progress
  Disposicion disposicion;      // part count announced by the datagram that started the file, its
                                // own part size once a part but the last has arrived, and the last
                                // part's length once received
  Partes partes;                // what has arrived of each part, and how many are missing
  RegistroEnDisco registro;     // what its record on disk holds
  BufferEscritura buffer;       // new parts on their way to the temporary file
  // A last part that came before the file's part size was known: where the loop's part size
  // would put it, and its bytes, kept in memory until the file completes.
  bool ultima_adelantada = false;
  int64_t ultima_posicion = 0;
  std::vector<unsigned char> ultima;
  std::vector<FalloAvisado> errores_avisados;  // failures of this file told since its last
                                               // save without errors
  bool mudar = false;       // a write-back of its temporary file failed: no sync counts until the
                            // file goes on in a new one
  bool sin_sitio = false;   // a write of it found the disk full
  uint64_t ultimo_uso = 0;  // when a datagram of it came last, in datagrams handled
  int64_t progreso_s = 0;   // when a new part of it came last, seconds since the epoch; kept
                            // in its record, so that no stop or restart makes it younger
  // The layout it had before its sender changed it, whose late datagrams are refused rather
  // than taken as yet another change; totpartes 0 when none.
  Disposicion anterior;
  // The layout of a datagram of another layout, refused: the file starts afresh in it only when
  // the next datagram of the file brings it again, so that a stray one cannot cost the file.
  // totpartes 0 when none.
  Disposicion propuesta;
  // That datagram's part and content, taken first once the file starts afresh in its layout;
  // parte_propuesta -1 when none waits.
  int32_t parte_propuesta = -1;
  std::vector<unsigned char> contenido_propuesto;
};

struct TablaDeFirmas;

/// A file completed: its final name, what its names in progress derived from, and the name it
/// went by.
struct Completado {
  std::string final_, raiz, apodo;
};

/// The answer of a probe of a final name, kept for the rest of its batch.
struct Sondeo {
  std::string identidad;  // whose final name was probed
  bool grabado = false;   // whether it is stored
  int abierto = -1;       // its entry in AlmacenFicheros::grabados once compared in this batch;
                          // -1 not yet, -2 no plain file that can be read
};

/// The file in progress that a datagram was judged against, taken again for the next datagrams
/// of its identity and sender in the same batch while no file enters or leaves the table: what
/// the judgement looked up and probed for the first holds for them. Forgotten (OlvidarAtajo)
/// when a batch begins and when the table gains or loses a file.
struct Atajo {
  uint64_t identidad = 0;     // DatagramaActual::numero_de_identidad of the datagram; 0 none
  sockaddr_storage origen{};  // its sender, when versions are told apart by sender
  int cual = -1;              // the file in progress
};

/// A stored file kept open for comparing datagrams with it, across batches, while it stays the
/// same file (device, inode, length, modification time) and keeps being compared.
struct Grabado {
  std::string identidad;
  int fd = -1;
  int64_t dispositivo = 0, inodo = 0, largo = 0, cambio_ns = 0;  // what it was when opened
  std::vector<unsigned char> ventana;  // bytes of it read last, so that a run of datagrams costs
  int64_t desde = 0;                   // one read; and their offset
  int64_t usado_ms = 0;                // when it was compared last, monotonic milliseconds
};

/// A refusal told on the quiet log, and how often it came again since.
struct Repeticion {
  std::string identidad;        // the file it concerns
  const char *causa = nullptr;  // the format of its line, which names the cause
  std::string linea;            // its latest line, without the identity
  uint64_t veces = 0;           // times it came again since it was last told
  int64_t dicho_ms = 0;         // when it was last told, monotonic milliseconds
  sockaddr_storage emisor{};    // the sender of the latest; family 0 when not known
};

/// A temporary file or record of a file not in progress, left by an earlier run.
struct Resto {
  std::string raiz;  // what its names derive from: an identity, or a version's RaizDeVersion
  int32_t partes = 0, total = 0;  // as its record tells; 0 and 0 without one
  int64_t cambio = 0;             // when a new part came last, as its record tells, or else when
                                  // its files last changed; seconds since the epoch
};

/// How the store behaves, fixed for the run.
struct OpcionesAlmacen {
  int maximo = 1;           // files in progress at once; the least recently touched goes first
  bool reanudar = false;    // files in progress are kept across any end and resumed
  bool actualizar = false;  // a stored file is received again when another version of it comes
  bool silencioso = false;  // only the store's events are printed, each naming its file
  bool a_terminal = false;  // standard output is a terminal or the journal: names are shown
                            // without controls
  bool entregar = false;    // completed files go to a program: each hand-off is marked on disk
  int64_t caducar_s = 0;    // leftovers unchanged for this many seconds are removed; 0 never
  bool por_emisor = false;  // a file in progress is its identity and its sender together: two
                            // senders' versions of one file are rebuilt apart
  int32_t max_partes = MAX_TROZOS;  // most parts a file may announce; over it the run ends, or,
                                    // quiet, the datagram is refused
};

/// State of the store; one lives for the whole run.
struct AlmacenFicheros {
  OpcionesAlmacen opciones;
  FILE *errores = stderr;                // where failures of the disk are told
  int directorio = -1;                   // the working directory, held locked; -1 when not
  std::vector<FicheroEnCurso> en_curso;  // at most opciones.maximo, in no particular order
  int ultimo = -1;                       // index of the file touched last, -1 when none
  int32_t faltan_del_ultimo = 0;         // its missing count when it left the table
  std::string temporal_huerfano;         // temporary file of a failed rename, for the next start
  uint64_t reloj = 0;                    // datagrams handled, to tell which file is the oldest
  int buffers = 0;                       // files holding a write buffer, at most kMaxBuffers
  int64_t ultimo_registro = 0;           // when records were last written, monotonic seconds
  int error_directorio = 0;              // the failed sync of the directory told last, while
                                         // it lasts
  uint64_t completados = 0;              // files completed since the start
  mutable uint64_t fallos = 0;           // failures of the disk told since the start (counted
                                         // by the reports, which read the store only)
  int64_t ahora_s = 0;                   // the wall clock at the start of the batch, seconds
  std::vector<std::string> recien_completados;  // final names of files completed lately, for
                                                // whoever acts on them to take
  // completed files whose new name a sync of the directory has yet to put on disk, each with
  // what its names in progress derived from (its raiz)
  std::vector<Completado> sin_anunciar;
  // Within a batch, each identity's final name is probed once: its answer is kept here.
  std::vector<Sondeo> sondeos;
  uint64_t lotes = 0;  // batches begun; 0: datagrams come one by one, each probing
  Atajo atajo;
  std::vector<Grabado> grabados;       // stored files open for comparing, with new versions taken
  std::vector<std::string> limpiados;  // stored identities whose leftovers were removed lately
  std::unordered_set<std::string>
      ya_dichos;                         // stored identities named on the quiet log in this run
  std::vector<Repeticion> repeticiones;  // refusals told lately on the quiet log
  FrenoDeLineas freno;                   // the quiet log's budget for what strangers can cause
  uint64_t rechazados = 0;               // datagrams refused since the start
  std::vector<Resto> restos;             // leftovers found at the last look, not in progress
  int64_t ultimo_repaso_ms = 0;          // when leftovers were last looked at, monotonic
  bool disco_lleno = false;              // some file in progress found the disk full lately
  std::unordered_set<std::string> cedidas;  // versions that gave way on a full disk, told once
  // with trusted keys, what they signed: a part is taken only when it matches its signed
  // digest, and a file completes only when every part on disk does; nullptr: no keys
  TablaDeFirmas *firmas = nullptr;
  std::unordered_set<std::string> sin_descripcion;  // identities told to have none, once each
};

/// The batch's shortcut holds no more: a batch begins, or a file entered or left the table.
inline void OlvidarAtajo(AlmacenFicheros &almacen) {
  almacen.atajo.identidad = 0;
}

#endif
