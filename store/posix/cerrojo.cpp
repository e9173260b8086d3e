// The lock on POSIX systems: fcntl byte-range locks. Open-file-description
// locks (F_OFD_SETLK) belong to the open file, so two opens in one process
// exclude each other as two processes do; where the kernel lacks them, the
// classic per-process locks (F_SETLK) do the same job here, since the
// program holds one lock at a time and never closes another descriptor of a
// file it holds locked.
#include "store/sistema.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>

namespace store::sistema {

namespace {

static_assert(sizeof(off_t) >= sizeof kByteDelCerrojo, "the lock's byte needs 64-bit offsets");

#ifdef F_OFD_SETLK
// Cleared for good when the kernel turns the open-file-description form down.
std::atomic<bool> porDescripcion{true};
#endif

int pedir(Manejador manejador, short tipo) noexcept {
  const int descriptor = static_cast<int>(manejador);
  struct flock cerrojo {};
  cerrojo.l_type = tipo;
  cerrojo.l_whence = SEEK_SET;
  cerrojo.l_start = static_cast<off_t>(kByteDelCerrojo);
  cerrojo.l_len = 1;
#ifdef F_OFD_SETLK
  if (porDescripcion.load(std::memory_order_relaxed)) {
    const int hecho = ::fcntl(descriptor, F_OFD_SETLK, &cerrojo);
    if (hecho == 0 || errno != EINVAL) return hecho;
    porDescripcion.store(false, std::memory_order_relaxed);
  }
#endif
  return ::fcntl(descriptor, F_SETLK, &cerrojo);
}

}  // namespace

Intento intentarBloquear(Manejador descriptor, Modo modo) noexcept {
  if (pedir(descriptor, modo == Modo::compartido ? F_RDLCK : F_WRLCK) == 0) return Intento::tomado;
  // Classic locks may say EACCES for a lock held elsewhere.
  if (errno == EAGAIN || errno == EACCES) return Intento::ocupado;
  return Intento::fallido;
}

bool desbloquear(Manejador descriptor) noexcept {
  return pedir(descriptor, F_UNLCK) == 0;
}

Destino adondeLleva(const char* nombre, Manejador descriptor) noexcept {
  struct stat abierto {};
  struct stat nombrado {};
  if (::fstat(static_cast<int>(descriptor), &abierto) != 0) return Destino::fallido;
  if (::stat(nombre, &nombrado) != 0) return errno == ENOENT ? Destino::ninguno : Destino::fallido;
  return nombrado.st_dev == abierto.st_dev && nombrado.st_ino == abierto.st_ino
             ? Destino::esteArchivo
             : Destino::otroArchivo;
}

}  // namespace store::sistema
