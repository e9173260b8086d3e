// The record files as the screens use them: open, scan, append one record,
// and rewrite the student file without some students.
//
// Every file is named by the record type it holds (Formato<R>::archivo) and
// lives in the current directory. Failures come back as values carrying the
// system's error number for the call that failed (errno on POSIX); nothing
// here throws or prints.
//
// Several copies of the program may work on one directory at once. Each
// append and each deletion holds its file's lock (cerrojo.hpp) from the
// moment it looks at the file's end, or its first record, until its last
// change is on the disk, and a copy that finds the lock taken waits for it
// up to kEsperaMaxima. The lock is never held between two calls here, so
// never while a person types. A deletion replaces the student file with a
// new one, so an open file may be an old one: appends and code lookups go
// to the file the name leads to now, opening it afresh when needed.
//
// Nor is a file kept open while a person types: where the system cannot
// replace a file that is open, a copy holding one would keep every other
// copy's deletion waiting. A closed Archivo is opened for each lookup or
// append and closed again after it.
//
// A typical screen:
//
//   store::Archivo<store::Alumno> alumnos;
//   if (!alumnos.abrirParaAgregar()) { ... }          // created when missing
//   alumnos.cerrar();                                 // nothing held while the clerk types
//   const store::Busqueda duplicado = store::buscarCodigo(alumnos, codigo);
//   ...
//   ...                                               // the clerk types the other fields
//   const store::Resultado r = alumnos.agregarSiNuevo(estado.alumno);
//   if (r.falla == store::Falla::repetido) { ... }   // another copy stored the code meanwhile
//
//   store::Lectura<store::Alumno> lectura;            // the listing
//   if (!lectura.abrir()) { ... }
//   while (lectura.siguiente(estado.alumno)) { ... }
//   if (!lectura.estado()) { ... }                    // a read error or a replaced file
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "store/registros.hpp"

namespace store {

enum class Falla : std::uint8_t {
  ninguna,
  noExiste,  // the file is not there
  noSeAbre,  // there, but not a file we can use: a directory, a device, no access...
  noSeCrea,  // the scratch file could not be made; the file replaced is as it was
  // A read failed: a scan has delivered the records before it; a
  // replacement stops and leaves the file as it was.
  lectura,
  // A write or fsync failed: an append is cut back to what the file held
  // before; a replacement leaves the file as it was.
  escritura,
  renombrar,  // the scratch file could not take the file's place; the file is as it was
  // The new file is in place, but its name may not survive a power cut: the
  // directory could not be flushed.
  sincronizarDirectorio,
  // Another copy held the file's lock for longer than kEsperaMaxima; nothing
  // was changed.
  enUso,
  // The code is stored already (by another copy while this one's clerk
  // typed, or since an import's rows were checked): nothing was written.
  repetido,
  // The file was replaced or removed since a reading of it began: what was
  // read before came from the old file, and no more is read.
  reemplazado,
};

// How long an append or a deletion waits for another copy's to end.
inline constexpr std::chrono::seconds kEsperaMaxima{10};

struct [[nodiscard]] Resultado {
  Falla falla = Falla::ninguna;
  int numeroError = 0;  // the system's error number for the call that failed; 0 on success

  explicit operator bool() const noexcept { return falla == Falla::ninguna; }
};

struct [[nodiscard]] Busqueda {
  bool encontrado = false;
  Resultado resultado;  // a read error before any match leaves encontrado false
};

// What was done with TEMPORAL.txt on finding no student file.
enum class Recuperacion : std::uint8_t {
  nadaQueHacer,  // ALUMNO.txt is there, or nothing is at TEMPORAL.txt
  recuperado,    // TEMPORAL.txt, byte for byte, is now ALUMNO.txt
  // ALUMNO.txt is missing and TEMPORAL.txt is left exactly as it is: not
  // students by its layout, not a regular file with one name, or it could
  // not be read or renamed.
  dejado,
  // TEMPORAL.txt holds students, but a new ALUMNO.txt appeared before it
  // could take the name: the scratch file is left beside it, as it is.
  ocupado,
};

namespace detalle {

// A file descriptor, or a Windows file handle; -1 when none, on both.
using Manejador = std::intptr_t;

// Owns one open file.
class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(Manejador numero) noexcept : numero_(numero) {}
  Descriptor(Descriptor&& otro) noexcept : numero_(otro.soltar()) {}
  Descriptor& operator=(Descriptor&& otro) noexcept;
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { cerrar(); }

  Manejador numero() const noexcept { return numero_; }
  bool abierto() const noexcept { return numero_ != -1; }
  Manejador soltar() noexcept;
  void cerrar() noexcept;

 private:
  Manejador numero_ = -1;
};

enum class Apertura : std::uint8_t {
  leer,
  escribir,  // read and write
  crear,     // read and write, creating the file when missing
};

// Opens a regular file as `apertura` says; a file created is made durable
// (its name flushed), and kept even when that fails. Anything but a regular
// file is a failure. Before the student file is created, the start-up
// recovery (recuperarAlumnos) is run, and its outcome left in
// `recuperacion` when given.
Resultado abrir(const char* nombre, Apertura apertura, Descriptor& descriptor,
                Recuperacion* recuperacion = nullptr);

// Makes an open `descriptor` the file `nombre` leads to now: a file replaced
// or removed since it was opened is closed and the name opened afresh as
// `apertura` says. A closed descriptor is left closed.
Resultado alDia(const char* nombre, Apertura apertura, Descriptor& descriptor);

// Where a record keeps its code, and the code it holds.
struct Clave {
  std::string_view codigo;
  std::size_t desplazamiento;
  std::size_t ancho;
};

// Whether a record in the file open on `descriptor` (records of `tamano`
// bytes) holds clave's code, as codigoIgual compares.
Busqueda buscarEn(Manejador descriptor, std::size_t tamano, const Clave& clave);

// Under the lock of the file `nombre` open on `descriptor` (brought up to
// date first as alDia does; opened as `apertura` says, and closed again
// after, when closed): when `clave` is given and a stored record has its
// code, nothing is written (Falla::repetido); otherwise writes one record at
// the last whole-record boundary and fsyncs. On failure the file is put back
// byte for byte. An open that ran the recovery leaves its outcome in
// `recuperacion`.
Resultado agregar(const char* nombre, Apertura apertura, Descriptor& descriptor,
                  std::span<const unsigned char> registro, const Clave* clave,
                  Recuperacion& recuperacion);

// Takes the lock of the file `nombre`, open for reading on `descriptor`,
// shared, for a reader of the whole file: appends and replacements wait for
// it, and it waits for one under way, up to kEsperaMaxima (Falla::enUso).
// A file another copy put in the old one's place meanwhile is opened and
// locked instead; noExiste when the name leads to nothing by then. Held
// until the descriptor is closed.
Resultado bloquearParaLeer(const char* nombre, Descriptor& descriptor);

// Delivers a file's whole records in order from offset 0, through one fixed
// buffer, without moving the descriptor's offset.
class LectorBloques {
 public:
  // Big enough that a scan costs about what reading the file costs; fixed so
  // that memory does not grow with the file.
  static constexpr std::size_t kCapacidad = 256 * 1024;

  LectorBloques(Manejador descriptor, std::size_t tamanoRegistro) noexcept;

  // The next whole record's bytes, valid until the next call; nullptr at the
  // end of the file (a trailing fragment is never delivered) or after a read
  // error.
  const unsigned char* siguiente() noexcept {
    if (fin_ - inicio_ < tamanoRegistro_ && !rellenar()) return nullptr;
    const unsigned char* registro = buffer_.get() + inicio_;
    inicio_ += tamanoRegistro_;
    return registro;
  }

  // Every whole record now in the buffer at once (at least one), valid until
  // the next call; empty at the end of the file or after a read error.
  std::span<const unsigned char> siguienteBloque() noexcept {
    if (fin_ - inicio_ < tamanoRegistro_ && !rellenar()) return {};
    const std::size_t largo = (fin_ - inicio_) / tamanoRegistro_ * tamanoRegistro_;
    const std::span<const unsigned char> bloque(buffer_.get() + inicio_, largo);
    inicio_ += largo;
    return bloque;
  }

  // Success unless a read failed.
  Resultado estado() const noexcept;

  // Once the end is reached, the length of a trailing fragment (0 if none).
  std::size_t sobrante() const noexcept { return fin_ - inicio_; }
  // How far into the file it has read.
  std::int64_t leido() const noexcept { return desplazamiento_; }

  // Whether the next call reads the file (the buffer holds no whole record
  // and the end is not reached yet).
  bool leera() const noexcept { return !agotado_ && fin_ - inicio_ < tamanoRegistro_; }
  // The file to read from next, at the same offset: the file opened afresh.
  void usar(Manejador descriptor) noexcept { descriptor_ = descriptor; }

 private:
  bool rellenar() noexcept;

  std::unique_ptr<unsigned char[]> buffer_;  // kCapacidad bytes
  Manejador descriptor_;
  std::size_t tamanoRegistro_;
  std::size_t inicio_ = 0;           // first byte not yet delivered
  std::size_t fin_ = 0;              // end of the bytes read into the buffer
  std::int64_t desplazamiento_ = 0;  // file offset of the next read
  bool agotado_ = false;             // end of file or error reached
  int numeroError_ = 0;              // error number of a failed read, or 0
};

// A scratch file taking a file's new contents, written front to back. It
// is removed when destroyed, unless it has taken the file's place (ocupar).
class Temporal {
 public:
  explicit Temporal(const char* nombre) noexcept : nombre_(nombre) {}
  Temporal(const Temporal&) = delete;
  Temporal& operator=(const Temporal&) = delete;
  ~Temporal();

  // A new, empty scratch file with `original`'s permissions; a stale one is
  // removed first.
  Resultado crear(Manejador original);
  // Writes `bytes` after everything written so far.
  Resultado escribir(const unsigned char* bytes, std::size_t cantidad);
  // Flushes; the file then holds every byte on the disk.
  Resultado terminar();
  // Takes the place of `destino`, the file open and locked on `original`
  // (see sistema::reemplazar).
  Resultado ocupar(const std::string& destino, Descriptor& original);

 private:
  void empezarAGrabar();

  const char* nombre_;
  Descriptor descriptor_;
  std::int64_t tamano_ = 0;    // bytes written to the file
  std::int64_t enCamino_ = 0;  // bytes already handed to the disk
  bool existe_ = false;        // we made the file and it has not been handed over
};

// Writes a file's new contents into `nuevo`, reading the file being replaced
// (held open and locked) through `original`.
using Llenar = std::function<Resultado(Manejador original, Temporal& nuevo)>;

// Replaces the file `nombre` with what `llenar` writes into the scratch file
// `temporal`, which then takes the file's place in one step, so that the
// file always holds either all it held or all its new contents. The file,
// opened as `apertura` says, is locked from before `llenar` looks at it until
// the new one is in its place and on the disk, and only the lock's holder
// writes the scratch file; Falla::enUso when another copy kept the lock too
// long. On any failure before the step, `llenar`'s own included, the file is
// untouched and the scratch file is gone.
Resultado reemplazar(const char* nombre, const char* temporal, Apertura apertura,
                     const Llenar& llenar);

struct Acceso;

// Which file an open descriptor is: device and inode on POSIX, volume and
// file index on Windows.
struct Identidad {
  std::uint64_t volumen = 0;
  std::uint64_t indice = 0;
  friend bool operator==(const Identidad&, const Identidad&) = default;
};

// What Lectura<R> does, for records of `tamanoRegistro` bytes in `nombre`.
class LecturaSuelta {
 public:
  LecturaSuelta(const char* nombre, std::size_t tamanoRegistro) noexcept
      : nombre_(nombre), lector_(-1, tamanoRegistro) {}

  Resultado abrir();
  const unsigned char* siguiente();
  Resultado estado() const noexcept { return falla_ ? lector_.estado() : falla_; }

 private:
  const char* nombre_;
  LectorBloques lector_;  // reads through a descriptor opened for each read
  Identidad identidad_;   // the file opened first
  Resultado falla_;       // what ended the reading early, if anything did
  bool abierta_ = false;  // abrir() found the file
};

// A typed code, made ready to be compared with a great many stored code
// fields of `ancho` bytes: a field holds the code when it is exactly its
// characters followed by a zero or by the field's end (as codigoIgual says),
// and the test on a field that differs costs one comparison of eight bytes.
class CodigoBuscado {
 public:
  CodigoBuscado(std::string_view codigo, std::size_t ancho) noexcept;

  bool en(const unsigned char* campo) const noexcept {
    if (largo_ >= 8) {
      std::uint64_t inicio;
      std::memcpy(&inicio, campo, sizeof inicio);
      if (inicio != inicio_) return false;
    } else if (largo_ > 0 && campo[0] != codigo_[0]) {
      return false;
    }
    return largo_ <= ancho_ && std::memcmp(campo, codigo_.data(), largo_) == 0 &&
           (largo_ == ancho_ || campo[largo_] == 0);
  }

 private:
  std::string_view codigo_;
  std::size_t largo_;
  std::size_t ancho_;
  std::uint64_t inicio_ = 0;  // the code's first eight bytes, when it has them
};

}  // namespace detalle

// One open record file holding records of type R; closed when destroyed.
template <class R>
class Archivo {
 public:
  // Read-only. A missing file is Falla::noExiste.
  Resultado abrirParaLeer() { return abrir(detalle::Apertura::leer); }
  // Read and append, creating an empty file when there is none. A file
  // created here whose name cannot be made durable stays, and the failure
  // is reported. A missing student file is first recovered from
  // TEMPORAL.txt where it can be (see recuperacion()).
  Resultado abrirParaAgregar() { return abrir(detalle::Apertura::crear); }

  // Appends one record after the last whole record (overwriting a trailing
  // fragment) and fsyncs it, under the file's lock, to the file the name
  // leads to now; a closed file is opened for the append, as it was opened
  // last, and closed again. On failure the file holds what it held before;
  // Falla::enUso when another copy kept the lock too long.
  Resultado agregar(const R& registro) {
    const Bytes<R> bytes = codificar(registro);
    return detalle::agregar(Formato<R>::archivo, apertura_, descriptor_, bytes, nullptr,
                            recuperacion_);
  }

  // The same, unless a record with this one's code (up to its zero) is
  // stored by then: Falla::repetido, and nothing written. The code is looked
  // up under the append's own lock, so no other copy can store it in between.
  Resultado agregarSiNuevo(const R& registro) {
    const Bytes<R> bytes = codificar(registro);
    const std::string_view campo(registro.codigo, sizeof registro.codigo);
    const detalle::Clave clave{campo.substr(0, campo.find('\0')), Formato<R>::codigo,
                               sizeof registro.codigo};
    return detalle::agregar(Formato<R>::archivo, apertura_, descriptor_, bytes, &clave,
                            recuperacion_);
  }

  // Takes the open file's lock shared, to read it whole as it stands
  // between two changes; given back when the file is closed (see
  // detalle::bloquearParaLeer).
  Resultado bloquearParaLeer() {
    return detalle::bloquearParaLeer(Formato<R>::archivo, descriptor_);
  }

  // Makes the open file the one the name leads to now (see detalle::alDia).
  Resultado alDia() { return detalle::alDia(Formato<R>::archivo, apertura_, descriptor_); }

  bool abierto() const noexcept { return descriptor_.abierto(); }
  void cerrar() noexcept { descriptor_.cerrar(); }

  // What the student file's recovery did when an open or append here found
  // no student file to open, since last asked; nadaQueHacer otherwise.
  Recuperacion recuperacion() noexcept {
    const Recuperacion hecho = recuperacion_;
    recuperacion_ = Recuperacion::nadaQueHacer;
    return hecho;
  }

 private:
  friend struct detalle::Acceso;

  Resultado abrir(detalle::Apertura apertura) {
    apertura_ = apertura;
    return detalle::abrir(Formato<R>::archivo, apertura, descriptor_, &recuperacion_);
  }

  detalle::Descriptor descriptor_;
  detalle::Apertura apertura_ = detalle::Apertura::leer;    // how it was opened, to open it again
  Recuperacion recuperacion_ = Recuperacion::nadaQueHacer;  // not yet asked for
};

namespace detalle {
struct Acceso {
  template <class R>
  static Manejador descriptor(const Archivo<R>& archivo) noexcept {
    return archivo.descriptor_.numero();
  }
};
}  // namespace detalle

// Every whole record of a file from the first to the last, whatever the
// file's offset (a screen may have appended to it just before).
template <class R>
class Recorrido {
 public:
  explicit Recorrido(const Archivo<R>& archivo)
      : lector_(detalle::Acceso::descriptor(archivo), Formato<R>::tamano) {}

  // Reads the next record into `registro`; false at the end of the file or on
  // a read error, which estado() then tells apart.
  bool siguiente(R& registro) noexcept {
    const unsigned char* bytes = lector_.siguiente();
    if (bytes == nullptr) return false;
    decodificar(BytesDe<R>(bytes, Formato<R>::tamano), registro);
    return true;
  }

  // Success unless a read failed (or the file was never opened).
  Resultado estado() const noexcept { return lector_.estado(); }

 private:
  detalle::LectorBloques lector_;
};

// Every whole record of R's file from the first to the last, in blocks, with
// the file open only while a block is read: a page of a listing is read and
// shown with nothing held open while the clerk reads it. A file that another
// copy replaced (or removed) meanwhile is not read on as if it were the same
// one: estado() then says Falla::reemplazado.
template <class R>
class Lectura {
 public:
  // Notes which file the name leads to, to read it from the start; a missing
  // one is Falla::noExiste.
  Resultado abrir() { return lectura_.abrir(); }

  // Reads the next record into `registro`; false at the end of the file, on
  // a read error or once the file is found replaced, which estado() tells
  // apart.
  bool siguiente(R& registro) {
    const unsigned char* bytes = lectura_.siguiente();
    if (bytes == nullptr) return false;
    decodificar(BytesDe<R>(bytes, Formato<R>::tamano), registro);
    return true;
  }

  Resultado estado() const noexcept { return lectura_.estado(); }

 private:
  detalle::LecturaSuelta lectura_{Formato<R>::archivo, Formato<R>::tamano};
};

// Whether any stored record's codigo equals `codigo` exactly (codigoIgual),
// in the file the name leads to now (see Archivo::alDia); a closed file is
// opened for the lookup and closed after it, and a missing one holds no
// code. Stops at the first match. No lock is taken: a record another copy is
// appending meanwhile may be missed, and agregarSiNuevo's look under the
// lock is there for that.
Busqueda buscarCodigo(Archivo<Alumno>& alumnos, std::string_view codigo);
Busqueda buscarCodigo(Archivo<Curso>& cursos, std::string_view codigo);

// Rewrites ALUMNO.txt without the students whose code is `codigo` (as
// codigoIgual compares), the others in their order, byte for byte; a
// trailing fragment is dropped. The kept records go to TEMPORAL.txt, which
// then takes ALUMNO.txt's place in one step, so that ALUMNO.txt always holds
// either all the old records or exactly the kept ones. On any failure before
// that step, ALUMNO.txt is untouched and TEMPORAL.txt is gone. The whole
// deletion holds the student file's lock, and only its holder writes
// TEMPORAL.txt; Falla::enUso when another copy kept it too long.
Resultado eliminarAlumnos(std::string_view codigo);

namespace detalle {
// Whether a stored record may stay beside the records being added.
using Revisar = std::function<bool(const unsigned char* registro)>;
Resultado agregarTodos(const char* nombre, const char* temporal, std::size_t tamano,
                       std::span<const unsigned char> registros, const Revisar& revisar);
}  // namespace detalle

// Adds `registros`, whole records of R one after another, after the whole
// records of R's file (made when missing), all of them or none: the file is
// replaced by its records followed by these (detalle::reemplazar), a
// trailing fragment left out. Under the file's lock and before anything is
// stored, `revisar` is shown every stored record; when it turns any down,
// nothing is stored and the result is Falla::repetido.
template <class R>
Resultado agregarTodos(std::span<const unsigned char> registros, const detalle::Revisar& revisar) {
  return detalle::agregarTodos(Formato<R>::archivo, Formato<R>::temporal, Formato<R>::tamano,
                               registros, revisar);
}

// A replacement made by removing ALUMNO.txt before renaming TEMPORAL.txt (as
// other programs sharing these files may do) can be cut off between the two,
// leaving the students only in TEMPORAL.txt. When ALUMNO.txt is missing and
// TEMPORAL.txt is a regular file with one name whose whole records all look
// like students by their layout (pareceAlumno), or that is empty, it takes
// ALUMNO.txt's place as it is, a trailing fragment included. Whatever the
// records hold is not judged: other programs write other letters and ages,
// and their students are kept, not lost.
[[nodiscard]] Recuperacion recuperarAlumnos();

}  // namespace store
