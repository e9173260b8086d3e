// alumnos-datos on POSIX: read(2) and write(2) on descriptors, errno's words,
// and the backup's folders: mkdir, open with O_EXCL, renameat2.
#include "datos/sistema.hpp"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <stdexcept>

namespace datos::sistema {
namespace {

int escribirTodo(int descriptor, std::string_view bytes) noexcept {
  while (!bytes.empty()) {
    const ssize_t escritos = ::write(descriptor, bytes.data(), bytes.size());
    if (escritos < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (escritos == 0) return EIO;  // no progress and no reason given: never loop on it
    bytes.remove_prefix(static_cast<std::size_t>(escritos));
  }
  return 0;
}

// What is left to read on `descriptor`, after `bytes`; 0 or errno. Memory
// that runs out throws.
int leerDesde(int descriptor, std::string& bytes) {
  struct stat datos {};
  if (::fstat(descriptor, &datos) != 0) return errno;
  if (S_ISDIR(datos.st_mode)) return EISDIR;
  if (S_ISREG(datos.st_mode)) bytes.reserve(static_cast<std::size_t>(datos.st_size));
  char trozo[64 * 1024];
  for (;;) {
    const ssize_t leidos = ::read(descriptor, trozo, sizeof trozo);
    if (leidos > 0) {
      bytes.append(trozo, static_cast<std::size_t>(leidos));
    } else if (leidos == 0) {
      return 0;
    } else if (errno != EINTR) {
      return errno;
    }
  }
}

}  // namespace

int leerTodo(const char* nombre, std::string& bytes) {
  const int descriptor =
      nombre == nullptr ? STDIN_FILENO : ::open(nombre, O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (descriptor < 0) return errno;
  int error = 0;
  try {
    error = leerDesde(descriptor, bytes);
  } catch (const std::bad_alloc&) {
    error = ENOMEM;
  } catch (const std::length_error&) {
    error = ENOMEM;
  }
  if (descriptor != STDIN_FILENO) ::close(descriptor);
  return error;
}

int escribirSalida(std::string_view bytes) noexcept {
  return escribirTodo(STDOUT_FILENO, bytes);
}

int escribirErrores(std::string_view bytes) noexcept {
  return escribirTodo(STDERR_FILENO, bytes);
}

// The store says EISDIR for a directory and EINVAL for anything else that is
// not a regular file.
Causa causaDe(int numeroError, const char*) {
  switch (numeroError) {
    case ENOENT:
      return Causa::noExiste;
    case EACCES:
    case EPERM:
      return Causa::sinPermiso;
    case EISDIR:
      return Causa::esDirectorio;
    case EINVAL:
      return Causa::noEsArchivoComun;
    case EIO:
      return Causa::entradaSalida;
    case ENOSPC:
      return Causa::discoLleno;
    case EDQUOT:
      return Causa::cuotaLlena;
    case ENOMEM:
      return Causa::sinMemoria;
    case EPIPE:
      return Causa::tuberiaCerrada;
    case EBADF:
      return Causa::noAbierta;
    case EROFS:
      return Causa::soloLectura;
    case ENOTDIR:
      return Causa::noEsCarpeta;
    case ENAMETOOLONG:
      return Causa::nombreLargo;
    case ELOOP:
      return Causa::demasiadosEnlaces;
    case EMFILE:
    case ENFILE:
      return Causa::demasiadosAbiertos;
    case EFBIG:
    case EOVERFLOW:
      return Causa::demasiadoGrande;
    case EBUSY:
    case ETXTBSY:
      return Causa::enUsoPorOtroPrograma;
    case EEXIST:
      return Causa::yaExiste;
    case EXDEV:
      return Causa::otroDisco;
    case ENXIO:
    case ENODEV:
      return Causa::sinDispositivo;
    case ESTALE:
    case ENOTCONN:
    case ETIMEDOUT:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ENETDOWN:
    case ENETUNREACH:
    case ECONNRESET:
    case ECONNABORTED:
      return Causa::redPerdida;
    case EINTR:
      return Causa::interrumpido;
    case ENOTEMPTY:
      return Causa::carpetaNoVacia;
    case EOPNOTSUPP:
    case ENOSYS:
      return Causa::noPermitido;
    case ENOLCK:
      return Causa::sinCerrojos;
    default:
      return Causa::otra;
  }
}

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

int crearArchivo(const std::string& nombre, store::detalle::Descriptor& descriptor) {
  descriptor = store::detalle::Descriptor(
      ::open(nombre.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666));
  return descriptor.abierto() ? 0 : errno;
}

// The file's pages are clean once flushed, so the system may drop them and
// read the copy from the device again; a hint that some systems ignore.
int abrirParaComprobar(const std::string& nombre, store::detalle::Descriptor& descriptor) {
  descriptor = store::detalle::Descriptor(::open(nombre.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
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
int renombrarSinPisar(const std::string& origen, const std::string& destino) {
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

}  // namespace datos::sistema
