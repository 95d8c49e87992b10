// libFuzzer target over the per-datagram pass: each input goes through ProcesarLote in its own
// batches and one datagram per batch, each in a private directory; both must print and store alike.
#include <arpa/inet.h>
#include <dirent.h>
#include <sanitizer/common_interface_defs.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "almacen.h"
#include "entrada.h"
#include "guardar.h"
#include "paso.h"

// Input layout: the first byte picks the mode (byte % 3) and the store's options (its higher
// bits); then datagrams, each after two big-endian bytes: the top bit marks it truncated, the
// next one ends the batch after it, the next one merges it into the message before it as the
// kernel merges a run (when the run allows it), the next one says it comes from a second sender,
// and the other 12 bits give its length.
static constexpr unsigned kBitTruncado = 0x8000;
static constexpr unsigned kBitFinDeLote = 0x4000;
static constexpr unsigned kBitFundir = 0x2000;
static constexpr unsigned kBitOtroEmisor = 0x1000;
static constexpr unsigned kMascaraLargo = 0x0fff;

// One directory per way of running: in the input's batches, then one datagram per batch.
static char g_directorios[2][sizeof "/tmp/fuzz_paquete.XXXXXX"] = {"/tmp/fuzz_paquete.XXXXXX",
                                                                   "/tmp/fuzz_paquete.XXXXXX"};
static FILE *g_salida = nullptr;  // the standard output of the run under way
// The receiver's batch buffers, filled from the input as a receive would fill them.
static Receptor g_receptor;

static void Fallar(const char *motivo, const char *detalle) {
  fprintf(stderr, "fuzz_paquete: %s: %s\n", motivo, detalle);
  abort();
}

static bool EsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

// A stored name is an identity "xxxx-xxxx-<name>", maybe followed by ".tmp", or a record: a dot,
// an identity and ".partes". The name part cannot hold '/' in a directory entry, so the prefix
// is all there is to check.
static bool NombreValido(const char *nombre) {
  // a record is hidden, and so is all that a version told apart by its sender keeps
  for (int punto = 0; punto < 2 && nombre[0] == '.'; ++punto) ++nombre;
  if (strlen(nombre) < 10 || nombre[4] != '-' || nombre[9] != '-') return false;
  for (int i : {0, 1, 2, 3, 5, 6, 7, 8})
    if (!EsHex(nombre[i])) return false;
  return true;
}

static std::vector<std::string> ListarDirectorio() {
  std::vector<std::string> nombres;
  DIR *dir = opendir(".");
  if (dir == nullptr) Fallar("opendir", strerror(errno));
  while (dirent *entrada = readdir(dir)) {
    if (strcmp(entrada->d_name, ".") == 0 || strcmp(entrada->d_name, "..") == 0) continue;
    nombres.emplace_back(entrada->d_name);
  }
  closedir(dir);
  std::sort(nombres.begin(), nombres.end());
  return nombres;
}

// What one way of running left behind, besides its files.
struct Resultado {
  std::string salida;   // what the pass printed
  std::string errores;  // what reached standard error
  std::string listado;  // the names of the files left, one a line, in order
};

// The whole of a stream, which is closed.
static std::string LeerYCerrar(FILE *flujo) {
  struct stat info;
  if (fstat(fileno(flujo), &info) != 0) Fallar("fstat", strerror(errno));
  std::string texto(static_cast<size_t>(info.st_size), '\0');
  rewind(flujo);
  texto.resize(fread(texto.data(), 1, texto.size(), flujo));
  fclose(flujo);
  return texto;
}

// The bytes of a file left by one way. A record may tie itself to its own temporary file on a
// line that begins "temporal ", which differs between directories: that line is left out.
static std::string Contenido(bool uno_a_uno, const std::string &nombre) {
  FILE *fichero = fopen((g_directorios[uno_a_uno] + ("/" + nombre)).c_str(), "rb");
  if (fichero == nullptr) Fallar("fopen", nombre.c_str());
  std::string bytes = LeerYCerrar(fichero), resto, linea;
  if (nombre[0] != '.') return bytes;
  for (std::istringstream lineas(bytes); std::getline(lineas, linea);)
    if (!linea.starts_with("temporal ") && !linea.starts_with("progreso ")) resto += linea + "\n";
  return resto;
}

// Anything but plain files with identity names means the store wrote where it must not.
static std::string Revisar(const char *directorio) {
  char actual[PATH_MAX];
  if (getcwd(actual, sizeof actual) == nullptr || strcmp(actual, directorio) != 0)
    Fallar("directorio de trabajo cambiado", actual);
  std::string listado;
  for (const std::string &nombre : ListarDirectorio()) {
    struct stat info;
    if (lstat(nombre.c_str(), &info) != 0) Fallar("lstat", nombre.c_str());
    if (!S_ISREG(info.st_mode)) Fallar("entrada que no es un fichero", nombre.c_str());
    if (!NombreValido(nombre.c_str())) Fallar("nombre no valido", nombre.c_str());
    listado += nombre + "\n";
  }
  return listado;
}

static void Limpiar() {
  for (const char *directorio : g_directorios) {
    if (chdir(directorio) == 0)
      for (const std::string &nombre : ListarDirectorio()) unlink(nombre.c_str());
    if (chdir("/") == 0) rmdir(directorio);
  }
}

// Such a datagram asks the run to end on purpose; it is left out so the run goes on.
static bool TerminariaProceso(const uint8_t *datagrama, size_t largo) {
  if (largo < static_cast<size_t>(TamCabecera)) return false;
  DatagramaActual cabecera;
  DecodificarCabecera(datagrama, largo, cabecera);
  return cabecera.totpartes > MAX_TROZOS;
}

static int g_mensajes = 0;  // messages in the batch being filled

// A run merged by the kernel: datagrams of one size, the last one maybe shorter, within a
// message. Returns whether the datagram joined the last message of the batch.
static bool Fundir(const uint8_t *datagrama, size_t largo, const sockaddr_storage &emisor) {
  if (g_mensajes == 0 || largo == 0) return false;
  if (memcmp(&g_receptor.origenes[g_mensajes - 1], &emisor, sizeof emisor) != 0) return false;
  int i = g_mensajes - 1;
  size_t hecho = g_receptor.mensajes[i].msg_len;
  size_t segmento = g_receptor.segmento[i] > 0 ? g_receptor.segmento[i] : hecho;
  if (segmento == 0 || segmento > static_cast<size_t>(kTamMaxPaquete) || hecho % segmento != 0 ||
      largo > segmento || hecho + largo > static_cast<size_t>(kTamMensaje))
    return false;
  memcpy(g_receptor.mensajes_datos[i] + hecho, datagrama, largo);
  g_receptor.mensajes[i].msg_len = static_cast<unsigned>(hecho + largo);
  g_receptor.segmento[i] = static_cast<int>(segmento);
  return true;
}

// Adds the datagram to the batch as a receive would; returns whether the batch is full.
static bool AnadirAlLote(const uint8_t *datagrama, size_t largo, bool fundir, bool otro_emisor) {
  sockaddr_storage emisor{};
  auto &ipv4 = reinterpret_cast<sockaddr_in &>(emisor);
  ipv4.sin_family = AF_INET;
  ipv4.sin_port = htons(9000);
  ipv4.sin_addr.s_addr = htonl(otro_emisor ? 0x7f000002u : 0x7f000001u);
  if (fundir && largo <= static_cast<size_t>(kTamMaxPaquete) && Fundir(datagrama, largo, emisor))
    return false;
  int i = g_mensajes++;
  g_receptor.origenes[i] = emisor;
  memcpy(g_receptor.mensajes_datos[i], datagrama, largo);
  g_receptor.mensajes[i].msg_len = static_cast<unsigned>(largo);
  g_receptor.segmento[i] = 0;
  return g_mensajes == kTamLote;
}

static void PasarLote(Bucle &estado, DatagramaActual &actual, AlmacenFicheros &almacen) {
  SepararDatagramas(g_receptor, g_mensajes);
  ProcesarLote(g_receptor, estado, actual, almacen, g_salida);
  g_mensajes = 0;
}

static std::string Absoluta(const std::string &origen, const std::string &ruta) {
  return !ruta.empty() && ruta[0] == '/' ? ruta : origen + "/" + ruta;
}

// A flag whose value is a path, in the form -nombre=valor.
static bool EsOpcionDeRuta(const std::string &argumento, std::size_t &valor) {
  for (const char *opcion : {"-artifact_prefix=", "-exact_artifact_path=", "-dict="}) {
    if (argumento.rfind(opcion, 0) == 0) {
      valor = strlen(opcion);
      return true;
    }
  }
  return false;
}

// The arguments are read after this hook and the target changes directory: inputs, corpus and
// artifacts given relative to where the run started must still land there.
static void FijarRutas(int *argc, char ***argv) {
  static std::vector<std::string> textos;
  static std::vector<char *> punteros;
  char origen[PATH_MAX];
  if (getcwd(origen, sizeof origen) == nullptr) Fallar("getcwd", strerror(errno));
  bool con_prefijo = false;
  textos.emplace_back((*argv)[0]);
  for (int i = 1; i < *argc; ++i) {
    std::string argumento = (*argv)[i];
    std::size_t valor = 0;
    if (argumento[0] != '-') {
      argumento = Absoluta(origen, argumento);
    } else if (EsOpcionDeRuta(argumento, valor)) {
      con_prefijo |= argumento.rfind("-artifact_prefix=", 0) == 0;
      argumento = argumento.substr(0, valor) + Absoluta(origen, argumento.substr(valor));
    }
    textos.push_back(argumento);
  }
  if (!con_prefijo) textos.push_back(std::string("-artifact_prefix=") + origen + "/");
  for (std::string &texto : textos) punteros.push_back(texto.data());
  punteros.push_back(nullptr);
  *argc = static_cast<int>(textos.size());
  *argv = punteros.data();
}

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  FijarRutas(argc, argv);
  if (mkdtemp(g_directorios[0]) == nullptr || mkdtemp(g_directorios[1]) == nullptr)
    Fallar("mkdtemp", strerror(errno));
  // standard error is caught during each run: a sanitizer's report must still be seen
  __sanitizer_set_report_fd(reinterpret_cast<void *>(static_cast<intptr_t>(dup(2))));
  atexit(Limpiar);
  return 0;
}

static OpcionesAlmacen OpcionesDe(uint8_t byte) {
  OpcionesAlmacen opciones;
  opciones.maximo = 1 + ((byte >> 2) & 3) * 3;
  opciones.silencioso = (byte & 0x10) != 0;
  opciones.reanudar = (byte & 0x20) != 0;
  opciones.actualizar = (byte & 0x40) != 0;
  opciones.por_emisor = (byte & 0x80) != 0;
  return opciones;
}

// One run of the receiver over the input's datagrams, ended in order.
static void Recorrer(const uint8_t *datos, size_t tam, bool uno_a_uno) {
  Bucle estado;
  estado.modo = datos[0] % 3;
  DatagramaActual actual;
  AlmacenFicheros almacen;
  almacen.opciones = OpcionesDe(datos[0]);
  // cleared per run, so that a crash reproduces from its input alone
  memset(g_receptor.paquete, 0, sizeof g_receptor.paquete);
  g_mensajes = 0;
  size_t pos = 1;
  while (pos + 2 <= tam) {
    unsigned cabeza = (static_cast<unsigned>(datos[pos]) << 8) | datos[pos + 1];
    pos += 2;
    size_t largo = std::min({static_cast<size_t>(cabeza & kMascaraLargo),
                             static_cast<size_t>(kTamMaxPaquete), tam - pos});
    // a datagram cut by the receive was longer than the limit: zeros make it so
    uint8_t datagrama[kTamMaxPaquete + 1] = {};
    memcpy(datagrama, datos + pos, largo);
    size_t recibido = (cabeza & kBitTruncado) != 0 ? sizeof datagrama : largo;
    // such a datagram ends the receiver on purpose; left out, the run goes on
    bool entra =
        !TerminariaProceso(datagrama, std::min(recibido, static_cast<size_t>(kTamMaxPaquete)));
    // one datagram per batch is one per message too
    bool lleno =
        entra && AnadirAlLote(datagrama, recibido, !uno_a_uno && (cabeza & kBitFundir) != 0,
                              (cabeza & kBitOtroEmisor) != 0);
    if (uno_a_uno ? entra : lleno || (cabeza & kBitFinDeLote) != 0)
      PasarLote(estado, actual, almacen);
    pos += largo;
  }
  PasarLote(estado, actual, almacen);
  GuardarFicherosEnCurso(almacen, g_salida);
  for (FicheroEnCurso &f : almacen.en_curso)
    if (f.pf1 >= 0) close(f.pf1);
}

// The input run one way in its own directory; the store writes disk failures straight to
// standard error, so the descriptor itself is caught.
static Resultado Ejecutar(const uint8_t *datos, size_t tam, bool uno_a_uno) {
  FILE *errores = tmpfile();
  g_salida = tmpfile();
  int stderr_real = dup(2);
  fflush(stderr);
  if (chdir(g_directorios[uno_a_uno]) != 0 || errores == nullptr || g_salida == nullptr ||
      stderr_real < 0 || dup2(fileno(errores), 2) < 0)
    Fallar("preparar la ejecucion", strerror(errno));
  Recorrer(datos, tam, uno_a_uno);
  // a second run resumes what the first left
  if (OpcionesDe(datos[0]).reanudar) Recorrer(datos, tam, uno_a_uno);
  fflush(stderr);
  dup2(stderr_real, 2);
  close(stderr_real);
  return {LeerYCerrar(g_salida), LeerYCerrar(errores), Revisar(g_directorios[uno_a_uno])};
}

// Ends the run when the two ways differ.
static void Comparar(const std::string &que, const std::string &lotes, const std::string &uno) {
  if (lotes != uno) Fallar((que + " distinto en lotes y uno a uno").c_str(), lotes.c_str());
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *datos, size_t tam) {
  if (tam == 0) return 0;
  Resultado lotes = Ejecutar(datos, tam, false), uno = Ejecutar(datos, tam, true);
  Comparar("salida", lotes.salida, uno.salida);
  Comparar("error", lotes.errores, uno.errores);
  Comparar("listado", lotes.listado, uno.listado);
  // a pair at a time: a part far into a file makes it large
  for (const std::string &nombre : ListarDirectorio()) {
    Comparar("fichero " + nombre, Contenido(false, nombre), Contenido(true, nombre));
    // left for the next input, the files would change what it does and fill the disk
    for (const char *directorio : g_directorios) unlink((directorio + ("/" + nombre)).c_str());
  }
  return 0;
}
