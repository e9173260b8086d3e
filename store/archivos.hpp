// The record files as the screens use them: open, scan, append one record,
// and rewrite the student file without some students.
//
// Every file is named by the record type it holds (Formato<R>::archivo) and
// lives in the current directory. Failures come back as values carrying the
// system's error number for the call that failed (errno on POSIX); nothing
// here throws or prints.
//
// Several copies of the program may work on one directory at once. Each
// append and each deletion holds its file's lock (store/sistema.hpp) from the
// moment it looks at the file's end, or its first record, until its last
// change is on the disk, and a copy that finds the lock taken waits for it
// up to kEsperaMaxima. The lock is never held between two calls here, so
// never while a clerk types. A deletion replaces the student file with a
// new one, so an open file may be an old one: appends and code lookups go
// to the file the name leads to now, opening it afresh when needed.
//
// Nor is a file kept open while a clerk types: where the system cannot
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
//   const store::Resultado r = alumnos.agregarSiNuevo(estado().alumno);
//   if (r.falla == store::Falla::repetido) { ... }   // another copy stored the code meanwhile
//
//   store::Lectura<store::Alumno> lectura;            // the listing
//   if (!lectura.abrir()) { ... }
//   while (lectura.siguiente(estado().alumno)) { ... }
//   if (!lectura.estado()) { ... }                    // a read error or a replaced file
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "store/bloques.hpp"
#include "store/descriptor.hpp"
#include "store/registros.hpp"

namespace store {

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

// Where a record keeps its code, and the code looked for.
struct Clave {
  std::string_view codigo;
  std::size_t desplazamiento;
  std::size_t ancho;
};

// What Archivo<R> does, for the file `nombre` of records of any type.
class ArchivoSuelto {
 public:
  explicit ArchivoSuelto(const char* nombre) noexcept : nombre_(nombre) {}

  // Opens the file as `apertura` says; a file created is made durable (its
  // name flushed), and kept even when that fails. Anything but a regular
  // file is a failure. Before the student file is created, the start-up
  // recovery (recuperarAlumnos) is run.
  Resultado abrir(Apertura apertura);

  // Under the file's lock, to the file the name leads to now (opened as it
  // was opened last, and closed again after, when closed): when `clave` is
  // given and a stored record has its code, nothing is written
  // (Falla::repetido); otherwise writes one record at the last whole-record
  // boundary and fsyncs. On failure the file is put back byte for byte.
  Resultado agregar(std::span<const unsigned char> registro, const Clave* clave);

  Resultado bloquearParaLeer();
  Resultado alDia();

  bool abierto() const noexcept { return descriptor_.abierto(); }
  void cerrar() noexcept { descriptor_.cerrar(); }
  Manejador manejador() const noexcept { return descriptor_.numero(); }

  Recuperacion recuperacion() noexcept {
    const Recuperacion hecho = recuperacion_;
    recuperacion_ = Recuperacion::nadaQueHacer;
    return hecho;
  }

 private:
  const char* nombre_;
  Descriptor descriptor_;
  Apertura apertura_ = Apertura::leer;                      // how it was opened, to open it again
  Recuperacion recuperacion_ = Recuperacion::nadaQueHacer;  // not yet asked for
};

// One open record file holding records of type R; closed when destroyed.
template <class R>
class Archivo {
 public:
  // Read-only. A missing file is Falla::noExiste.
  Resultado abrirParaLeer() { return archivo_.abrir(Apertura::leer); }
  // Read and append, creating an empty file when there is none. A file
  // created here whose name cannot be made durable stays, and the failure
  // is reported. A missing student file is first recovered from
  // TEMPORAL.txt where it can be (see recuperacion()).
  Resultado abrirParaAgregar() { return archivo_.abrir(Apertura::crear); }

  // Appends one record after the last whole record (overwriting a trailing
  // fragment) and fsyncs it, under the file's lock, to the file the name
  // leads to now; a closed file is opened for the append, as it was opened
  // last, and closed again. On failure the file holds what it held before;
  // Falla::enUso when another copy kept the lock too long.
  Resultado agregar(const R& registro) {
    const Bytes<R> bytes = codificar(registro);
    return archivo_.agregar(bytes, nullptr);
  }

  // The same, unless a record with this one's code (up to its zero) is
  // stored by then: Falla::repetido, and nothing written. The code is looked
  // up under the append's own lock, so no other copy can store it in between.
  Resultado agregarSiNuevo(const R& registro) {
    const Bytes<R> bytes = codificar(registro);
    const std::string_view campo(registro.codigo, sizeof registro.codigo);
    const Clave clave{campo.substr(0, campo.find('\0')), Formato<R>::codigo,
                      sizeof registro.codigo};
    return archivo_.agregar(bytes, &clave);
  }

  // Takes the open file's lock shared, to read it whole as it stands
  // between two changes; given back when the file is closed. A file another
  // copy put in the old one's place meanwhile is opened and locked instead;
  // noExiste when the name leads to nothing by then.
  Resultado bloquearParaLeer() { return archivo_.bloquearParaLeer(); }

  // Makes the open file the one the name leads to now: a file replaced or
  // removed since it was opened is closed and the name opened afresh, as it
  // was opened. A closed file is left closed.
  Resultado alDia() { return archivo_.alDia(); }

  bool abierto() const noexcept { return archivo_.abierto(); }
  void cerrar() noexcept { archivo_.cerrar(); }
  // The open file, to be read through a LectorBloques; -1 when closed.
  Manejador manejador() const noexcept { return archivo_.manejador(); }

  // What the student file's recovery did when an open or append here found
  // no student file to open, since last asked; nadaQueHacer otherwise.
  Recuperacion recuperacion() noexcept { return archivo_.recuperacion(); }

 private:
  ArchivoSuelto archivo_{Formato<R>::archivo};
};

// Every whole record of a file from the first to the last, whatever the
// file's offset (a screen may have appended to it just before).
template <class R>
class Recorrido {
 public:
  explicit Recorrido(const Archivo<R>& archivo)
      : lector_(archivo.manejador(), Formato<R>::tamano) {}

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
  LectorBloques lector_;
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
  LecturaSuelta lectura_{Formato<R>::archivo, Formato<R>::tamano};
};

// Whether any stored record's codigo equals `codigo` exactly (read up to its zero, or whole when it
// has none), in the file the name leads to now (see Archivo::alDia); a closed file is opened for
// the lookup and closed after it, and a missing one holds no code. Stops at the first match. No
// lock is taken: a record another copy is appending meanwhile may be missed, and agregarSiNuevo's
// look under the lock is there for that.
Busqueda buscarCodigo(Archivo<Alumno>& alumnos, std::string_view codigo);
Busqueda buscarCodigo(Archivo<Curso>& cursos, std::string_view codigo);

// Rewrites ALUMNO.txt without the students whose code is `codigo` (as
// CodigoBuscado compares), the others in their order, byte for byte; a
// trailing fragment is dropped. The kept records go to TEMPORAL.txt, which
// then takes ALUMNO.txt's place in one step, so that ALUMNO.txt always holds
// either all the old records or exactly the kept ones. On any failure before
// that step, ALUMNO.txt is untouched and TEMPORAL.txt is gone. The whole
// deletion holds the student file's lock, and only its holder writes
// TEMPORAL.txt; Falla::enUso when another copy kept it too long.
Resultado eliminarAlumnos(std::string_view codigo);

// Whether a stored record may stay beside the records being added.
using Revisar = std::function<bool(const unsigned char* registro)>;

// Adds `registros`, whole records of `tamano` bytes one after another,
// after the whole records of the file `nombre` (made when missing), all of
// them or none: the file is replaced, through the scratch file `temporal`,
// by its records followed by these, a trailing fragment left out. Under the
// file's lock and before anything is stored, `revisar` is shown every stored
// record; when it turns any down, nothing is stored and the result is
// Falla::repetido.
Resultado agregarTodos(const char* nombre, const char* temporal, std::size_t tamano,
                       std::span<const unsigned char> registros, const Revisar& revisar);

// The same for R's file.
template <class R>
Resultado agregarTodos(std::span<const unsigned char> registros, const Revisar& revisar) {
  return agregarTodos(Formato<R>::archivo, Formato<R>::temporal, Formato<R>::tamano, registros,
                      revisar);
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
