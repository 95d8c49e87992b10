#include "partes.h"

#include <algorithm>

void EmpezarPartes(Partes &partes, int32_t total) {
  partes.estados.assign(static_cast<std::size_t>(total), kFalta);
  partes.faltan = total;
}

void Tomar(Partes &partes, int32_t i) {
  unsigned char &estado = partes.estados[static_cast<std::size_t>(i)];
  if (Recibida(estado)) return;
  estado = kGrabada;
  --partes.faltan;
}

void Devolver(Partes &partes, int32_t i) {
  unsigned char &estado = partes.estados[static_cast<std::size_t>(i)];
  if (!Recibida(estado)) return;
  estado = kFallida;
  ++partes.faltan;
}

void Olvidar(Partes &partes, int32_t i) {
  unsigned char &estado = partes.estados[static_cast<std::size_t>(i)];
  if (Recibida(estado)) ++partes.faltan;
  estado = kFalta;
}

void MarcarEnDisco(Partes &partes, int32_t pendiente) {
  for (std::size_t i = 0; i < partes.estados.size(); ++i)
    if (partes.estados[i] == kGrabada && static_cast<int32_t>(i) != pendiente)
      partes.estados[i] = kSincronizada;
}

int32_t DevolverNoSincronizadas(Partes &partes, int32_t pendiente) {
  int32_t devueltas = 0;
  for (std::size_t i = 0; i < partes.estados.size(); ++i) {
    if (partes.estados[i] != kGrabada || static_cast<int32_t>(i) == pendiente) continue;
    Devolver(partes, static_cast<int32_t>(i));
    ++devueltas;
  }
  return devueltas;
}

void MarcarCopiadas(Partes &partes, int32_t desde, int32_t hasta) {
  std::fill(partes.estados.begin() + desde, partes.estados.begin() + hasta, kGrabada);
}

void TomarDelRegistro(Partes &partes, const std::string &registro) {
  for (std::size_t i = 0; i < registro.size() && i < partes.estados.size(); ++i) {
    bool en_disco = registro[i] == '1';
    if (en_disco && !Recibida(partes.estados[i])) --partes.faltan;
    if (!en_disco && Recibida(partes.estados[i])) ++partes.faltan;
    partes.estados[i] = en_disco ? kSincronizada : kFalta;
  }
}

bool Completas(const Partes &partes, bool en_disco) {
  if (partes.faltan != 0) return false;
  return std::all_of(partes.estados.begin(), partes.estados.end(), [&](unsigned char e) {
    return e == kSincronizada || (!en_disco && e == kGrabada);
  });
}

int32_t Recibidas(const Partes &partes) {
  return static_cast<int32_t>(std::count_if(partes.estados.begin(), partes.estados.end(),
                                            [](unsigned char e) { return Recibida(e); }));
}

int32_t Fallidas(const Partes &partes) {
  return static_cast<int32_t>(std::count(partes.estados.begin(), partes.estados.end(), kFallida));
}
