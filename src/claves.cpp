#include "claves.h"

#include <dirent.h>
#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

// A key file is one line; anything longer is no key of ours.
static constexpr std::size_t kMaxTextoClave = 256;

// Each file says what it holds, so that a secret key given where a public one goes is refused.
static constexpr std::string_view kEtiquetaPublica = "ed25519-publica ";
static constexpr std::string_view kEtiquetaSecreta = "ed25519-secreta ";

static std::string Texto(std::string_view etiqueta, const unsigned char *bytes, std::size_t largo) {
  char texto[kMaxTextoClave];
  sodium_bin2base64(texto, sizeof texto, bytes, largo, sodium_base64_VARIANT_ORIGINAL);
  return std::string(etiqueta) + texto + "\n";
}

// Created anew, never over an existing file, with exactly that mode whatever the umask.
static bool Escribir(const std::string &ruta, const std::string &texto, mode_t modo,
                     std::string &problema) {
  int fd = open(ruta.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, modo);
  bool hecho = fd >= 0 && fchmod(fd, modo) == 0 &&
               write(fd, texto.data(), texto.size()) == static_cast<ssize_t>(texto.size()) &&
               fsync(fd) == 0;
  int error = errno;
  if (fd >= 0) close(fd);
  if (hecho) return true;
  problema = error == EEXIST ? "Ya existe " + ruta + ": no se escribe encima"
                             : "No se puede escribir " + ruta + ": " + strerror(error);
  if (fd >= 0) unlink(ruta.c_str());
  return false;
}

bool GenerarClaves(const std::string &base, std::string &problema) {
  PrepararLateral();
  unsigned char publica[kTamClavePublica];
  ClaveSecreta secreta;
  crypto_sign_keypair(publica, secreta.data());
  std::string privada = base + ".clave";
  bool hecho =
      Escribir(privada, Texto(kEtiquetaSecreta, secreta.data(), kTamSemilla), 0600, problema) &&
      (Escribir(base + ".pub", Texto(kEtiquetaPublica, publica, sizeof publica), 0644, problema) ||
       (unlink(privada.c_str()), false));
  sodium_memzero(secreta.data(), secreta.size());
  return hecho;
}

// The bytes of a key file that holds its label and exactly cuantos bytes in base64.
static bool LeerBytes(const char *ruta, std::string_view etiqueta, unsigned char *bytes,
                      std::size_t cuantos, std::string &problema) {
  char texto[kMaxTextoClave + 1];
  int fd = open(ruta, O_RDONLY | O_CLOEXEC);
  ssize_t leidos = fd >= 0 ? read(fd, texto, sizeof texto) : -1;
  int error = errno;
  if (fd >= 0) close(fd);
  if (leidos < 0) {
    problema = std::string("No se puede leer la clave ") + ruta + ": " + strerror(error);
    return false;
  }
  std::string_view leido(texto, static_cast<std::size_t>(leidos));
  std::size_t largo = 0;
  if (leido.size() > kMaxTextoClave || !leido.starts_with(etiqueta) ||
      sodium_base642bin(bytes, cuantos, leido.data() + etiqueta.size(),
                        leido.size() - etiqueta.size(), "\n", &largo, nullptr,
                        sodium_base64_VARIANT_ORIGINAL) != 0 ||
      largo != cuantos) {
    problema = std::string("Clave no valida: ") + ruta;
    return false;
  }
  return true;
}

bool LeerClaveSecreta(const char *ruta, ClaveSecreta &secreta, std::string &problema) {
  PrepararLateral();
  unsigned char semilla[kTamSemilla], publica[kTamClavePublica];
  if (!LeerBytes(ruta, kEtiquetaSecreta, semilla, sizeof semilla, problema)) return false;
  crypto_sign_seed_keypair(publica, secreta.data(), semilla);
  sodium_memzero(semilla, sizeof semilla);
  return true;
}

// The files of the directory whose names end in ".pub", in the order of their names.
static bool ListarPublicas(const char *directorio, std::vector<std::string> &rutas) {
  DIR *dir = opendir(directorio);
  if (dir == nullptr) return false;
  for (dirent *e = readdir(dir); e != nullptr; e = readdir(dir)) {
    std::string nombre = e->d_name;
    if (nombre.size() > 4 && nombre.ends_with(".pub"))
      rutas.push_back(std::string(directorio) + "/" + nombre);
  }
  closedir(dir);
  std::sort(rutas.begin(), rutas.end());
  return true;
}

bool LeerClavesPublicas(const char *ruta, std::vector<ClavePublica> &claves,
                        std::string &problema) {
  PrepararLateral();
  struct stat datos;
  std::vector<std::string> rutas;
  if (stat(ruta, &datos) == 0 && S_ISDIR(datos.st_mode)) {
    if (!ListarPublicas(ruta, rutas) || rutas.empty()) {
      problema = std::string("Ninguna clave publica (.pub) en ") + ruta;
      return false;
    }
  } else {
    rutas.push_back(ruta);
  }
  for (const std::string &una : rutas) {
    ClavePublica clave;
    if (!LeerBytes(una.c_str(), kEtiquetaPublica, clave.data(), clave.size(), problema))
      return false;
    claves.push_back(clave);
  }
  return true;
}
