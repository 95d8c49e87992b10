#include "e2e.h"

#include "direcciones.h"
#include "formato.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

namespace {

using Reloj = std::chrono::steady_clock;

double SegundosDesde(Reloj::time_point inicio) {
  return std::chrono::duration<double>(Reloj::now() - inicio).count();
}

// Moves whatever the pipes hold into the strings, waiting up to milisegundos for something.
void Drenar(Proceso &proceso, int milisegundos) {
  pollfd fds[2] = {{proceso.fd_salida, POLLIN, 0}, {proceso.fd_error, POLLIN, 0}};
  if (poll(fds, 2, milisegundos) <= 0) return;
  char bloque[65536];
  std::string *destinos[2] = {&proceso.salida, &proceso.error};
  for (int i = 0; i < 2; ++i) {
    if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
    ssize_t n = read(fds[i].fd, bloque, sizeof bloque);
    if (n > 0) {
      destinos[i]->append(bloque, static_cast<std::size_t>(n));
    } else {
      close(fds[i].fd);
      (i == 0 ? proceso.fd_salida : proceso.fd_error) = -1;
    }
  }
}

void DrenarTodo(Proceso &proceso) {
  while (proceso.fd_salida >= 0 || proceso.fd_error >= 0) Drenar(proceso, 1000);
}

bool EsIpv6(const Destino &destino) {
  return destino.grupo.find(':') != std::string::npos;
}

int EstadoDe(int estado) {
  if (WIFEXITED(estado)) return WEXITSTATUS(estado);
  if (WIFSIGNALED(estado)) return 128 + WTERMSIG(estado);
  return -1;
}

}  // namespace

void ExigirRedPrivada() {
  struct if_nameindex *interfaces = if_nameindex();
  ASSERT_NE(interfaces, nullptr);
  std::string otras;
  for (struct if_nameindex *i = interfaces; i->if_index != 0; ++i)
    if (std::string(i->if_name) != "lo") otras += std::string(" ") + i->if_name;
  if_freenameindex(interfaces);
  ASSERT_EQ(otras, "") << "only the loopback may be visible: run the tests through scripts/test";
}

Destino DestinoNuevo() {
  static int contador = 0;
  ++contador;
  int pid = static_cast<int>(getpid());
  // one group per test process: the processes of a parallel run never share one
  std::string grupo = "239." + std::to_string(100 + (pid >> 16) % 100) + "." +
                      std::to_string((pid >> 8) & 0xff) + "." + std::to_string(pid & 0xff);
  uint16_t puerto = static_cast<uint16_t>(20000 + (pid * 37 + contador) % 40000);
  return {grupo, puerto};
}

Destino DestinoNuevoIpv6() {
  Destino destino = DestinoNuevo();
  char grupo[32];
  unsigned pid = static_cast<unsigned>(getpid());
  snprintf(grupo, sizeof grupo, "ff3e::%x:%x", pid >> 16, pid & 0xffff);
  destino.grupo = grupo;
  return destino;
}

bool RedIpv6Propia() {
  if (unshare(CLONE_NEWNET) != 0) return false;
  // each address is usable at once, without the seconds of duplicate address detection
  const char *preparar =
      "ip link set lo up && for f in /proc/sys/net/ipv6/conf/*/accept_dad; do echo 0 > $f; done "
      "&& ip link add v6a type veth peer name v6b && ip addr add fd00::1/64 dev v6a nodad && "
      "ip addr add fd00::2/64 dev v6b nodad && ip link set v6a up && ip link set v6b up && "
      "ip -6 route add multicast ff00::/8 dev v6a table local metric 1";
  return system(preparar) == 0;
}

Proceso Lanzar(const std::vector<std::string> &argumentos, const std::string &directorio) {
  int salida[2], error[2];
  if (pipe(salida) != 0 || pipe(error) != 0) ADD_FAILURE() << "pipe";
  Proceso proceso;
  proceso.pid = fork();
  if (proceso.pid == 0) {
    dup2(salida[1], 1);
    dup2(error[1], 2);
    close(salida[0]), close(salida[1]), close(error[0]), close(error[1]);
    if (chdir(directorio.c_str()) != 0) _exit(126);
    std::vector<char *> argv;
    for (const std::string &a : argumentos) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(salida[1]);
  close(error[1]);
  proceso.fd_salida = salida[0];
  proceso.fd_error = error[0];
  return proceso;
}

// Sockets joined to the group on any interface, as the kernel counts them: in both lists the
// count follows the group.
static int MiembrosDelGrupo(const char *lista, const std::string &clave) {
  std::ifstream igmp(lista);
  std::string palabra;
  int miembros = 0;
  while (igmp >> palabra)
    if (palabra == clave) {
      int usuarios = 0;
      igmp >> usuarios;
      miembros += usuarios;
    }
  return miembros;
}

// The key of a group in the kernel's lists: the address word in hexadecimal in /proc/net/igmp,
// the sixteen bytes in /proc/net/igmp6.
static std::string ClaveDelGrupo(const std::string &grupo) {
  unsigned char ipv6[16];
  char clave[33];
  if (inet_pton(AF_INET6, grupo.c_str(), ipv6) == 1) {
    for (int i = 0; i < 16; ++i) snprintf(clave + 2 * i, 3, "%02x", ipv6[i]);
    return clave;
  }
  in_addr ipv4{};
  inet_aton(grupo.c_str(), &ipv4);
  snprintf(clave, sizeof clave, "%08X", ipv4.s_addr);
  return clave;
}

bool EsperarUnion(const Destino &destino, double segundos, int miembros) {
  bool ipv6 = EsIpv6(destino);
  std::string clave = ClaveDelGrupo(destino.grupo);
  auto inicio = Reloj::now();
  while (SegundosDesde(inicio) < segundos) {
    if (MiembrosDelGrupo(ipv6 ? "/proc/net/igmp6" : "/proc/net/igmp", clave) >= miembros)
      return true;
    usleep(2000);
  }
  return false;
}

Proceso LanzarCliente(const Destino &destino, const std::string &modo,
                      const std::string &directorio) {
  Proceso proceso =
      Lanzar({CLIENT_PATH, destino.grupo, std::to_string(destino.puerto), modo}, directorio);
  EXPECT_TRUE(EsperarUnion(destino)) << "client did not join " << destino.grupo;
  return proceso;
}

Proceso LanzarClienteLimitado(const Destino &destino, int bloques, const std::string &directorio) {
  std::string limite = "ulimit -f " + std::to_string(bloques) + "; exec \"$0\" \"$@\"";
  Proceso proceso = Lanzar(
      {"/bin/bash", "-c", limite, CLIENT_PATH, destino.grupo, std::to_string(destino.puerto), "2"},
      directorio);
  EXPECT_TRUE(EsperarUnion(destino)) << "client did not join " << destino.grupo;
  return proceso;
}

bool LeerLineas(Proceso &proceso, std::size_t lineas, double segundos) {
  auto inicio = Reloj::now();
  while (static_cast<std::size_t>(std::count(proceso.salida.begin(), proceso.salida.end(), '\n')) <
         lineas) {
    if (SegundosDesde(inicio) > segundos || proceso.fd_salida < 0) return false;
    Drenar(proceso, 50);
  }
  return true;
}

std::size_t ContarResumenes(const std::string &salida) {
  std::size_t cuantos = salida.rfind("T:", 0) == 0;
  for (std::size_t en = salida.find("\nT:"); en != std::string::npos;
       en = salida.find("\nT:", en + 1))
    ++cuantos;
  return cuantos;
}

bool LeerResumenes(Proceso &proceso, std::size_t cuantos, double segundos) {
  auto inicio = Reloj::now();
  while (ContarResumenes(proceso.salida) < cuantos) {
    if (SegundosDesde(inicio) > segundos || proceso.fd_salida < 0) return false;
    Drenar(proceso, 50);
  }
  return true;
}

bool LeerHastaTexto(Proceso &proceso, const std::string &texto, double segundos) {
  auto inicio = Reloj::now();
  while (proceso.salida.find(texto) == std::string::npos) {
    if (SegundosDesde(inicio) > segundos || proceso.fd_salida < 0) return false;
    Drenar(proceso, 50);
  }
  return true;
}

void Escuchar(Proceso &proceso, double segundos) {
  auto inicio = Reloj::now();
  while (SegundosDesde(inicio) < segundos && proceso.fd_salida >= 0) Drenar(proceso, 10);
}

int EsperarFin(Proceso &proceso, double segundos) {
  auto inicio = Reloj::now();
  int estado = 0;
  while (waitpid(proceso.pid, &estado, WNOHANG) == 0) {
    if (SegundosDesde(inicio) > segundos) {
      ADD_FAILURE() << "the process did not end by itself";
      kill(proceso.pid, SIGKILL);
      waitpid(proceso.pid, &estado, 0);
      break;
    }
    Drenar(proceso, 20);
  }
  DrenarTodo(proceso);
  proceso.estado = EstadoDe(estado);
  return proceso.estado;
}

int Terminar(Proceso &proceso) {
  kill(proceso.pid, SIGTERM);
  int estado = 0;
  waitpid(proceso.pid, &estado, 0);
  DrenarTodo(proceso);
  proceso.estado = EstadoDe(estado);
  return proceso.estado;
}

void Acabar(Proceso &proceso) {
  // a pid already waited for may be another process's now
  if (proceso.pid <= 0 || proceso.estado >= 0) return;
  kill(proceso.pid, SIGKILL);
  EsperarFin(proceso);
}

void E2E::SetUp() {
  ASSERT_NO_FATAL_FAILURE(ExigirRedPrivada());
  dir = DirectorioNuevo();
  aparte = DirectorioNuevo();
  if (EsIpv6(destino) && !RedIpv6Propia()) GTEST_SKIP() << "no IPv6 or no veth here";
}

void E2E::TearDown() {
  Acabar(cliente);
  BorrarDirectorio(dir);
  BorrarDirectorio(aparte);
  // the pair goes with the namespace; gone now, a next test in this process sees no other
  if (EsIpv6(destino)) {
    EXPECT_EQ(system("ip link del v6a 2>/dev/null; true"), 0);
  }
}

void E2E::Arrancar(const std::vector<std::string> &opciones) {
  std::vector<std::string> argumentos = {CLIENT_PATH};
  argumentos.insert(argumentos.end(), opciones.begin(), opciones.end());
  argumentos.insert(argumentos.end(), {destino.grupo, std::to_string(destino.puerto), "2"});
  cliente = Lanzar(argumentos, dir);
  ASSERT_TRUE(EsperarUnion(destino))
      << "client did not join " << destino.grupo << ": " << cliente.error;
}

std::string E2E::Inicio() const {
  return "Recibiendo " + destino.grupo + ", puerto " + std::to_string(destino.puerto) +
         ", modo 2, en " + dir + "\n";
}

// One socket per source address, bound to it, leaving by the loopback, or for IPv6 by the
// sending end of the pair.
static int SocketDesde(const std::string &origen) {
  static std::map<std::string, int> sockets;
  int &sock = sockets[origen];
  if (sock > 0) return sock;
  sockaddr_storage local;
  bool ipv6 = LeerDireccion(origen.c_str(), AF_INET6, local);
  if (!ipv6) LeerDireccion(origen.c_str(), AF_INET, local);
  sock = socket(local.ss_family, SOCK_DGRAM, 0);
  in_addr lo{};
  lo.s_addr = htonl(INADDR_LOOPBACK);
  int envia = static_cast<int>(if_nametoindex(kIpv6Envia));
  if (ipv6)
    setsockopt(sock, IPPROTO_IPV6, IPV6_MULTICAST_IF, &envia, sizeof envia);
  else
    setsockopt(sock, IPPROTO_IP, IP_MULTICAST_IF, &lo, sizeof lo);
  EXPECT_EQ(bind(sock, reinterpret_cast<sockaddr *>(&local), LargoDireccion(local)), 0)
      << strerror(errno);
  return sock;
}

void Enviar(const Destino &destino, const std::string &datagrama, const std::string &origen) {
  int sock = SocketDesde(origen);
  sockaddr_storage a = LeerGrupo(destino.grupo.c_str(), destino.puerto);
  ssize_t n = sendto(sock, datagrama.data(), datagrama.size(), 0, reinterpret_cast<sockaddr *>(&a),
                     LargoDireccion(a));
  EXPECT_EQ(n, static_cast<ssize_t>(datagrama.size())) << strerror(errno);
}

std::string Datagrama(uint16_t tipo, uint16_t subtipo, uint32_t parte, uint32_t totpartes,
                      const std::string &nombre, const std::string &contenido) {
  unsigned char cabecera[TamCabecera];
  CodificarCabecera({tipo, subtipo, parte, totpartes, nombre}, cabecera);
  return std::string(reinterpret_cast<char *>(cabecera), TamCabecera) + contenido;
}

std::string Resumen(const std::string &tipo, const std::string &subtipo, const std::string &nombre,
                    int parteactual, int totpartes, int tamparte, int faltan) {
  return "T:" + tipo + "|S:" + subtipo + "|Nom:" + nombre + "|" + std::to_string(parteactual) +
         "/" + std::to_string(totpartes) + "|MxPrt:" + std::to_string(tamparte) +
         "|Fltn:" + std::to_string(faltan) + "|\n";
}

std::string ContenidoAleatorio(std::size_t largo, unsigned semilla) {
  std::mt19937 azar(semilla);
  std::string texto(largo, '\0');
  for (char &c : texto) c = static_cast<char>(azar());
  return texto;
}

std::string DirectorioNuevo() {
  char plantilla[] = "/tmp/receptor-prueba-XXXXXX";
  const char *dir = mkdtemp(plantilla);
  EXPECT_NE(dir, nullptr);
  return dir ? dir : "/tmp";
}

void BorrarDirectorio(const std::string &directorio) {
  std::error_code ignorado;
  std::filesystem::remove_all(directorio, ignorado);
}

std::string LeerFichero(const std::string &ruta) {
  std::ifstream f(ruta, std::ios::binary);
  std::stringstream texto;
  texto << f.rdbuf();
  return texto.str();
}

std::vector<std::string> Listar(const std::string &directorio) {
  std::vector<std::string> nombres;
  for (const auto &e : std::filesystem::directory_iterator(directorio))
    nombres.push_back(e.path().filename().string());
  std::sort(nombres.begin(), nombres.end());
  return nombres;
}
