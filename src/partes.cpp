#include "partes.h"

// Most runs kept of a file's parts: about a bit per part. Past it, a record that lists the runs
// would be longer than one that lists every part.
static std::size_t Tope(const Partes &partes) {
  return partes.estados.size() / 64 + 64;
}

static void Anotar(Tramos &tramos, int32_t desde, int32_t hasta, std::size_t tope) {
  if (tramos.desbordado) return;
  std::vector<Tramo> &lista = tramos.lista;
  if (!lista.empty() && lista.back().hasta == desde) {
    lista.back().hasta = hasta;
  } else if (!lista.empty() && lista.back().desde == hasta) {
    lista.back().desde = desde;
  } else if (lista.size() >= tope) {
    tramos = Tramos{{}, true};
  } else {
    lista.push_back({desde, hasta});
  }
}

// What a part leaves behind as its state changes: the counts that named its old state.
static void Dejar(Partes &partes, unsigned char estado) {
  if (!Recibida(estado)) --partes.faltan;
  if (estado == kFallida) --partes.fallidas;
  if (estado != kSincronizada) return;
  --partes.en_disco;
  partes.registro_entero = true;
}

void EmpezarPartes(Partes &partes, int32_t total) {
  partes = Partes{};
  partes.estados.assign(static_cast<std::size_t>(total), kFalta);
  partes.faltan = total;
}

// Run for every part taken: a part missing or failed, never on disk, leaves only those counts;
// and parts mostly come in order, growing the last run.
void Tomar(Partes &partes, int32_t i) {
  unsigned char &estado = partes.estados[static_cast<std::size_t>(i)];
  if (Recibida(estado)) return;
  --partes.faltan;
  partes.fallidas -= estado == kFallida;
  estado = kGrabada;
  std::vector<Tramo> &lista = partes.escritas.lista;
  if (!lista.empty() && lista.back().hasta == i && !partes.escritas.desbordado) {
    lista.back().hasta = i + 1;
    return;
  }
  Anotar(partes.escritas, i, i + 1, Tope(partes));
}

void Devolver(Partes &partes, int32_t i) {
  unsigned char &estado = partes.estados[static_cast<std::size_t>(i)];
  if (!Recibida(estado)) return;
  Dejar(partes, estado);
  estado = kFallida;
  ++partes.fallidas;
  ++partes.faltan;
}

void Olvidar(Partes &partes, int32_t i) {
  unsigned char &estado = partes.estados[static_cast<std::size_t>(i)];
  Dejar(partes, estado);
  estado = kFalta;
  ++partes.faltan;
}

// The runs written since the last sync, not copied: all parts, in todas, when too many came
// scattered.
static const std::vector<Tramo> &Escritas(const Partes &partes, std::vector<Tramo> &todas) {
  if (!partes.escritas.desbordado) return partes.escritas.lista;
  todas = {{0, static_cast<int32_t>(partes.estados.size())}};
  return todas;
}

// Only the part kept in memory is left written and not synced.
static void QuedaPendiente(Partes &partes, int32_t pendiente) {
  partes.escritas = Tramos{};
  if (pendiente >= 0 && partes.estados[static_cast<std::size_t>(pendiente)] == kGrabada)
    Anotar(partes.escritas, pendiente, pendiente + 1, Tope(partes));
}

void MarcarEnDisco(Partes &partes, int32_t pendiente) {
  std::vector<Tramo> todas;
  for (Tramo tramo : Escritas(partes, todas)) {
    for (int32_t i = tramo.desde; i < tramo.hasta; ++i) {
      unsigned char &estado = partes.estados[static_cast<std::size_t>(i)];
      if (estado != kGrabada || i == pendiente) continue;
      estado = kSincronizada;
      ++partes.en_disco;
      Anotar(partes.nuevas_en_disco, i, i + 1, Tope(partes));
    }
  }
  QuedaPendiente(partes, pendiente);
}

int32_t DevolverNoSincronizadas(Partes &partes, int32_t pendiente) {
  int32_t devueltas = 0;
  std::vector<Tramo> todas;
  for (Tramo tramo : Escritas(partes, todas)) {
    for (int32_t i = tramo.desde; i < tramo.hasta; ++i) {
      if (partes.estados[static_cast<std::size_t>(i)] != kGrabada || i == pendiente) continue;
      Devolver(partes, i);
      ++devueltas;
    }
  }
  QuedaPendiente(partes, pendiente);
  return devueltas;
}

void MarcarCopiadas(Partes &partes, int32_t desde, int32_t hasta) {
  for (int32_t i = desde; i < hasta; ++i) {
    unsigned char &estado = partes.estados[static_cast<std::size_t>(i)];
    Dejar(partes, estado);
    estado = kGrabada;
  }
  // a new temporary file: no record of the old one holds
  partes.registro_entero = true;
  Anotar(partes.escritas, desde, hasta, Tope(partes));
}

void TomarDelRegistro(Partes &partes, const std::string &registro) {
  int32_t total = static_cast<int32_t>(partes.estados.size());
  EmpezarPartes(partes, total);
  for (std::size_t i = 0; i < registro.size() && i < partes.estados.size(); ++i) {
    if (registro[i] != '1') continue;
    partes.estados[i] = kSincronizada;
    --partes.faltan;
    ++partes.en_disco;
  }
}

bool TomarNuevasEnDisco(Partes &partes, std::vector<Tramo> &nuevas) {
  bool solo_nuevas = !partes.registro_entero && !partes.nuevas_en_disco.desbordado;
  nuevas = std::move(partes.nuevas_en_disco.lista);
  partes.nuevas_en_disco = Tramos{};
  partes.registro_entero = false;
  return solo_nuevas;
}
