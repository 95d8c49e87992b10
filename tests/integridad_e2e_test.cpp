// Integrity across restarts: a receiver killed or stopped at random moments, with and without
// resuming, while several files arrive over a lossy network and a consumer now and then takes the
// finished ones away. Every file it finishes, in any run, must be its source byte for byte; so
// must a file received on a disk whose write-back fails.
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <sstream>

#include "e2e.h"

namespace {

using Reloj = std::chrono::steady_clock;

constexpr std::size_t kParte = 1428;  // the sender's default part
constexpr int kEsperas = 600;         // of 50 ms: the last send completes every file in 30 s

class Integridad : public E2E {
 protected:
  void TearDown() override {
    Acabar(emisor);
    E2E::TearDown();
  }
  void Arrancar(bool reanudar) {
    std::vector<std::string> opciones = {"-f", "4"};
    if (reanudar) opciones.insert(opciones.begin(), "-r");
    E2E::Arrancar(opciones);
  }
  void Emitir(std::vector<std::string> opciones) {
    std::vector<std::string> argumentos = {EMISOR_PATH, "-i", "127.0.0.1", "-r", "20000"};
    argumentos.insert(argumentos.end(), opciones.begin(), opciones.end());
    argumentos.insert(argumentos.end(), {destino.grupo, std::to_string(destino.puerto)});
    for (const auto &[nombre, contenido] : fuentes) argumentos.push_back(aparte + "/" + nombre);
    emisor = Lanzar(argumentos);
  }
  // Once a receiver is gone, every final file is its source. A consumer may then take the files
  // away, and the next send of each is received afresh; a wrong one goes too, reported once.
  void Revisar(const std::string &ronda, bool llevarse) {
    for (const auto &[nombre, contenido] : fuentes) {
      std::string ruta = dir + "/0001-0002-" + nombre;
      if (!std::filesystem::exists(ruta)) continue;
      std::string rehecho = LeerFichero(ruta);
      EXPECT_TRUE(rehecho == contenido) << nombre << " differs after " << ronda;
      if (llevarse || rehecho != contenido) std::filesystem::remove(ruta);
    }
  }
  // A receiver runs for a moment of a lossy send that lasts the whole round, and is then killed
  // or stopped: every end falls in the middle of some file.
  void Ronda(std::mt19937 &azar, int numero) {
    bool reanudar = azar() % 2;
    int senal = azar() % 2 ? SIGKILL : SIGTERM;
    double dura = std::uniform_real_distribution<double>(0.02, 0.3)(azar);
    ASSERT_NO_FATAL_FAILURE(Arrancar(reanudar));
    Emitir({"--perdida", "0.2", "--semilla", std::to_string(azar()), "-o", "aleatorio", "-c"});
    Escuchar(cliente, dura);
    kill(cliente.pid, senal);
    EXPECT_EQ(EsperarFin(cliente), 128 + senal) << cliente.error;
    Terminar(emisor);
    Revisar("round " + std::to_string(numero) + (reanudar ? " with -r, " : " without -r, ") +
                (senal == SIGKILL ? "killed" : "stopped"),
            azar() % 3 == 0);
  }
  bool TodosCompletos() {
    for (const auto &[nombre, contenido] : fuentes)
      if (!std::filesystem::exists(dir + "/0001-0002-" + nombre)) return false;
    return true;
  }
  std::map<std::string, std::string> fuentes;  // name sent, and its content
  Proceso emisor;
};

TEST_F(Integridad, LoCompletadoTrasReiniciosAlAzarEsSuFuente) {
  const char *ajuste = getenv("RECEPTOR_SOAK_SEGUNDOS");
  double segundos = ajuste ? atof(ajuste) : 28;
  std::mt19937 azar(20260311);
  // less than a part, a few parts, an exact number of parts, and about a thousand parts
  const std::pair<const char *, std::size_t> largos[] = {
      {"corto", 1000}, {"medio", 20 * 1024 + 5}, {"justo", 300 * kParte}, {"largo", 1536000}};
  for (auto [nombre, largo] : largos) {
    fuentes[nombre] = ContenidoAleatorio(largo, azar());
    std::ofstream(aparte + "/" + nombre, std::ios::binary) << fuentes[nombre];
  }
  auto inicio = Reloj::now();
  for (int ronda = 0;
       ronda < 1000 && std::chrono::duration<double>(Reloj::now() - inicio).count() < segundos;
       ++ronda)
    ASSERT_NO_FATAL_FAILURE(Ronda(azar, ronda));

  // the last receiver resumes whatever the rounds left; two passes without loss finish it all
  ASSERT_NO_FATAL_FAILURE(Arrancar(true));
  Emitir({"-v", "2"});
  for (int i = 0; i < kEsperas && !TodosCompletos(); ++i) Escuchar(cliente, 0.05);
  Terminar(emisor);
  EXPECT_EQ(Terminar(cliente), 128 + SIGTERM) << cliente.error;
  EXPECT_TRUE(TodosCompletos()) << "the last send, without loss, left a file unfinished";
  Revisar("the last run", false);
}

// What a receiver said up to a file's completion, without the kernel's drops, which a busy
// machine adds.
std::string Sucesos(const std::string &salida) {
  std::string sucesos, linea;
  for (std::istringstream lineas(salida); std::getline(lineas, linea);)
    if (!linea.starts_with("El nucleo descarto")) sucesos += linea + "\n";
  std::size_t fin = sucesos.find(": Completado!\n");
  return fin == std::string::npos ? sucesos : sucesos.substr(0, fin + 14);
}

// A file of a few hundred thousand parts, with -r: killed once a save has added to its record,
// with a cut copy of the record's last line after it, as a crash in the middle of a save leaves
// it, the receiver resumes what it had, and a carousel completes it as it was sent.
TEST_F(Integridad, UnFicheroDeCientosDeMilesDePartesSeReanudaTrasUnKill) {
  const std::string id = "0001-0002-grande", registro = dir + "/." + id + ".partes";
  const std::vector<std::string> opciones = {"-r", "-q", "--max-partes", "200000"};
  fuentes["grande"] = ContenidoAleatorio(200000 * 64 - 10, 41);
  std::ofstream(aparte + "/grande", std::ios::binary) << fuentes["grande"];
  ASSERT_NO_FATAL_FAILURE(E2E::Arrancar(opciones));
  Emitir({"-p", "64", "-r", "12000"});
  for (int i = 0; i < kEsperas && LeerFichero(registro).find("\n+ ") == std::string::npos; ++i)
    Escuchar(cliente, 0.05);
  kill(cliente.pid, SIGKILL);
  EXPECT_EQ(EsperarFin(cliente), 128 + SIGKILL);
  Terminar(emisor);
  EXPECT_EQ(Sucesos(cliente.salida), Inicio() + id + ": Empezado con 200000 partes de 64 bytes.\n");
  EXPECT_EQ(emisor.error.substr(0, emisor.error.find('\n') + 1),
            "El fichero " + aparte +
                "/grande tiene 200000 partes, mas de 50000: los receptores necesitan "
                "--max-partes 200000\n");
  std::string texto = LeerFichero(registro);
  std::size_t ultima = texto.rfind("\n+ ");
  ASSERT_NE(ultima, std::string::npos) << "no save added to the record";
  std::ofstream(registro, std::ios::app) << texto.substr(ultima + 1, (texto.size() - ultima) / 2);

  ASSERT_NO_FATAL_FAILURE(E2E::Arrancar(opciones));
  Emitir({"-p", "64", "-r", "50000", "-c"});
  ASSERT_TRUE(LeerHastaTexto(cliente, id + ": Completado!\n", 60));
  std::string inicio = Inicio(), sucesos = Sucesos(cliente.salida);
  std::string resto = sucesos.substr(std::min(inicio.size(), sucesos.size()));
  std::smatch reanudado;
  EXPECT_EQ(sucesos.substr(0, inicio.size()), inicio);
  ASSERT_TRUE(std::regex_match(
      resto, reanudado,
      std::regex(id + ": Reanudado con ([0-9]+) de 200000 partes\\.\n" + id + ": Completado!\n")))
      << cliente.salida;
  EXPECT_GT(std::stoi(reanudado[1]), 0);
  EXPECT_TRUE(LeerFichero(dir + "/" + id) == fuentes["grande"]);
  EXPECT_EQ(Listar(dir), std::vector<std::string>{id});
}

// Runs a command of the shell; its standard output's first line, "" when it fails.
std::string Orden(const std::string &orden) {
  FILE *tubo = popen(orden.c_str(), "r");
  char linea[256] = "";
  if (tubo == nullptr || fgets(linea, sizeof linea, tubo) == nullptr) linea[0] = '\0';
  if (tubo != nullptr && pclose(tubo) != 0) return "";
  return std::string(linea).substr(0, strcspn(linea, "\n"));
}

// A disk whose write-back fails while its backing store is full, as thin-provisioned or network
// storage can: ext4 without a journal on a loop device over a small tmpfs, mounted in a mount
// namespace of this test's own. What cannot be made is said in por_que.
struct DiscoSinSitio {
  std::string base = DirectorioNuevo(), montaje = base + "/disco", dispositivo, por_que;
  bool Preparar() {
    if (geteuid() != 0) return Falta("it needs root, for a loop device and mounts");
    if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
      return Falta("no mount namespace of its own could be made");
    dispositivo =
        Orden("cd " + base + " && mount -t tmpfs -o size=8m tmpfs . && cd " + base +
              " && truncate -s 64M respaldo && mkdir disco && losetup -f --show respaldo");
    bool hecho = !dispositivo.empty() && Orden("mkfs.ext4 -q -O ^has_journal -E " +
                                               std::string("lazy_itable_init=1,nodiscard ") +
                                               dispositivo + " && echo si") == "si";
    return hecho ? Montar() : Falta("no tmpfs, loop device (losetup) or mkfs.ext4 (e2fsprogs)");
  }
  bool Montar() {
    return mount(dispositivo.c_str(), montaje.c_str(), "ext4", 0, "errors=continue") == 0 ||
           Falta("the ext4 filesystem could not be mounted");
  }
  bool Falta(const std::string &motivo) {
    por_que = motivo;
    return false;
  }
  ~DiscoSinSitio() {
    umount2(montaje.c_str(), MNT_DETACH);
    if (!dispositivo.empty()) Orden("losetup -d " + dispositivo);
    umount2(base.c_str(), MNT_DETACH);
    BorrarDirectorio(base);
  }
};

// A sync that fails is told once by the kernel: the next one succeeds whatever was lost before
// it. Parts lost so must be missing again, for the file in progress and for its record, so that
// the file completes only with every part on disk, after a SIGKILL too.
TEST_F(Integridad, UnaSincronizacionFallidaNoSeOcultaTrasLaSiguiente) {
  DiscoSinSitio disco;
  if (!disco.Preparar()) GTEST_SKIP() << "write-back failures are not tried: " << disco.por_que;
  std::string recibe = disco.montaje + "/r";
  ASSERT_TRUE(std::filesystem::create_directory(recibe));
  const std::string contenido = ContenidoAleatorio(200 * 1000, 21), id = "0001-0002-diferido";
  auto parte = [&](uint32_t i) {
    return Datagrama(1, 2, i, 200, "diferido", contenido.substr((i - 1) * 1000, 1000));
  };
  auto arrancar = [&] {
    cliente = Lanzar({CLIENT_PATH, "-r", "-q", destino.grupo, std::to_string(destino.puerto), "2"},
                     recibe);
    ASSERT_TRUE(EsperarUnion(destino));
  };
  // the backing store full, then with room again
  Orden("dd if=/dev/zero of=" + disco.base + "/relleno bs=64k 2>/dev/null");
  ASSERT_NO_FATAL_FAILURE(arrancar());
  for (uint32_t i = 1; i <= 100; ++i) Enviar(destino, parte(i));
  // the records are saved every 5 s
  for (int i = 0; i < 300 && cliente.error.find("Error al sincronizar") == std::string::npos; ++i)
    Escuchar(cliente, 0.05);
  ASSERT_NE(cliente.error.find("Error al sincronizar " + id + ".tmp: "), std::string::npos)
      << cliente.error;
  unlink((disco.base + "/relleno").c_str());
  for (uint32_t i = 101; i <= 200; ++i) Enviar(destino, parte(i));
  std::string registro = recibe + "/." + id + ".partes";
  for (int i = 0; i < 300 && !std::filesystem::exists(registro); ++i) Escuchar(cliente, 0.05);
  EXPECT_EQ(cliente.salida.find("Completado!"), std::string::npos) << cliente.salida;
  ASSERT_TRUE(std::filesystem::exists(registro)) << "no save succeeded once there was room";
  kill(cliente.pid, SIGKILL);
  EsperarFin(cliente);

  ASSERT_NO_FATAL_FAILURE(arrancar());
  for (uint32_t i = 1; i <= 200; ++i) Enviar(destino, parte(i));
  EXPECT_TRUE(LeerHastaTexto(cliente, id + ": Completado!\n")) << cliente.salida;
  Terminar(cliente);
  std::size_t reanudado = cliente.salida.find(": Reanudado con ");
  ASSERT_NE(reanudado, std::string::npos) << cliente.salida;
  EXPECT_LE(std::stoi(cliente.salida.substr(reanudado + 16)), 100) << cliente.salida;
  // read back from the disk itself, not from the page cache
  ASSERT_EQ(umount2(disco.montaje.c_str(), 0), 0);
  ASSERT_TRUE(disco.Montar());
  EXPECT_TRUE(LeerFichero(recibe + "/" + id) == contenido) << "the file on disk is not its source";
}

// A failed save whose move to a new temporary file fails too (the filesystem full as well):
// the parts that came after the last good save are missing again when the file completes, and
// the file must wait for them, not take its final name short.
TEST_F(Integridad, UnFicheroQueNoPudoMudarseNoSeCompletaCorto) {
  DiscoSinSitio disco;
  if (!disco.Preparar()) GTEST_SKIP() << "write-back failures are not tried: " << disco.por_que;
  std::string recibe = disco.montaje + "/r";
  ASSERT_TRUE(std::filesystem::create_directory(recibe));
  const uint32_t total = 1000;
  const std::string nombre = "corto", visible = "0001-0002-corto";
  const std::string contenido = ContenidoAleatorio(total * 1000, 28), id = "0001-0002-" + nombre;
  auto enviar = [&](uint32_t desde, uint32_t hasta) {
    for (uint32_t i = desde; i <= hasta; ++i)
      Enviar(destino, Datagrama(1, 2, i, total, nombre, contenido.substr((i - 1) * 1000, 1000)));
  };
  auto esperar_error = [&](const std::string &texto) {
    for (int i = 0; i < 300 && cliente.error.find(texto) == std::string::npos; ++i)
      Escuchar(cliente, 0.05);
    return cliente.error.find(texto) != std::string::npos;
  };
  cliente =
      Lanzar({CLIENT_PATH, "-r", "-q", destino.grupo, std::to_string(destino.puerto), "2"}, recibe);
  ASSERT_TRUE(EsperarUnion(destino));
  enviar(1, 300);
  std::string registro = recibe + "/." + id + ".partes";
  for (int i = 0; i < 300 && !std::filesystem::exists(registro); ++i) Escuchar(cliente, 0.05);
  ASSERT_TRUE(std::filesystem::exists(registro)) << "the first save did not come";
  // the backing store full, then the filesystem itself but for room for the next parts: not for
  // a copy of those saved
  Orden("dd if=/dev/zero of=" + disco.base + "/relleno bs=4k 2>/dev/null");
  Orden("dd if=/dev/zero of=" + disco.montaje + "/lleno bs=4k 2>/dev/null; truncate -s -200k " +
        disco.montaje + "/lleno");
  enviar(301, 400);
  ASSERT_TRUE(esperar_error("Error al pasar el fichero a un temporal nuevo: ")) << cliente.error;
  EXPECT_NE(cliente.error.find("Error al sincronizar " + visible + ".tmp: "), std::string::npos);
  // a failure that repeats at every save is told once
  EXPECT_EQ(cliente.error.find("Error al sincronizar"),
            cliente.error.rfind("Error al sincronizar"));
  unlink((disco.montaje + "/lleno").c_str());
  unlink((disco.base + "/relleno").c_str());
  enviar(301, total);
  Escuchar(cliente, 1);
  EXPECT_EQ(cliente.salida.find("Completado!"), std::string::npos) << cliente.salida;
  EXPECT_FALSE(std::filesystem::exists(recibe + "/" + id)) << "called complete with parts missing";
  // what was lost comes again: then the file is its source
  enviar(1, total);
  EXPECT_TRUE(LeerHastaTexto(cliente, id + ": Completado!\n")) << cliente.error;
  Terminar(cliente);
  ASSERT_EQ(umount2(disco.montaje.c_str(), 0), 0);
  ASSERT_TRUE(disco.Montar());
  EXPECT_TRUE(LeerFichero(recibe + "/" + id) == contenido) << "the file on disk is not its source";
}

// Two versions of one file on a disk with room for neither: one gives way, said; the check reports
// the failure until there is room, then the log says so, a version completes and the check is OK.
TEST_F(Integridad, UnDiscoLlenoSeVeEnElEstadoYUnaVersionCedeSuSitio) {
  // the status file elsewhere, as the service keeps it in /run
  std::string recibe = DirectorioNuevo(), estado = aparte + "/e.json", id = "0001-0002-doble";
  if (geteuid() != 0 || unshare(CLONE_NEWNS) != 0 ||
      mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount("tmpfs", recibe.c_str(), "tmpfs", 0, "size=600k") != 0)
    GTEST_SKIP() << "a full disk is not tried: no small tmpfs of its own can be mounted here";
  std::ofstream(recibe + "/relleno") << std::string(450 * 1024, 'r');
  const std::string versiones[2] = {ContenidoAleatorio(200 * 1000, 41),
                                    ContenidoAleatorio(200 * 1000, 42)};
  cliente = Lanzar({CLIENT_PATH, "-q", "-f", "2", "-e", estado, destino.grupo,
                    std::to_string(destino.puerto), "2"}, recibe);
  ASSERT_TRUE(EsperarUnion(destino));
  auto pasada = [&] {
    for (uint32_t i = 1; i <= 200; ++i)
      for (int v : {0, 1})
        Enviar(destino, Datagrama(1, 2, i, 200, "doble", versiones[v].substr((i - 1) * 1000, 1000)),
               "127.0.0.1" + std::to_string(v));
    Escuchar(cliente, 1.5);
    Proceso comprobar = Lanzar({COMPROBAR_ESTADO_PATH, estado});
    EsperarFin(comprobar);
    bool lleno = comprobar.salida.find(": Error al grabar la parte en el fichero temporal: No "
                                       "space left on device") != std::string::npos;
    return std::to_string(comprobar.estado) + (lleno ? " lleno" : "");
  };
  EXPECT_EQ(pasada(), "2 lleno") << LeerFichero(estado);
  unlink((recibe + "/relleno").c_str());
  EXPECT_EQ(pasada(), "0");
  Terminar(cliente);
  std::string guardado = LeerFichero(recibe + "/" + id);
  EXPECT_TRUE(guardado == versiones[0] || guardado == versiones[1]) << cliente.salida;
  for (const char *linea : {": Sin sitio en el disco para dos versiones: esta deja el suyo a la otra.\n",
                            ": Guardado sin errores de nuevo.\n"})
    EXPECT_NE(cliente.salida.find(linea), std::string::npos) << cliente.salida;
  umount2(recibe.c_str(), MNT_DETACH);
  BorrarDirectorio(recibe);
}

}  // namespace
