// The backup's folders and files on POSIX: mkdir, open with O_EXCL,
// renameat2.
#include "store/sistema.hpp"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace store::sistema {

std::string dentroDe(const std::string& carpeta, const char* nombre) {
  if (carpeta.empty() || carpeta.back() == '/') return carpeta + nombre;
  return carpeta + "/" + nombre;
}

int comprobarCarpeta(const std::string& carpeta) {
  struct stat datos {};
  if (::stat(carpeta.c_str(), &datos) != 0) return errno;
  return S_ISDIR(datos.st_mode) ? 0 : ENOTDIR;
}

int crearCarpeta(const std::string& nombre) {
  return ::mkdir(nombre.c_str(), 0777) == 0 ? 0 : errno;
}

int crearArchivo(const std::string& nombre, Descriptor& descriptor) {
  descriptor =
      Descriptor(::open(nombre.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666));
  return descriptor.abierto() ? 0 : errno;
}

// The file's pages are clean once flushed, so the system may drop them and
// read the copy from the device again; a hint that some systems ignore.
int abrirParaComprobar(const std::string& nombre, Descriptor& descriptor) {
  descriptor = Descriptor(::open(nombre.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (!descriptor.abierto()) return errno;
#ifdef POSIX_FADV_DONTNEED
  (void)::posix_fadvise(static_cast<int>(descriptor.numero()), 0, 0, POSIX_FADV_DONTNEED);
#endif
  return 0;
}

// rename(2) alone would put a folder in the place of an empty one. Where the
// file system cannot rename without replacing, a name already there is
// refused first, and rename(2) refuses one with anything in it: at worst an
// empty folder made in between is replaced, and nothing is lost with it.
int renombrarCarpeta(const std::string& origen, const std::string& destino) {
#ifdef RENAME_NOREPLACE
  if (::renameat2(AT_FDCWD, origen.c_str(), AT_FDCWD, destino.c_str(), RENAME_NOREPLACE) == 0) {
    return 0;
  }
  if (errno != EINVAL && errno != ENOSYS) return errno;
#endif
  struct stat datos {};
  if (::lstat(destino.c_str(), &datos) == 0) return EEXIST;
  if (errno != ENOENT) return errno;
  return ::rename(origen.c_str(), destino.c_str()) == 0 ? 0 : errno;
}

bool yaEsta(int numeroError) noexcept {
  return numeroError == EEXIST || numeroError == ENOTEMPTY;
}

void borrarArchivo(const std::string& nombre) noexcept {
  (void)::unlink(nombre.c_str());
}

void borrarCarpeta(const std::string& nombre) noexcept {
  (void)::rmdir(nombre.c_str());
}

}  // namespace store::sistema
