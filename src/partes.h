// The parts of a file in progress: the state of each, how many are missing, and which changed
// since the last sync and the last record, kept in step by the routines below, which alone
// change them. A byte per part, and runs of parts for what changed: nothing done per datagram
// or per save looks at every part of a large file.
#ifndef PARTES_H
#define PARTES_H

#include <cstdint>
#include <string>
#include <vector>

/// The stages of a part of a file in progress, from missing to on disk. A stage received is odd:
/// the test for it is a bit, on every datagram.
enum EtapaDeParte : unsigned char {
  kFalta = 0,         // not received
  kGrabada = 1,       // received: written, or in the file's write buffer on its way there
  kFallida = 2,       // received, but its write or its sync failed: missing again
  kSincronizada = 3,  // received and on disk, as a sync that succeeded since its write says
};
static_assert(kGrabada % 2 == 1 && kSincronizada % 2 == 1 && kFalta % 2 == 0 && kFallida % 2 == 0);

/// Whether the part has been received and is not missing again.
inline bool Recibida(unsigned char estado) {
  return (estado & 1) != 0;
}

/// Parts desde to hasta, hasta excluded.
struct Tramo {
  int32_t desde = 0, hasta = 0;
};

/// Runs of parts, merged as parts come in order or backwards; past a limit of runs (parts that
/// came scattered), only the fact that some were left out is kept.
struct Tramos {
  std::vector<Tramo> lista;
  bool desbordado = false;  // runs were left out: every part must be looked at instead
};

struct Partes {
  std::vector<unsigned char> estados;  // an EtapaDeParte per part
  int32_t faltan = 0;                  // parts not received, or missing again
  int32_t fallidas = 0;                // parts kFallida
  int32_t en_disco = 0;                // parts kSincronizada
  Tramos escritas;                     // parts taken since the last sync
  Tramos nuevas_en_disco;              // parts synced since the record last took them
  bool registro_entero = true;         // a part synced went missing again, or the parts were
                                       // read from a record: the next record lists them all
};

/// total parts, every one missing.
void EmpezarPartes(Partes &partes, int32_t total);

/// Whether part i has been received and is not missing again.
inline bool Recibida(const Partes &partes, int32_t i) {
  return Recibida(partes.estados[static_cast<std::size_t>(i)]);
}

/// Part i, missing, is received now: on its way to the disk.
void Tomar(Partes &partes, int32_t i);

/// Part i, received, is missing again since its write or sync failed.
void Devolver(Partes &partes, int32_t i);

/// Part i, received, is missing again and was never stored: a last part given up.
void Olvidar(Partes &partes, int32_t i);

/// A sync that succeeded: every part written is on disk, but part pendiente (-1: none), which
/// is not written yet. Costs the parts written since the last sync.
void MarcarEnDisco(Partes &partes, int32_t pendiente);

/// A sync that failed: every part not known to be on disk is missing again, but part pendiente
/// (-1: none), kept in memory; returns how many.
int32_t DevolverNoSincronizadas(Partes &partes, int32_t pendiente);

/// Parts from desde to hasta, on disk in an old temporary file, are written, not yet synced, in
/// a new one.
void MarcarCopiadas(Partes &partes, int32_t desde, int32_t hasta);

/// A record's parts: '1' for a part on disk, taken as such; any other, missing.
void TomarDelRegistro(Partes &partes, const std::string &registro);

/// The runs synced since the last call, for a record that adds them to the one on disk; false
/// when the record must list every part instead. Either way they count as taken from now on.
bool TomarNuevasEnDisco(Partes &partes, std::vector<Tramo> &nuevas);

/// Whether every part is received and, with en_disco, known to be on disk.
inline bool Completas(const Partes &partes, bool en_disco) {
  return partes.faltan == 0 &&
         (!en_disco || partes.en_disco == static_cast<int32_t>(partes.estados.size()));
}

/// Parts received, and parts whose write or sync failed.
inline int32_t Recibidas(const Partes &partes) {
  return static_cast<int32_t>(partes.estados.size()) - partes.faltan;
}
inline int32_t Fallidas(const Partes &partes) {
  return partes.fallidas;
}

#endif
