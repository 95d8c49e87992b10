// Helpers for end-to-end tests: run the built programs inside the private network namespace,
// send them crafted datagrams on loopback, and collect what they print.
#ifndef E2E_H
#define E2E_H

#include <sys/types.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "commit.h"

/// What -V prints after the program's name, and the status file's "commit", for this build.
inline const std::string kVersionConCommit = std::string(" " RECEPTOR_VERSION " (") +
    (RECEPTOR_COMMIT[0] ? "commit " RECEPTOR_COMMIT : "sin commit") + ")\n";
inline const std::string kCommitJson = RECEPTOR_COMMIT[0] ? "\"" RECEPTOR_COMMIT "\"" : "null";

/// Fails the current test unless the only interface visible is the loopback.
void ExigirRedPrivada();

/// A group and a port that no other test of this run uses.
struct Destino {
  std::string grupo;
  uint16_t puerto;
};
Destino DestinoNuevo();

/// The same for an IPv6 group (ff3e::/16), to be sent over RedIpv6Propia's pair.
Destino DestinoNuevoIpv6();

/// The ends of RedIpv6Propia's veth pair: the receiver joins on the first (fd00::1), datagrams
/// leave by the second (fd00::2).
inline constexpr const char *kIpv6Recibe = "v6a";
inline constexpr const char *kIpv6Envia = "v6b";

/// Moves the test process into a network namespace of its own, so that the tests beside it
/// still see only the loopback, holding a veth pair for IPv6 multicast (the loopback alone
/// delivers none): duplicate address detection off, addresses fd00::1 and fd00::2 usable at
/// once, and the multicast route through kIpv6Recibe. False when the kernel has no IPv6 or no
/// veth here. The namespace and its links end with the process.
bool RedIpv6Propia();

/// A program started by a test, with its standard output and error collected.
struct Proceso {
  pid_t pid = -1;
  int fd_salida = -1;
  int fd_error = -1;
  std::string salida;
  std::string error;
  int estado = -1;  // exit status once ended; 128 + signal when ended by one
};

/// Starts the program with the arguments in the directory given.
Proceso Lanzar(const std::vector<std::string> &argumentos, const std::string &directorio = ".");

/// Waits, up to segundos, until as many receivers as miembros have joined the group.
bool EsperarUnion(const Destino &destino, double segundos = 5, int miembros = 1);

/// Starts `client` for destino in the mode given and waits until it has joined.
Proceso LanzarCliente(const Destino &destino, const std::string &modo,
                      const std::string &directorio = ".");

/// Starts `client` for destino in mode 2 under a file size limit of bloques KiB (ulimit -f), and
/// waits until it has joined.
Proceso LanzarClienteLimitado(const Destino &destino, int bloques, const std::string &directorio);

/// Reads standard output until it holds at least lineas lines, or segundos have passed.
bool LeerLineas(Proceso &proceso, std::size_t lineas, double segundos = 10);

/// Summary lines in an output: one per datagram, each a line that starts with "T:".
std::size_t ContarResumenes(const std::string &salida);

/// Reads standard output until it holds at least cuantos summary lines (one per datagram).
bool LeerResumenes(Proceso &proceso, std::size_t cuantos, double segundos = 10);

/// Reads standard output until it contains texto, or segundos have passed.
bool LeerHastaTexto(Proceso &proceso, const std::string &texto, double segundos = 10);

/// Collects what the process prints for segundos, or until its output ends.
void Escuchar(Proceso &proceso, double segundos);

/// Waits up to segundos for the process to end by itself; ends it with SIGKILL otherwise.
/// Collects all its output and returns its status.
int EsperarFin(Proceso &proceso, double segundos = 10);

/// Ends the process with SIGTERM, collects all its output and returns its status.
int Terminar(Proceso &proceso);

/// Ends with SIGKILL a process started and not yet waited for, and collects its output.
void Acabar(Proceso &proceso);

/// Sends the bytes as one datagram to the group on loopback, from the source address given; to
/// an IPv6 group, out of kIpv6Envia.
void Enviar(const Destino &destino, const std::string &datagrama,
            const std::string &origen = "127.0.0.1");

/// Builds a datagram: header (type, subtype, part counted from 1, total, name) and content.
std::string Datagrama(uint16_t tipo, uint16_t subtipo, uint32_t parte, uint32_t totpartes,
                      const std::string &nombre, const std::string &contenido);

/// The summary line that client prints for such a datagram.
std::string Resumen(const std::string &tipo, const std::string &subtipo, const std::string &nombre,
                    int parteactual, int totpartes, int tamparte, int faltan);

/// largo bytes of pseudo-random content, the same for the same semilla.
std::string ContenidoAleatorio(std::size_t largo, unsigned semilla);

/// A fresh empty directory, removed with its files by BorrarDirectorio.
std::string DirectorioNuevo();
void BorrarDirectorio(const std::string &directorio);

/// The whole content of a file ("" when it cannot be read), and the names in a directory.
std::string LeerFichero(const std::string &ruta);
std::vector<std::string> Listar(const std::string &directorio);

/// The fixture that end-to-end tests share: the private network checked, a group of their own,
/// the receiver's directory and one apart; at the end a receiver still running is killed and
/// both directories go. For an IPv6 group, RedIpv6Propia's pair too, or the test is skipped.
class E2E : public testing::Test {
 protected:
  explicit E2E(const Destino &grupo = DestinoNuevo()) : destino(grupo) {}
  void SetUp() override;
  void TearDown() override;
  /// Starts client in dir with the options given, destino and mode 2, and waits until it has
  /// joined.
  void Arrancar(const std::vector<std::string> &opciones);
  /// The line that client prints on starting so.
  std::string Inicio() const;
  Destino destino;
  std::string dir, aparte;  // where the receiver writes; the files sent, or a program's copies
  Proceso cliente;
};

#endif
