#include "progreso.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "fallo.h"

static constexpr int64_t kSegundoNs = 1000000000;
static constexpr int kColumnasSinTerminal = 80;

uint64_t Hechos(const Cuentas &cuentas) {
  return cuentas.enviados + cuentas.sin_enviar + cuentas.omitidos;
}

void IniciarProgreso(Progreso &progreso, int64_t ahora) {
  progreso.cuantas = 0;
  AnotarMuestra(progreso, Muestra{ahora, 0, 0, 0});
  // half a period off the pace's grid: at a round rate, a redraw never falls on the instant of
  // a send, which would count in two windows of a second
  progreso.proximo = ahora + kPeriodoProgresoNs / 2;
}

void AnotarMuestra(Progreso &progreso, const Muestra &muestra) {
  progreso.muestras[progreso.cuantas % kMuestras] = muestra;
  progreso.cuantas += 1;
}

// The newest sample taken about a second before ahora, or else the oldest one kept. Half a
// period of slack keeps the choice steady when the redraws come a little early or late.
static const Muestra &MuestraDeReferencia(const Progreso &progreso, int64_t ahora) {
  int64_t hasta = ahora - kSegundoNs + kPeriodoProgresoNs / 2;
  unsigned guardadas = std::min<unsigned>(progreso.cuantas, kMuestras);
  const Muestra *referencia = &progreso.muestras[(progreso.cuantas - guardadas) % kMuestras];
  for (unsigned i = 0; i < guardadas; ++i) {
    const Muestra &muestra = progreso.muestras[i];
    if (muestra.ns <= hasta && muestra.ns > referencia->ns) referencia = &muestra;
  }
  return *referencia;
}

Cifras CifrasDelUltimoSegundo(const Progreso &progreso, const Muestra &ahora, uint64_t previstos) {
  const Muestra &antes = MuestraDeReferencia(progreso, ahora.ns);
  double segundos = static_cast<double>(std::max(ahora.ns - antes.ns, kSegundoNs)) / kSegundoNs;
  Cifras cifras;
  cifras.datagramas_s = static_cast<double>(ahora.enviados - antes.enviados) / segundos;
  cifras.mbit_s = static_cast<double>(ahora.bytes - antes.bytes) * 8 / segundos / 1e6;
  double hechos_s = static_cast<double>(ahora.hechos - antes.hechos) / segundos;
  // a file that grew since it was checked may take a send past what was foreseen
  uint64_t quedan = previstos > ahora.hechos ? previstos - ahora.hechos : 0;
  if (previstos > 0 && hechos_s > 0)
    cifras.quedan_s = std::llround(static_cast<double>(quedan) / hechos_s);
  return cifras;
}

// "1234/5000  quedan 0:01:05", or the count alone in carrusel or before any pace is known.
static std::string Avance(const Cuentas &cuentas, const Cifras &cifras) {
  char texto[96];
  auto hechos = static_cast<unsigned long long>(Hechos(cuentas));
  if (cuentas.previstos == 0) {
    snprintf(texto, sizeof texto, "%llu", hechos);
  } else if (cifras.quedan_s < 0) {
    snprintf(texto, sizeof texto, "%llu/%llu", hechos,
             static_cast<unsigned long long>(cuentas.previstos));
  } else {
    long long s = cifras.quedan_s;
    snprintf(texto, sizeof texto, "%llu/%llu  quedan %lld:%02lld:%02lld", hechos,
             static_cast<unsigned long long>(cuentas.previstos), s / 3600, s / 60 % 60, s % 60);
  }
  return texto;
}

// "pasada 2/3", "pasada 7" in carrusel, and the repeat when each file goes more than once.
static std::string Donde(const Posicion &posicion) {
  char texto[96];
  int n = posicion.pasadas > 0
              ? snprintf(texto, sizeof texto, "pasada %lld/%lld", posicion.pasada, posicion.pasadas)
              : snprintf(texto, sizeof texto, "pasada %lld", posicion.pasada);
  if (posicion.repeticiones > 1)
    snprintf(texto + n, sizeof texto - n, "  repeticion %lld/%lld", posicion.repeticion,
             posicion.repeticiones);
  return texto;
}

std::string LineaDeProgreso(const Cuentas &cuentas, const Posicion &posicion, const Cifras &cifras,
                            int columnas) {
  char cifras_texto[96];
  snprintf(cifras_texto, sizeof cifras_texto, "  %.0f datagramas/s  %.1f Mbit/s  ",
           cifras.datagramas_s, cifras.mbit_s);
  std::string linea = "Partes enviadas: " + Avance(cuentas, cifras) + cifras_texto +
                      Donde(posicion) + "  " + posicion.nombre;
  // the last column is left alone: writing in it makes some terminals wrap the line
  linea.resize(static_cast<std::size_t>(std::max(columnas - 1, 1)), ' ');
  return linea;
}

static int ColumnasDelTerminal() {
  winsize tam;
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &tam) != 0 || tam.ws_col == 0) return kColumnasSinTerminal;
  return tam.ws_col;
}

// The cursor waits at the start of the line, so that neither a ^C echoed there nor a terminal
// that narrows and wraps what was drawn can push the line onto a row left behind.
void MostrarProgreso(Progreso &progreso, const Cuentas &cuentas, const Posicion &posicion,
                     int64_t ahora) {
  if (!progreso.en_terminal || ahora < progreso.proximo) return;
  // the redraws keep to their grid, so that a late one does not move the next ones
  do progreso.proximo += kPeriodoProgresoNs;
  while (progreso.proximo <= ahora);
  Muestra muestra{ahora, Hechos(cuentas), cuentas.enviados, cuentas.bytes};
  Cifras cifras = CifrasDelUltimoSegundo(progreso, muestra, cuentas.previstos);
  AnotarMuestra(progreso, muestra);
  int columnas = ColumnasDelTerminal();
  std::string linea = LineaDeProgreso(cuentas, posicion, cifras, columnas);
  // narrower now, the old line may have been wrapped onto the rows below: they go too
  const char *antes = !progreso.dibujada ? "\r" : columnas < progreso.columnas ? "\r\033[J" : "";
  fprintf(stderr, "%s%s\r", antes, linea.c_str());
  progreso.dibujada = true;
  progreso.columnas = columnas;
}

void BorrarProgreso(Progreso &progreso) {
  if (!progreso.dibujada) return;
  int columnas = ColumnasDelTerminal();
  if (columnas < progreso.columnas) {
    fputs("\r\033[J", stderr);
  } else {
    // a ^C from the terminal is echoed where the cursor waits, and moves it
    std::string blanco(static_cast<std::size_t>(columnas - 1), ' ');
    fprintf(stderr, "%s%s\r", ParadaPedida() ? "\r" : "", blanco.c_str());
  }
  progreso.dibujada = false;
}

void Avisar(Progreso &progreso, const char *formato, ...) {
  BorrarProgreso(progreso);
  va_list argumentos;
  va_start(argumentos, formato);
  vfprintf(stderr, formato, argumentos);
  va_end(argumentos);
}

std::string LineaFinal(const Cuentas &cuentas, int64_t ns, bool con_perdida) {
  double segundos = static_cast<double>(ns) / kSegundoNs;
  double por_segundo = segundos > 0 ? static_cast<double>(cuentas.enviados) / segundos : 0;
  char texto[256];
  int n = snprintf(texto, sizeof texto,
                   "Datagramas enviados: %llu (%llu bytes) en %.2f s, %.0f datagramas/s; "
                   "sin enviar: %llu",
                   static_cast<unsigned long long>(cuentas.enviados),
                   static_cast<unsigned long long>(cuentas.bytes), segundos, por_segundo,
                   static_cast<unsigned long long>(cuentas.sin_enviar));
  if (con_perdida)
    snprintf(texto + n, sizeof texto - n, "; omitidos por --perdida: %llu",
             static_cast<unsigned long long>(cuentas.omitidos));
  return std::string(texto) + "\n";
}
