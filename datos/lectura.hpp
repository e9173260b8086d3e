// The record files as this tool reads them: opened read-only, a missing one
// taken as empty, records delivered as their stored bytes in file order.
//
// Grades name their student and course by code, and the names are looked up
// in the other two files without holding any file whole: the grades are taken
// a block at a time, the block's codes go into a table of bounded size, and
// one scan of each of the other files finds them all. Memory is set by the
// block, not by the files; the price is one scan of the student file per
// block of grades.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/archivos.hpp"
#include "store/registros.hpp"
#include "store/sistema.hpp"

namespace datos {

// A file that could not be opened or read through.
struct ErrorLectura {
  const char* archivo;
  int numeroError;
  bool enUso = false;  // another copy kept it locked too long
};
using Lectura = std::optional<ErrorLectura>;  // empty when everything was read

// The one line that tells the clerk about it.
std::string explicar(const ErrorLectura& error);

// A stored text: its bytes up to the terminating zero, or the whole field when
// it has none.
inline std::string_view texto(const unsigned char* campo, std::size_t ancho) {
  const auto* c = reinterpret_cast<const char*>(campo);
  return {c, ::strnlen(c, ancho)};
}

template <std::size_t N>
std::string_view texto(const char (&campo)[N]) {
  return {campo, ::strnlen(campo, N)};
}

// One record file, open for reading and locked shared while the object
// lives: no other copy changes it meanwhile.
template <class R>
class Fuente {
 public:
  // A missing file reads as empty; one that is there but cannot be opened (a
  // directory, no permission) or locked in time is an error.
  Lectura abrir() {
    store::Resultado r = archivo_.abrirParaLeer();
    if (r) r = archivo_.bloquearParaLeer();
    if (r || r.falla == store::Falla::noExiste) return std::nullopt;
    return ErrorLectura{nombre(), r.numeroError, r.falla == store::Falla::enUso};
  }

  static const char* nombre() { return store::Formato<R>::archivo; }
  bool existe() const { return archivo_.abierto(); }
  store::Manejador descriptor() const { return archivo_.manejador(); }

 private:
  store::Archivo<R> archivo_;
};

// The whole records of a file, first to last, as stored bytes.
template <class R>
class Lector {
 public:
  static constexpr std::size_t kTamano = store::Formato<R>::tamano;

  explicit Lector(const Fuente<R>& fuente)
      : existe_(fuente.existe()),
        descriptor_(fuente.descriptor()),
        lector_(fuente.descriptor(), kTamano) {}

  // The next record's bytes, valid until the next call; nullptr at the end.
  const unsigned char* siguiente() noexcept { return existe_ ? lector_.siguiente() : nullptr; }
  // Once the end is reached: a read error, if one ended the file early.
  Lectura error() const {
    const store::Resultado r = existe_ ? lector_.estado() : store::Resultado{};
    if (r) return std::nullopt;
    return ErrorLectura{Fuente<R>::nombre(), r.numeroError};
  }
  // Once the end is reached: whether the file no longer ends where the
  // reading did. Another program changed it meanwhile (no copy of this one
  // can, while the Fuente holds its lock), and what lay past the last whole
  // record read is not known.
  bool cambiado() const noexcept {
    std::int64_t tamano = 0;
    return existe_ && store::sistema::tamano(descriptor_, tamano) && tamano != lector_.leido();
  }
  // Once the end is reached: the bytes of a trailing fragment, 0 when there
  // is none or the file has changed.
  std::size_t sobrante() const noexcept { return existe_ && !cambiado() ? lector_.sobrante() : 0; }

 private:
  bool existe_;
  store::Manejador descriptor_;
  store::LectorBloques lector_;
};

// Up to `maximo` distinct codes of at most 15 bytes, each numbered 0, 1, 2...
// in the order they were first added. Built for one block, emptied for the
// next.
class TablaCodigos {
 public:
  static constexpr std::uint32_t kNinguno = UINT32_MAX;
  static constexpr std::size_t kLargoMaximo = 15;
  static constexpr std::size_t kMaximo = 65535;  // codes a table can hold

  // Empties the table and makes room for `maximo` codes (at most kMaximo).
  void vaciar(std::size_t maximo);
  // The code's number, the next one when it is new. At most kLargoMaximo
  // bytes and no more than `maximo` codes.
  std::uint32_t agregar(std::string_view codigo);
  // The code's number, or kNinguno.
  std::uint32_t buscar(std::string_view codigo) const;
  std::size_t cantidad() const { return claves_.size(); }

 private:
  struct Clave {
    std::uint64_t alto = 0;  // the code's bytes, zero-padded to 16 (a code has no zero)
    std::uint64_t bajo = 0;
    bool operator==(const Clave&) const = default;
  };
  // A slot holds a code's number + 1 in its low bits and a few more bits of
  // the code's hash in its high ones, so that most codes not in the table are
  // turned away without looking at any key.
  static constexpr std::uint32_t kNumeros = 0xFFFF;
  static Clave claveDe(std::string_view codigo);
  static std::uint64_t mezcla(const Clave& clave);
  // The slot that holds `clave`, or the free one where it would go.
  std::size_t ranuraDe(const Clave& clave) const;
  std::uint32_t marcaDe(std::uint64_t h) const {
    return static_cast<std::uint32_t>(h >> (desplazamiento_ - 16)) & ~kNumeros;
  }

  std::vector<Clave> claves_;           // by number
  std::vector<std::uint32_t> ranuras_;  // 0 if free
  std::size_t mascara_ = 0;             // slots - 1
  unsigned desplazamiento_ = 60;        // 64 - log2(slots)
};

// Reads `fuente` from its first record until every code of `codigos` is found
// or `limite` records are read, calling tomar(number, record number, bytes)
// for the first record holding each code (records numbered from 1). A stored
// code longer than `largoBuscado` can equal none of them.
template <class R, class F>
Lectura hallar(const Fuente<R>& fuente, const TablaCodigos& codigos, std::size_t largoBuscado,
               std::vector<bool>& hallado, F&& tomar, std::size_t limite = SIZE_MAX) {
  hallado.assign(codigos.cantidad(), false);
  std::size_t faltan = codigos.cantidad();
  Lector<R> lector(fuente);
  for (std::size_t registro = 1; faltan > 0 && registro <= limite; ++registro) {
    const unsigned char* bytes = lector.siguiente();
    if (bytes == nullptr) return lector.error();
    const std::string_view codigo = texto(bytes + store::Formato<R>::codigo, sizeof(R::codigo));
    if (codigo.size() > largoBuscado) continue;
    const std::uint32_t numero = codigos.buscar(codigo);
    if (numero == TablaCodigos::kNinguno || hallado[numero]) continue;
    hallado[numero] = true;
    --faltan;
    tomar(numero, registro, bytes);
  }
  return std::nullopt;
}

// The grades, a block at a time, each with its student's names and its
// course's name when the code is in those files (the first record holding it
// when there are several).
class UnionNotas {
 public:
  // Grades per block: a million grades against a million students cost about
  // thirty scans of the student file, in some five megabytes at most.
  static constexpr std::size_t kBloque = 32 * 1024;
  static_assert(kBloque <= TablaCodigos::kMaximo);

  struct Nombres {
    char apellido[sizeof(store::Alumno::apellido)];
    char nombre[sizeof(store::Alumno::nombre)];
  };
  struct NombreCurso {
    char nombre[sizeof(store::Curso::nombre)];
  };

  UnionNotas(const Fuente<store::NotaAlumno>& notas, const Fuente<store::Alumno>& alumnos,
             const Fuente<store::Curso>& cursos);

  // Takes the next grades and finds their students and courses; false at the
  // end of the grades or on an error, which error() then tells.
  bool siguienteBloque();
  Lectura error() const { return error_; }
  // Once the end is reached: the trailing fragment of the grade file.
  std::size_t sobrante() const { return notas_.sobrante(); }
  bool cambiado() const { return notas_.cambiado(); }

  std::size_t cantidad() const { return bloque_.size(); }
  const store::NotaAlumno& nota(std::size_t i) const { return bloque_[i]; }
  // nullptr when the student or course code is in no record.
  const Nombres* alumno(std::size_t i) const;
  const NombreCurso* curso(std::size_t i) const;

 private:
  Lector<store::NotaAlumno> notas_;
  const Fuente<store::Alumno>& alumnos_;
  const Fuente<store::Curso>& cursos_;
  Lectura error_;
  std::vector<store::NotaAlumno> bloque_;
  std::vector<std::uint32_t> numeroAlumno_;  // per grade, its student code's number
  std::vector<std::uint32_t> numeroCurso_;   // per grade, its course code's number
  TablaCodigos codigosAlumno_;
  TablaCodigos codigosCurso_;
  std::vector<bool> alumnoHallado_;  // per student code
  std::vector<bool> cursoHallado_;   // per course code
  std::vector<Nombres> nombresAlumno_;
  std::vector<NombreCurso> nombresCurso_;
};

}  // namespace datos
