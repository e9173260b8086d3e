// The files' system calls on POSIX: descriptors, pread / pwrite, fsync,
// ftruncate, rename, fsync of the directory whose names changed, and the
// standard streams read and written as bytes.
#include "store/sistema.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <stdexcept>
#include <string_view>

namespace store::sistema {
namespace {

int fd(Manejador manejador) {
  return static_cast<int>(manejador);
}

// Makes the latest change to a directory's names durable. File systems that
// cannot sync a directory say EINVAL; there is nothing more to do on them.
Resultado sincronizarDirectorio(const char* nombre) {
  Descriptor directorio(::open(nombre, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!directorio.abierto()) return falla(Falla::sincronizarDirectorio, errno);
  if (::fsync(fd(directorio.numero())) != 0 && errno != EINVAL) {
    return falla(Falla::sincronizarDirectorio, errno);
  }
  return {};
}

std::string directorioDe(const std::string& archivo) {
  const std::size_t barra = archivo.rfind('/');
  if (barra == std::string::npos) return ".";
  return barra == 0 ? "/" : archivo.substr(0, barra);
}

// O_NONBLOCK keeps a FIFO or a terminal in the file's place from blocking the
// open; such a file is refused right after, and regular files ignore the flag.
constexpr int kBanderasComunes = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

Resultado comprobarRegular(const Descriptor& descriptor) {
  struct stat datos {};
  if (::fstat(fd(descriptor.numero()), &datos) != 0) return falla(Falla::noSeAbre, errno);
  if (S_ISDIR(datos.st_mode)) return falla(Falla::noSeAbre, EISDIR);
  if (!S_ISREG(datos.st_mode)) return falla(Falla::noSeAbre, EINVAL);
  return {};
}

}  // namespace

void reservarEstandar() noexcept {
  for (const int numero : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (::fcntl(numero, F_GETFD) != -1 || errno != EBADF) continue;
    // open gives the lowest free number, which is this one: the lower ones are
    // open by now. Opened the wrong way round, it fails as before (EBADF).
    const int nulo = ::open("/dev/null", numero == STDIN_FILENO ? O_WRONLY : O_RDONLY);
    if (nulo != numero && nulo >= 0) ::close(nulo);
  }
}

int ultimoError() noexcept {
  return errno;
}

Resultado abrir(const char* nombre, Apertura apertura, Descriptor& descriptor) {
  descriptor.cerrar();
  if (apertura != Apertura::crear) {
    const int modo = apertura == Apertura::leer ? O_RDONLY : O_RDWR;
    Descriptor nuevo(::open(nombre, modo | kBanderasComunes));
    if (!nuevo.abierto()) {
      return falla(errno == ENOENT ? Falla::noExiste : Falla::noSeAbre, errno);
    }
    if (Resultado r = comprobarRegular(nuevo); !r) return r;
    descriptor = std::move(nuevo);
    return {};
  }

  // Open an existing file as it is; create one only when there is none, and
  // know that we did, so that only a name we made is flushed. Another process
  // creating the file in between sends us round again.
  for (int intento = 0; intento < 3; ++intento) {
    Descriptor nuevo(::open(nombre, O_RDWR | kBanderasComunes));
    if (nuevo.abierto()) {
      if (Resultado r = comprobarRegular(nuevo); !r) return r;
      descriptor = std::move(nuevo);
      return {};
    }
    if (errno != ENOENT) return falla(Falla::noSeAbre, errno);

    nuevo = Descriptor(::open(nombre, O_RDWR | O_CREAT | O_EXCL | kBanderasComunes, 0666));
    if (!nuevo.abierto()) {
      if (errno == EEXIST) continue;
      return falla(Falla::noSeAbre, errno);
    }
    // The name stays even so: another copy may have opened the file the
    // moment it appeared and stored a record in it, which removing the name
    // would take away.
    if (Resultado r = sincronizarDirectorio("."); !r) return falla(Falla::noSeAbre, r.numeroError);
    descriptor = std::move(nuevo);
    return {};
  }
  return falla(Falla::noSeAbre, EEXIST);
}

void cerrar(Manejador manejador) noexcept {
  ::close(fd(manejador));
}

bool cerrarComprobando(Descriptor& descriptor) noexcept {
  return ::close(fd(descriptor.soltar())) == 0;
}

bool tamano(Manejador manejador, std::int64_t& bytes) noexcept {
  struct stat datos {};
  if (::fstat(fd(manejador), &datos) != 0) return false;
  bytes = datos.st_size;
  return true;
}

bool identidad(Manejador manejador, Identidad& identidad) noexcept {
  struct stat datos {};
  if (::fstat(fd(manejador), &datos) != 0) return false;
  identidad = {static_cast<std::uint64_t>(datos.st_dev), static_cast<std::uint64_t>(datos.st_ino)};
  return true;
}

bool leerEn(Manejador manejador, unsigned char* bytes, std::size_t cantidad,
            std::int64_t desplazamiento, std::size_t& leidos) noexcept {
  ssize_t hecho;
  do {
    hecho = ::pread(fd(manejador), bytes, cantidad, static_cast<off_t>(desplazamiento));
  } while (hecho < 0 && errno == EINTR);
  if (hecho < 0) return false;
  leidos = static_cast<std::size_t>(hecho);
  return true;
}

bool escribirTodo(Manejador manejador, const unsigned char* bytes, std::size_t cantidad,
                  std::int64_t desplazamiento, std::size_t& escritos) noexcept {
  escritos = 0;
  while (escritos < cantidad) {
    const ssize_t hecho =
        desplazamiento == kEnCurso
            ? ::write(fd(manejador), bytes + escritos, cantidad - escritos)
            : ::pwrite(fd(manejador), bytes + escritos, cantidad - escritos,
                       static_cast<off_t>(desplazamiento + static_cast<std::int64_t>(escritos)));
    if (hecho < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (hecho == 0) {  // no progress and no reason given: never loop on it
      errno = EIO;
      return false;
    }
    escritos += static_cast<std::size_t>(hecho);
  }
  return true;
}

bool sincronizar(Manejador manejador) noexcept {
  return ::fsync(fd(manejador)) == 0;
}

bool recortar(Manejador manejador, std::int64_t bytes) noexcept {
  return ::ftruncate(fd(manejador), static_cast<off_t>(bytes)) == 0;
}

void empezarAGrabar([[maybe_unused]] Manejador manejador, [[maybe_unused]] std::int64_t desde,
                    [[maybe_unused]] std::int64_t hasta) noexcept {
#ifdef SYNC_FILE_RANGE_WRITE
  // Only a hint: the fsync at the end is what makes the file safe.
  (void)::sync_file_range(fd(manejador), desde, hasta - desde, SYNC_FILE_RANGE_WRITE);
#endif
}

// A stale scratch file is removed, not reused: writing through whatever it
// is (a link to another file, a hard link) could damage another file.
Resultado crearTemporal(const char* nombre, Manejador origen, Descriptor& temporal) {
  struct stat datos {};
  if (::fstat(fd(origen), &datos) != 0) return falla(Falla::noSeAbre, errno);
  const mode_t permisos = datos.st_mode & 07777;
  if (::unlink(nombre) != 0 && errno != ENOENT) return falla(Falla::noSeCrea, errno);
  temporal =
      Descriptor(::open(nombre, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, permisos));
  if (!temporal.abierto()) return falla(Falla::noSeCrea, errno);
  // The new file keeps the old one's permissions, whatever the umask.
  if (::fchmod(fd(temporal.numero()), permisos) != 0) return falla(Falla::noSeCrea, errno);
  return {};
}

void descartar(const char* nombre, Descriptor& temporal) noexcept {
  temporal.cerrar();
  (void)::unlink(nombre);
}

// A student file kept elsewhere through a symbolic link is replaced there,
// and the link stays; on another file system the rename then fails and
// nothing changes.
std::string archivoReal(const char* nombre) {
  struct stat datos {};
  if (::lstat(nombre, &datos) != 0 || !S_ISLNK(datos.st_mode)) return nombre;
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(nombre, nullptr), &std::free);
  return real ? std::string(real.get()) : std::string(nombre);
}

// rename is atomic: there is no moment without a file by that name. The
// file replaced may stay open, and locked, until the new one is in place, so
// no other copy ever needs to be told that a replacement is under way.
Resultado reemplazar(const char* origen, const std::string& destino, Descriptor&,
                     Descriptor& nuevo) {
  // Some file systems report a failed write only at close.
  if (!cerrarComprobando(nuevo)) return falla(Falla::escritura, errno);
  if (::rename(origen, destino.c_str()) != 0) return falla(Falla::renombrar, errno);
  return sincronizarDirectorio(directorioDe(destino).c_str());
}

bool reemplazoEnCurso(const char*) noexcept {
  return false;
}

namespace {

// The signals that end the program: the console's handlers give the
// terminal back and end it once they are let through.
sigset_t antesDeRetener;
bool retenidas = false;

}  // namespace

void retenerSenales() noexcept {
  sigset_t senales;
  ::sigemptyset(&senales);
  for (const int senal : {SIGTERM, SIGHUP, SIGINT, SIGQUIT})
    ::sigaddset(&senales, senal);
  retenidas = ::sigprocmask(SIG_BLOCK, &senales, &antesDeRetener) == 0;
}

void soltarSenales() noexcept {
  if (retenidas) (void)::sigprocmask(SIG_SETMASK, &antesDeRetener, nullptr);
  retenidas = false;
}

Resultado renombrarSinPisar(const char* origen, const char* destino) {
#ifdef RENAME_NOREPLACE
  if (::renameat2(AT_FDCWD, origen, AT_FDCWD, destino, RENAME_NOREPLACE) == 0) {
    return sincronizarDirectorio(".");
  }
  if (errno != EINVAL && errno != ENOSYS) return falla(Falla::renombrar, errno);
#endif
  // A file system that cannot rename without replacing: a second name, which
  // link never puts over an existing one, then the first name taken away.
  if (::link(origen, destino) != 0) return falla(Falla::renombrar, errno);
  // Should the old name stay, the file is in place all the same; the next
  // deletion removes the stale scratch name.
  (void)::unlink(origen);
  return sincronizarDirectorio(".");
}

Resultado sincronizarNombres(const char* carpeta) {
  return sincronizarDirectorio(carpeta);
}

bool hayAlgo(const char* nombre) noexcept {
  struct stat datos {};
  return ::lstat(nombre, &datos) == 0 || errno != ENOENT;
}

// O_NOFOLLOW: a link in the scratch file's place is not ours to follow. A
// scratch file with another name too (a hard link) belongs to that name as
// well: putting it in ALUMNO.txt's place would join the two for good.
Hallazgo abrirParaRecuperar(const char* nombre, Descriptor& descriptor) {
  descriptor = Descriptor(::open(nombre, O_RDONLY | O_NOFOLLOW | kBanderasComunes));
  struct stat datos {};
  if (!descriptor.abierto()) {
    const bool hayAlgo = errno != ENOENT && ::lstat(nombre, &datos) == 0;
    return hayAlgo ? Hallazgo::otraCosa : Hallazgo::ninguno;
  }
  const bool apto = ::fstat(fd(descriptor.numero()), &datos) == 0 && S_ISREG(datos.st_mode) &&
                    datos.st_nlink == 1;
  return apto ? Hallazgo::archivo : Hallazgo::otraCosa;
}

namespace {

int escribirEstandar(int descriptor, std::string_view bytes) noexcept {
  std::size_t escritos = 0;
  return escribirTodo(descriptor, reinterpret_cast<const unsigned char*>(bytes.data()),
                      bytes.size(), kEnCurso, escritos)
             ? 0
             : errno;
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

int escribirSalida(std::string_view bytes) noexcept {
  return escribirEstandar(STDOUT_FILENO, bytes);
}

int escribirErrores(std::string_view bytes) noexcept {
  return escribirEstandar(STDERR_FILENO, bytes);
}

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

}  // namespace store::sistema
