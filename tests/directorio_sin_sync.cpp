// Loaded before the receiver (LD_PRELOAD) by tests: while the file that
// RECEPTOR_PRUEBA_SIN_SYNC names exists, a sync of a directory fails with EIO, as on a disk
// that fails its write-back. Any other sync is the system's own.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern "C" int fsync(int fd) {
  using Fsync = int (*)(int);
  static Fsync original = reinterpret_cast<Fsync>(dlsym(RTLD_NEXT, "fsync"));
  const char *senal = getenv("RECEPTOR_PRUEBA_SIN_SYNC");
  struct stat datos;
  if (senal != nullptr && access(senal, F_OK) == 0 && fstat(fd, &datos) == 0 &&
      S_ISDIR(datos.st_mode)) {
    errno = EIO;
    return -1;
  }
  return original(fd);
}
