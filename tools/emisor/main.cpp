// emisor: sends files on a UDP multicast group as numbered parts, one part per datagram, laid
// out as the receiver rebuilds them.
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "envio.h"
#include "fallo.h"
#include "ficheros.h"
#include "firma.h"
#include "mando.h"
#include "opciones.h"
#include "progreso.h"
#include "red.h"
#include "reparaciones.h"
#include "reloj.h"

// The summary goes to standard error, where the progress line was, at the end of every run and
// whatever ended it, terminal or not; an error, said already, and a send without carrusel that
// a signal cut short end with an error besides.
static int Terminar(Envio &envio, const Opciones &opciones, Fin fin) {
  BorrarProgreso(envio.progreso);
  std::string resumen = LineaFinal(envio.cuentas, AhoraNs() - envio.inicio, opciones.con_perdida);
  fputs(resumen.c_str(), stderr);
  close(envio.sock);
  if (fin == Fin::kError) return kSalidaError;
  if (fin == Fin::kSenal && !opciones.carrusel)
    Rechazar("Envio interrumpido: %llu de %llu datagramas enviados\n",
             static_cast<unsigned long long>(envio.cuentas.enviados),
             static_cast<unsigned long long>(envio.cuentas.previstos));
  return kSalidaBien;
}

int main(int argc, char **argv) {
  Opciones opciones;
  LeerOpciones(argc, argv, opciones);
  // before the checks, which take a while with many files: a signal then stops the send at once
  InstalarSenales();
  std::vector<Fichero> ficheros = NombrarFicheros(opciones);
  // the part size follows the names when repair datagrams carry them
  if (opciones.fec_k > 0) AjustarParteAReparaciones(opciones, ficheros);
  ComprobarFicheros(opciones, ficheros);
  Envio envio;
  envio.sock = AbrirEmisor(opciones);
  static Firmante firmante;
  if (opciones.firma != nullptr) PrepararFirmante(firmante, opciones, ficheros);
  if (opciones.firma != nullptr) envio.firmante = &firmante;
  static Reparador reparador;
  if (opciones.fec_k > 0) PrepararReparador(reparador, opciones, ficheros);
  if (opciones.fec_k > 0) envio.reparador = &reparador;
  PrepararEnvio(envio, opciones, ficheros);
  Fin fin = EnviarTodo(envio, opciones, ficheros);
  return Terminar(envio, opciones, fin);
}
