#include "store/archivos.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <thread>

#include "store/cerrojo.hpp"

namespace store {
namespace detalle {

Descriptor& Descriptor::operator=(Descriptor&& otro) noexcept {
  if (this != &otro) {
    cerrar();
    numero_ = otro.soltar();
  }
  return *this;
}

int Descriptor::soltar() noexcept {
  const int numero = numero_;
  numero_ = -1;
  return numero;
}

void Descriptor::cerrar() noexcept {
  // Nothing is pending at close: every write was checked and fsynced before.
  if (numero_ >= 0) ::close(numero_);
  numero_ = -1;
}

namespace {

Resultado falla(Falla tipo, int numeroError) {
  return Resultado{tipo, numeroError};
}

// Makes the latest change to a directory's names durable. File systems that
// cannot sync a directory say EINVAL; there is nothing more to do on them.
Resultado sincronizarDirectorio(const char* nombre) {
  Descriptor directorio(::open(nombre, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!directorio.abierto()) return falla(Falla::sincronizarDirectorio, errno);
  if (::fsync(directorio.numero()) != 0 && errno != EINVAL) {
    return falla(Falla::sincronizarDirectorio, errno);
  }
  return {};
}

Resultado sincronizarDirectorioActual() {
  return sincronizarDirectorio(".");
}

// Writes all of `bytes` at `desplazamiento`, continuing partial writes.
// `escritos` tells how far it got, also on failure (errno is then set).
bool escribirTodo(int descriptor, const unsigned char* bytes, std::size_t cantidad,
                  off_t desplazamiento, std::size_t& escritos) {
  escritos = 0;
  while (escritos < cantidad) {
    const ssize_t hecho = ::pwrite(descriptor, bytes + escritos, cantidad - escritos,
                                   desplazamiento + static_cast<off_t>(escritos));
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

bool leerTodo(int descriptor, unsigned char* bytes, std::size_t cantidad, off_t desplazamiento) {
  std::size_t leidos = 0;
  while (leidos < cantidad) {
    const ssize_t hecho = ::pread(descriptor, bytes + leidos, cantidad - leidos,
                                  desplazamiento + static_cast<off_t>(leidos));
    if (hecho < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (hecho == 0) {  // the file shrank under us
      errno = EIO;
      return false;
    }
    leidos += static_cast<std::size_t>(hecho);
  }
  return true;
}

// O_NONBLOCK keeps a FIFO or a terminal in the file's place from blocking the
// open; such a file is refused right after, and regular files ignore the flag.
constexpr int kBanderasComunes = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

Resultado comprobarRegular(const Descriptor& descriptor) {
  struct stat datos {};
  if (::fstat(descriptor.numero(), &datos) != 0) return falla(Falla::noSeAbre, errno);
  if (S_ISDIR(datos.st_mode)) return falla(Falla::noSeAbre, EISDIR);
  if (!S_ISREG(datos.st_mode)) return falla(Falla::noSeAbre, EINVAL);
  return {};
}

}  // namespace

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
  // know that we did, so that only a name we made is flushed or taken back.
  // Another process creating the file in between sends us round again.
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
    if (Resultado r = sincronizarDirectorioActual(); !r) {
      ::unlink(nombre);
      return falla(Falla::noSeAbre, r.numeroError);
    }
    descriptor = std::move(nuevo);
    return {};
  }
  return falla(Falla::noSeAbre, EEXIST);
}

LectorBloques::LectorBloques(int descriptor, std::size_t tamanoRegistro) noexcept
    : buffer_(new (std::nothrow) unsigned char[kCapacidad]),
      descriptor_(descriptor),
      tamanoRegistro_(tamanoRegistro) {
  if (!buffer_) {
    agotado_ = true;
    numeroError_ = ENOMEM;
  }
}

bool LectorBloques::rellenar() noexcept {
  if (agotado_) return false;
  const std::size_t resto = fin_ - inicio_;
  if (resto > 0) std::memmove(buffer_.get(), buffer_.get() + inicio_, resto);
  inicio_ = 0;
  fin_ = resto;
  while (fin_ < tamanoRegistro_) {
    const ssize_t leidos = ::pread(descriptor_, buffer_.get() + fin_, kCapacidad - fin_,
                                   static_cast<off_t>(desplazamiento_));
    if (leidos < 0) {
      if (errno == EINTR) continue;
      numeroError_ = errno;
      agotado_ = true;
      return false;
    }
    if (leidos == 0) {
      agotado_ = true;
      return false;
    }
    fin_ += static_cast<std::size_t>(leidos);
    desplazamiento_ += leidos;
  }
  return true;
}

CodigoBuscado::CodigoBuscado(std::string_view codigo, std::size_t ancho) noexcept
    : codigo_(codigo), largo_(codigo.size()), ancho_(ancho) {
  // A stored code is read up to its zero, so it never holds one: a code
  // with a zero in it is in no field.
  if (codigo.find('\0') != std::string_view::npos) largo_ = ancho_ + 1;
  if (largo_ >= 8 && largo_ <= ancho_) std::memcpy(&inicio_, codigo.data(), sizeof inicio_);
}

Resultado LectorBloques::estado() const noexcept {
  if (numeroError_ != 0) return falla(Falla::lectura, numeroError_);
  return {};
}

Resultado alDia(const char* nombre, Apertura apertura, Descriptor& descriptor) {
  if (!descriptor.abierto()) return {};
  switch (adondeLleva(nombre, descriptor.numero())) {
    case Destino::esteArchivo:
      return {};
    case Destino::fallido:
      return falla(Falla::noSeAbre, errno);
    case Destino::otroArchivo:
    case Destino::ninguno:
      break;
  }
  return abrir(nombre, apertura, descriptor);
}

Busqueda buscarEn(int descriptor, std::size_t tamano, const Clave& clave) {
  LectorBloques lector(descriptor, tamano);
  const CodigoBuscado buscado(clave.codigo, clave.ancho);
  // Codes are compared where they lie in the buffer: no record is decoded.
  for (auto bloque = lector.siguienteBloque(); !bloque.empty(); bloque = lector.siguienteBloque()) {
    for (std::size_t i = 0; i < bloque.size(); i += tamano) {
      if (buscado.en(bloque.data() + i + clave.desplazamiento)) return Busqueda{true, {}};
    }
  }
  return Busqueda{false, lector.estado()};
}

namespace {

using Reloj = std::chrono::steady_clock;

// Between two tries at a lock that another copy holds: short at first, as
// most appends take a few milliseconds, longer while the wait goes on.
constexpr std::chrono::milliseconds kPrimeraPausa{1};
constexpr std::chrono::milliseconds kPausaMaxima{10};

// Takes the lock of the file `nombre` open on `descriptor`, waiting for other
// copies up to kEsperaMaxima. Once it is taken, the name must still lead to
// the file locked: the copy that held the lock may have put a new file in
// the old one's place, which is then opened (as `apertura` says) and locked
// in its turn. On failure no lock is held.
Resultado bloquear(const char* nombre, Apertura apertura, Descriptor& descriptor) {
  const Reloj::time_point limite = Reloj::now() + kEsperaMaxima;
  std::chrono::milliseconds pausa = kPrimeraPausa;
  for (;;) {
    switch (intentarBloquear(descriptor.numero())) {
      case Intento::fallido:
        return falla(Falla::escritura, errno);
      case Intento::ocupado:
        if (Reloj::now() >= limite) return falla(Falla::enUso, EAGAIN);
        std::this_thread::sleep_for(pausa);
        pausa = std::min(pausa * 2, kPausaMaxima);
        continue;
      case Intento::tomado:
        break;
    }
    const Destino destino = adondeLleva(nombre, descriptor.numero());
    if (destino == Destino::esteArchivo) return {};
    const int numeroError = errno;
    descriptor.cerrar();  // and with it the lock on the old file
    if (destino == Destino::fallido) return falla(Falla::noSeAbre, numeroError);
    if (Resultado r = abrir(nombre, apertura, descriptor); !r) return r;
  }
}

// Gives the lock back at the end of the scope. Should the system refuse,
// the descriptor is closed, which gives it back too: a lock left held would
// stop every other copy while this one's clerk types.
class Liberar {
 public:
  explicit Liberar(Descriptor& descriptor) noexcept : descriptor_(descriptor) {}
  Liberar(const Liberar&) = delete;
  Liberar& operator=(const Liberar&) = delete;
  ~Liberar() {
    if (descriptor_.abierto() && !desbloquear(descriptor_.numero())) descriptor_.cerrar();
  }

 private:
  Descriptor& descriptor_;
};

Resultado agregarAlFinal(int descriptor, std::span<const unsigned char> registro) {
  struct stat datos {};
  if (::fstat(descriptor, &datos) != 0) return falla(Falla::escritura, errno);
  const off_t tamanoAntes = datos.st_size;
  const auto tamano = static_cast<off_t>(registro.size());
  const off_t limite = tamanoAntes - tamanoAntes % tamano;

  // A trailing fragment is overwritten; keep its bytes so that a failed
  // append can put them back and leave the file exactly as it was.
  unsigned char fragmento[64];
  const auto largoFragmento = static_cast<std::size_t>(tamanoAntes - limite);
  if (largoFragmento > sizeof fragmento) return falla(Falla::escritura, EINVAL);
  if (largoFragmento > 0 && !leerTodo(descriptor, fragmento, largoFragmento, limite)) {
    return falla(Falla::escritura, errno);
  }

  std::size_t escritos = 0;
  if (escribirTodo(descriptor, registro.data(), registro.size(), limite, escritos) &&
      ::fsync(descriptor) == 0) {
    return {};
  }
  const int numeroError = errno;
  // Best effort: the failure reported is the write's, whatever happens here.
  if (::ftruncate(descriptor, tamanoAntes) == 0) {
    const std::size_t pisados = escritos < largoFragmento ? escritos : largoFragmento;
    std::size_t restaurados = 0;
    if (pisados > 0 && escribirTodo(descriptor, fragmento, pisados, limite, restaurados)) {
      (void)::fsync(descriptor);
    }
  }
  return falla(Falla::escritura, numeroError);
}

}  // namespace

Resultado agregar(const char* nombre, Apertura apertura, Descriptor& descriptor,
                  std::span<const unsigned char> registro, const Clave* clave) {
  if (Resultado r = bloquear(nombre, apertura, descriptor); !r) return r;
  const Liberar liberar(descriptor);
  if (clave != nullptr) {
    const Busqueda busqueda = buscarEn(descriptor.numero(), registro.size(), *clave);
    if (busqueda.encontrado) return falla(Falla::repetido, EEXIST);
    // A file not read to the end may hold the code further on.
    if (!busqueda.resultado) return busqueda.resultado;
  }
  return agregarAlFinal(descriptor.numero(), registro);
}

}  // namespace detalle

namespace {

template <class R>
Busqueda buscar(Archivo<R>& archivo, std::string_view codigo) {
  if (Resultado r = archivo.alDia(); !r) return Busqueda{false, r};
  const detalle::Clave clave{codigo, Formato<R>::codigo, sizeof(R::codigo)};
  return detalle::buscarEn(detalle::Acceso::descriptor(archivo), Formato<R>::tamano, clave);
}

// The file a name stands for: the name itself, or where a symbolic link in
// its place leads. A student file kept elsewhere through a link is replaced
// there, and the link stays; on another file system the rename then fails
// and nothing changes.
std::string archivoReal(const char* nombre) {
  struct stat datos {};
  if (::lstat(nombre, &datos) != 0 || !S_ISLNK(datos.st_mode)) return nombre;
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(nombre, nullptr), &std::free);
  return real ? std::string(real.get()) : std::string(nombre);
}

std::string directorioDe(const std::string& archivo) {
  const std::size_t barra = archivo.rfind('/');
  if (barra == std::string::npos) return ".";
  return barra == 0 ? "/" : archivo.substr(0, barra);
}

// TEMPORAL.txt while it is being filled: removed unless handed over.
class Temporal {
 public:
  Temporal() = default;
  Temporal(const Temporal&) = delete;
  Temporal& operator=(const Temporal&) = delete;
  ~Temporal() {
    if (!existe_) return;
    descriptor_.cerrar();
    ::unlink(kArchivoTemporal);
  }

  // A stale scratch file is removed, not reused: writing through whatever it
  // is (a link to another file, a hard link) could damage another file.
  Resultado crear(mode_t permisos) {
    if (::unlink(kArchivoTemporal) != 0 && errno != ENOENT) {
      return Resultado{Falla::noSeCrea, errno};
    }
    descriptor_ = detalle::Descriptor(
        ::open(kArchivoTemporal, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, permisos));
    if (!descriptor_.abierto()) return Resultado{Falla::noSeCrea, errno};
    existe_ = true;
    // The new student file keeps the old one's permissions, whatever the umask.
    if (::fchmod(descriptor_.numero(), permisos) != 0) return Resultado{Falla::noSeCrea, errno};
    return {};
  }

  // Writes `bytes` after everything written so far.
  Resultado escribir(const unsigned char* bytes, std::size_t cantidad) {
    std::size_t escritos = 0;
    if (!detalle::escribirTodo(descriptor_.numero(), bytes, cantidad, tamano_, escritos)) {
      return Resultado{Falla::escritura, errno};
    }
    tamano_ += static_cast<off_t>(cantidad);
    empezarAGrabar();
    return {};
  }

  // Flushes and closes; the file then holds every record on disk.
  Resultado terminar() {
    if (::fsync(descriptor_.numero()) != 0) return Resultado{Falla::escritura, errno};
    // Some file systems report a failed write only at close.
    if (::close(descriptor_.soltar()) != 0) return Resultado{Falla::escritura, errno};
    return {};
  }

  void entregado() noexcept { existe_ = false; }

 private:
  // Where the system can be asked to start writing a range to disk without
  // waiting, the disk works while the rest is copied, and the final fsync
  // has little left to do. Elsewhere the fsync does it all.
  void empezarAGrabar() {
#ifdef SYNC_FILE_RANGE_WRITE
    constexpr off_t kTramo = 4 << 20;
    if (tamano_ - enCamino_ < kTramo) return;
    // Only a hint: the fsync at the end is what makes the file safe.
    (void)::sync_file_range(descriptor_.numero(), enCamino_, tamano_ - enCamino_,
                            SYNC_FILE_RANGE_WRITE);
    enCamino_ = tamano_;
#endif
  }

  detalle::Descriptor descriptor_;
  off_t tamano_ = 0;     // bytes written to the file
  off_t enCamino_ = 0;   // bytes already handed to the disk
  bool existe_ = false;  // we made the file and it has not been handed over
};

}  // namespace

Busqueda buscarCodigo(Archivo<Alumno>& alumnos, std::string_view codigo) {
  return buscar(alumnos, codigo);
}

Busqueda buscarCodigo(Archivo<Curso>& cursos, std::string_view codigo) {
  return buscar(cursos, codigo);
}

Resultado eliminarAlumnos(std::string_view codigo) {
  // Open for writing, as a lock that keeps appends out needs. The lock is
  // held until the new file has taken the old one's place and that is on the
  // disk: `origen`, closed last on every way out, gives it back.
  detalle::Descriptor origen;
  if (Resultado r = detalle::abrir(kArchivoAlumnos, detalle::Apertura::escribir, origen); !r) {
    return r;
  }
  if (Resultado r = detalle::bloquear(kArchivoAlumnos, detalle::Apertura::escribir, origen); !r) {
    return r;
  }
  const int descriptorOrigen = origen.numero();
  struct stat datos {};
  if (::fstat(descriptorOrigen, &datos) != 0) return Resultado{Falla::noSeAbre, errno};

  Temporal temporal;
  if (Resultado r = temporal.crear(datos.st_mode & 07777); !r) return r;

  detalle::LectorBloques lector(descriptorOrigen, Formato<Alumno>::tamano);
  const detalle::CodigoBuscado buscado(codigo, sizeof(Alumno::codigo));
  constexpr std::size_t kTamano = Formato<Alumno>::tamano;
  // The students kept are written straight from the reader's buffer, a run
  // of neighbours at a time, as the bytes they were stored as.
  for (auto bloque = lector.siguienteBloque(); !bloque.empty(); bloque = lector.siguienteBloque()) {
    const unsigned char* conservados = bloque.data();
    const unsigned char* const fin = bloque.data() + bloque.size();
    for (const unsigned char* registro = conservados; registro < fin; registro += kTamano) {
      if (!buscado.en(registro + Formato<Alumno>::codigo)) continue;
      if (Resultado r =
              temporal.escribir(conservados, static_cast<std::size_t>(registro - conservados));
          !r) {
        return r;
      }
      conservados = registro + kTamano;
    }
    if (Resultado r = temporal.escribir(conservados, static_cast<std::size_t>(fin - conservados));
        !r) {
      return r;
    }
  }
  // A read error would silently lose every record after it.
  if (Resultado r = lector.estado(); !r) return r;
  if (Resultado r = temporal.terminar(); !r) return r;

  const std::string destino = archivoReal(kArchivoAlumnos);
  if (::rename(kArchivoTemporal, destino.c_str()) != 0) return Resultado{Falla::renombrar, errno};
  temporal.entregado();
  return detalle::sincronizarDirectorio(directorioDe(destino).c_str());
}

Recuperacion recuperarAlumnos() {
  struct stat datos {};
  if (::lstat(kArchivoAlumnos, &datos) == 0 || errno != ENOENT) return Recuperacion::nadaQueHacer;
  // O_NOFOLLOW: a link in the scratch file's place is not ours to follow.
  detalle::Descriptor temporal(
      ::open(kArchivoTemporal, O_RDONLY | O_NOFOLLOW | detalle::kBanderasComunes));
  if (!temporal.abierto()) {
    const bool hayAlgo = errno != ENOENT && ::lstat(kArchivoTemporal, &datos) == 0;
    return hayAlgo ? Recuperacion::dejado : Recuperacion::nadaQueHacer;
  }
  // A scratch file with another name too (a hard link) belongs to that name
  // as well: putting it in ALUMNO.txt's place would join the two for good.
  // A fragment alone holds no student at all.
  constexpr auto kTamano = static_cast<off_t>(Formato<Alumno>::tamano);
  if (::fstat(temporal.numero(), &datos) != 0 || !S_ISREG(datos.st_mode) || datos.st_nlink != 1 ||
      (datos.st_size > 0 && datos.st_size < kTamano)) {
    return Recuperacion::dejado;
  }
  detalle::LectorBloques lector(temporal.numero(), Formato<Alumno>::tamano);
  while (const unsigned char* bytes = lector.siguiente()) {
    if (!pareceAlumno(BytesDe<Alumno>(bytes, Formato<Alumno>::tamano))) {
      return Recuperacion::dejado;
    }
  }
  if (!lector.estado() || ::fsync(temporal.numero()) != 0) return Recuperacion::dejado;
  temporal.cerrar();
  if (::rename(kArchivoTemporal, kArchivoAlumnos) != 0) return Recuperacion::dejado;
  // The students are in place; a directory that cannot be flushed only
  // leaves the new name at the mercy of a power cut.
  (void)detalle::sincronizarDirectorioActual();
  return Recuperacion::recuperado;
}

}  // namespace store
