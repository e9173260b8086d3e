// The three record layouts and the names of the files that hold them.
//
// On disk every record is a run of bytes with no padding and 32-bit
// little-endian two's-complement integers; in memory it is a plain struct with
// fields of the same widths. This header is the only place that knows where a
// field sits in a record: everything else goes through codificar/decodificar.
//
//   Alumno      59 bytes  codigo 0..14  apellido 15..34  nombre 35..54  edad 55..58
//   Curso       50 bytes  codigo 0..5   nombre 6..45     creditos 46..49
//   NotaAlumno  35 bytes  codigoAlumno 0..8  codigoCurso 9..14  practica1 15..18
//                         practica2 19..22  practica3 23..26  examenParcial 27..30
//                         examenFinal 31..34
//
// Text fields are single-byte characters. Alumno's three texts and Curso's
// nombre are zero-terminated; the bytes after the zero mean nothing. Curso's
// codigo is always 6 characters with no terminator; NotaAlumno's codes are the
// typed text, zero-terminated only when shorter than the field.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "store/reglas.hpp"

namespace store {

inline constexpr char kArchivoAlumnos[] = "ALUMNO.txt";
inline constexpr char kArchivoCursos[] = "CURSO.txt";
inline constexpr char kArchivoNotas[] = "NOTAALUMNO.txt";
// Holds the kept students while a deletion rewrites the student file, and
// the students with those an import adds.
inline constexpr char kArchivoTemporal[] = "TEMPORAL.txt";
// Hold the courses and the grades with those an import adds: names no one
// takes for a record file.
inline constexpr char kArchivoTemporalCursos[] = "CURSO.txt.nuevo";
inline constexpr char kArchivoTemporalNotas[] = "NOTAALUMNO.txt.nuevo";

struct Alumno {
  char codigo[15];    // 8 digits and a letter, then a zero
  char apellido[20];  // at most 19 letters, then a zero
  char nombre[20];    // at most 19 letters, then a zero
  std::int32_t edad;  // 0 to 60
};

struct Curso {
  char codigo[6];         // letter, letter, digit, digit, digit, letter; no terminator
  char nombre[40];        // at most 39 letters, then a zero
  std::int32_t creditos;  // 1 to 5
};

struct NotaAlumno {
  char codigoAlumno[9];  // as typed: 9 characters, or fewer then a zero
  char codigoCurso[6];   // as typed: 6 characters, or fewer then a zero
  std::int32_t practica1;
  std::int32_t practica2;
  std::int32_t practica3;
  std::int32_t examenParcial;
  std::int32_t examenFinal;
};

// Where each field starts in the stored record, and the record's size.
template <class R>
struct Formato;

template <>
struct Formato<Alumno> {
  static constexpr std::size_t codigo = 0;
  static constexpr std::size_t apellido = 15;
  static constexpr std::size_t nombre = 35;
  static constexpr std::size_t edad = 55;
  static constexpr std::size_t tamano = 59;
  static constexpr const char* archivo = kArchivoAlumnos;
  static constexpr const char* temporal = kArchivoTemporal;
};

template <>
struct Formato<Curso> {
  static constexpr std::size_t codigo = 0;
  static constexpr std::size_t nombre = 6;
  static constexpr std::size_t creditos = 46;
  static constexpr std::size_t tamano = 50;
  static constexpr const char* archivo = kArchivoCursos;
  static constexpr const char* temporal = kArchivoTemporalCursos;
};

template <>
struct Formato<NotaAlumno> {
  static constexpr std::size_t codigoAlumno = 0;
  static constexpr std::size_t codigoCurso = 9;
  static constexpr std::size_t practica1 = 15;
  static constexpr std::size_t practica2 = 19;
  static constexpr std::size_t practica3 = 23;
  static constexpr std::size_t examenParcial = 27;
  static constexpr std::size_t examenFinal = 31;
  static constexpr std::size_t tamano = 35;
  static constexpr const char* archivo = kArchivoNotas;
  static constexpr const char* temporal = kArchivoTemporalNotas;
};

// Each stored field follows the previous one with no gap and is exactly as
// wide as the struct's field, so the struct and the bytes cannot drift apart.
static_assert(Formato<Alumno>::codigo == 0);
static_assert(Formato<Alumno>::apellido == Formato<Alumno>::codigo + sizeof(Alumno::codigo));
static_assert(Formato<Alumno>::nombre == Formato<Alumno>::apellido + sizeof(Alumno::apellido));
static_assert(Formato<Alumno>::edad == Formato<Alumno>::nombre + sizeof(Alumno::nombre));
static_assert(Formato<Alumno>::tamano == Formato<Alumno>::edad + sizeof(Alumno::edad));
static_assert(Formato<Alumno>::apellido == 15 && Formato<Alumno>::nombre == 35 &&
              Formato<Alumno>::edad == 55 && Formato<Alumno>::tamano == 59);

static_assert(Formato<Curso>::codigo == 0);
static_assert(Formato<Curso>::nombre == Formato<Curso>::codigo + sizeof(Curso::codigo));
static_assert(Formato<Curso>::creditos == Formato<Curso>::nombre + sizeof(Curso::nombre));
static_assert(Formato<Curso>::tamano == Formato<Curso>::creditos + sizeof(Curso::creditos));
static_assert(Formato<Curso>::nombre == 6 && Formato<Curso>::creditos == 46 &&
              Formato<Curso>::tamano == 50);

static_assert(Formato<NotaAlumno>::codigoAlumno == 0);
static_assert(Formato<NotaAlumno>::codigoCurso ==
              Formato<NotaAlumno>::codigoAlumno + sizeof(NotaAlumno::codigoAlumno));
static_assert(Formato<NotaAlumno>::practica1 ==
              Formato<NotaAlumno>::codigoCurso + sizeof(NotaAlumno::codigoCurso));
static_assert(Formato<NotaAlumno>::practica2 ==
              Formato<NotaAlumno>::practica1 + sizeof(NotaAlumno::practica1));
static_assert(Formato<NotaAlumno>::practica3 ==
              Formato<NotaAlumno>::practica2 + sizeof(NotaAlumno::practica2));
static_assert(Formato<NotaAlumno>::examenParcial ==
              Formato<NotaAlumno>::practica3 + sizeof(NotaAlumno::practica3));
static_assert(Formato<NotaAlumno>::examenFinal ==
              Formato<NotaAlumno>::examenParcial + sizeof(NotaAlumno::examenParcial));
static_assert(Formato<NotaAlumno>::tamano ==
              Formato<NotaAlumno>::examenFinal + sizeof(NotaAlumno::examenFinal));
static_assert(Formato<NotaAlumno>::codigoCurso == 9 && Formato<NotaAlumno>::practica1 == 15 &&
              Formato<NotaAlumno>::practica2 == 19 && Formato<NotaAlumno>::practica3 == 23 &&
              Formato<NotaAlumno>::examenParcial == 27 && Formato<NotaAlumno>::examenFinal == 31 &&
              Formato<NotaAlumno>::tamano == 35);

// Each name field holds its longest text and the zero after it; a grade
// record's codes fill their fields as typed.
static_assert(sizeof(Alumno::apellido) == kLargoNombreAlumno + 1 &&
              sizeof(Alumno::nombre) == kLargoNombreAlumno + 1);
static_assert(sizeof(Curso::nombre) == kLargoNombreCurso + 1);
static_assert(sizeof(Alumno::codigo) > kFormaCodigoAlumno.size() &&
              sizeof(Curso::codigo) == kFormaCodigoCurso.size());
static_assert(sizeof(NotaAlumno::codigoAlumno) == kLargoCodigoAlumnoNota &&
              sizeof(NotaAlumno::codigoCurso) == kLargoCodigoCursoNota);

// A stored record's bytes.
template <class R>
using Bytes = std::array<unsigned char, Formato<R>::tamano>;
template <class R>
using BytesDe = std::span<const unsigned char, Formato<R>::tamano>;

// A stored integer: four bytes, the least significant first.
inline std::int32_t tomarEntero(const unsigned char* origen) {
  const std::uint32_t bits = std::uint32_t{origen[0]} | std::uint32_t{origen[1]} << 8 |
                             std::uint32_t{origen[2]} << 16 | std::uint32_t{origen[3]} << 24;
  return static_cast<std::int32_t>(bits);
}

namespace detalle {

inline void ponerEntero(unsigned char* destino, std::int32_t valor) {
  const auto bits = static_cast<std::uint32_t>(valor);
  destino[0] = static_cast<unsigned char>(bits);
  destino[1] = static_cast<unsigned char>(bits >> 8);
  destino[2] = static_cast<unsigned char>(bits >> 16);
  destino[3] = static_cast<unsigned char>(bits >> 24);
}

template <std::size_t N>
void ponerTexto(unsigned char* destino, const char (&campo)[N]) {
  std::memcpy(destino, campo, N);
}

// A stored text that fills its whole field has lost its terminator (another
// program wrote it, or the file is damaged); its last byte becomes the zero so
// that whoever prints the field stops inside it. Any other record comes out
// exactly as stored.
template <std::size_t N>
void tomarTextoTerminado(char (&campo)[N], const unsigned char* origen) {
  std::memcpy(campo, origen, N);
  if (campo[N - 1] != '\0' && std::memchr(campo, '\0', N - 1) == nullptr) campo[N - 1] = '\0';
}

template <std::size_t N>
void tomarTextoFijo(char (&campo)[N], const unsigned char* origen) {
  std::memcpy(campo, origen, N);
}

}  // namespace detalle

inline Bytes<Alumno> codificar(const Alumno& alumno) {
  using F = Formato<Alumno>;
  Bytes<Alumno> bytes;
  detalle::ponerTexto(bytes.data() + F::codigo, alumno.codigo);
  detalle::ponerTexto(bytes.data() + F::apellido, alumno.apellido);
  detalle::ponerTexto(bytes.data() + F::nombre, alumno.nombre);
  detalle::ponerEntero(bytes.data() + F::edad, alumno.edad);
  return bytes;
}

inline Bytes<Curso> codificar(const Curso& curso) {
  using F = Formato<Curso>;
  Bytes<Curso> bytes;
  detalle::ponerTexto(bytes.data() + F::codigo, curso.codigo);
  detalle::ponerTexto(bytes.data() + F::nombre, curso.nombre);
  detalle::ponerEntero(bytes.data() + F::creditos, curso.creditos);
  return bytes;
}

inline Bytes<NotaAlumno> codificar(const NotaAlumno& nota) {
  using F = Formato<NotaAlumno>;
  Bytes<NotaAlumno> bytes;
  detalle::ponerTexto(bytes.data() + F::codigoAlumno, nota.codigoAlumno);
  detalle::ponerTexto(bytes.data() + F::codigoCurso, nota.codigoCurso);
  detalle::ponerEntero(bytes.data() + F::practica1, nota.practica1);
  detalle::ponerEntero(bytes.data() + F::practica2, nota.practica2);
  detalle::ponerEntero(bytes.data() + F::practica3, nota.practica3);
  detalle::ponerEntero(bytes.data() + F::examenParcial, nota.examenParcial);
  detalle::ponerEntero(bytes.data() + F::examenFinal, nota.examenFinal);
  return bytes;
}

// Every zero-terminated text comes out terminated within its field, whatever
// the file held.
inline void decodificar(BytesDe<Alumno> bytes, Alumno& alumno) {
  using F = Formato<Alumno>;
  detalle::tomarTextoTerminado(alumno.codigo, bytes.data() + F::codigo);
  detalle::tomarTextoTerminado(alumno.apellido, bytes.data() + F::apellido);
  detalle::tomarTextoTerminado(alumno.nombre, bytes.data() + F::nombre);
  alumno.edad = tomarEntero(bytes.data() + F::edad);
}

inline void decodificar(BytesDe<Curso> bytes, Curso& curso) {
  using F = Formato<Curso>;
  detalle::tomarTextoFijo(curso.codigo, bytes.data() + F::codigo);
  detalle::tomarTextoTerminado(curso.nombre, bytes.data() + F::nombre);
  curso.creditos = tomarEntero(bytes.data() + F::creditos);
}

inline void decodificar(BytesDe<NotaAlumno> bytes, NotaAlumno& nota) {
  using F = Formato<NotaAlumno>;
  detalle::tomarTextoFijo(nota.codigoAlumno, bytes.data() + F::codigoAlumno);
  detalle::tomarTextoFijo(nota.codigoCurso, bytes.data() + F::codigoCurso);
  nota.practica1 = tomarEntero(bytes.data() + F::practica1);
  nota.practica2 = tomarEntero(bytes.data() + F::practica2);
  nota.practica3 = tomarEntero(bytes.data() + F::practica3);
  nota.examenParcial = tomarEntero(bytes.data() + F::examenParcial);
  nota.examenFinal = tomarEntero(bytes.data() + F::examenFinal);
}

// Whether stored student bytes are laid out as a student, whoever wrote
// them: the code, surname and name each end with a zero inside their fields.
// What the fields hold (letters or not, any age) is not looked at.
inline bool pareceAlumno(BytesDe<Alumno> bytes) {
  using F = Formato<Alumno>;
  auto terminado = [&](std::size_t desde, std::size_t ancho) {
    return std::memchr(bytes.data() + desde, 0, ancho) != nullptr;
  };
  return terminado(F::codigo, sizeof(Alumno::codigo)) &&
         terminado(F::apellido, sizeof(Alumno::apellido)) &&
         terminado(F::nombre, sizeof(Alumno::nombre));
}

// Puts `texto` into a zero-terminated field: at most N - 1 characters, then
// zeros to the end of the field. False when the text had to be cut.
template <std::size_t N>
bool copiarTexto(char (&campo)[N], std::string_view texto) {
  const std::size_t largo = texto.size() < N ? texto.size() : N - 1;
  if (largo > 0) std::memcpy(campo, texto.data(), largo);
  std::memset(campo + largo, 0, N - largo);
  return largo == texto.size();
}

// Puts `texto` into a code field as typed: the first N characters with no
// terminator, or a shorter text followed by zeros. Characters beyond the
// field are dropped.
template <std::size_t N>
void copiarCodigo(char (&campo)[N], std::string_view texto) {
  const std::size_t largo = texto.size() < N ? texto.size() : N;
  if (largo > 0) std::memcpy(campo, texto.data(), largo);
  std::memset(campo + largo, 0, N - largo);
}

}  // namespace store
