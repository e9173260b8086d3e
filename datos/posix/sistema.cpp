// alumnos-datos on POSIX: write(2) on descriptors 1 and 2, errno's words.
#include "datos/sistema.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>

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

}  // namespace

int escribirSalida(std::string_view bytes) noexcept {
  return escribirTodo(STDOUT_FILENO, bytes);
}

int escribirErrores(std::string_view bytes) noexcept {
  return escribirTodo(STDERR_FILENO, bytes);
}

// The store says EISDIR for a directory and EINVAL for anything else that is
// not a regular file.
std::string motivo(int numeroError, const char*) {
  switch (numeroError) {
    case EACCES:
    case EPERM:
      return "sin permiso";
    case EISDIR:
      return "es un directorio";
    case EINVAL:
      return "no es un archivo comun";
    case EIO:
      return "error de entrada/salida";
    case ENOSPC:
      return "no queda espacio en el disco";
    case ENOMEM:
      return "no hay memoria";
    default:
      return std::strerror(numeroError);
  }
}

}  // namespace datos::sistema
