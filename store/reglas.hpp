// What each field of the records may hold: the rules the screens apply as a
// clerk types, that alumnos-datos checks stored records by, and that an
// import applies to every row. Written once, here.
//
//   letter, digit       the ASCII ones only (A-Z, a-z, 0-9)
//   student code        8 digits and a letter            kFormaCodigoAlumno
//   course code         letter, letter, 3 digits, letter kFormaCodigoCurso
//   names               letters only, at most 19 (students) or 39 (courses)
//   grade record codes  as typed, at most 9 and 6 characters
//   age, credits, grade 0-60, 1-5, 0-20                    kEdad kCreditos kNota
//   numbers             a line of digits, empty as 0     aNumero
//
// juzgar puts them together for one field's value, as typed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>

namespace store {

constexpr bool esDigito(int c) noexcept {
  return c >= '0' && c <= '9';
}

constexpr bool esLetra(int c) noexcept {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The classes a code's form and a line's check are spelt in: 'd' a digit,
// 'l' a letter; any other class takes every character.
inline constexpr char kDigito = 'd';
inline constexpr char kLetra = 'l';

constexpr bool esDeClase(int c, char clase) noexcept {
  if (clase == kDigito) return esDigito(c);
  if (clase == kLetra) return esLetra(c);
  return true;
}

// Whether every character of `texto` is of `clase`; an empty text is.
constexpr bool todoDeClase(std::string_view texto, char clase) noexcept {
  for (const char c : texto) {
    if (!esDeClase(static_cast<unsigned char>(c), clase)) return false;
  }
  return true;
}

// A code's form: one class per character, as many characters as classes.
inline constexpr std::string_view kFormaCodigoAlumno = "ddddddddl";
inline constexpr std::string_view kFormaCodigoCurso = "lldddl";

constexpr bool tieneForma(std::string_view codigo, std::string_view forma) noexcept {
  if (codigo.size() != forma.size()) return false;
  for (std::size_t i = 0; i < forma.size(); ++i) {
    if (!esDeClase(static_cast<unsigned char>(codigo[i]), forma[i])) return false;
  }
  return true;
}

// The longest text each field takes. Names are followed by their zero in
// the record; grade records keep the codes as typed, with no zero when
// they fill the field.
inline constexpr std::size_t kLargoNombreAlumno = 19;  // surname and given name
inline constexpr std::size_t kLargoNombreCurso = 39;
inline constexpr std::size_t kLargoCodigoAlumnoNota = 9;
inline constexpr std::size_t kLargoCodigoCursoNota = 6;

struct Rango {
  std::int32_t minimo;
  std::int32_t maximo;
  constexpr bool contiene(std::int64_t valor) const noexcept {
    return valor >= minimo && valor <= maximo;
  }
};

inline constexpr Rango kEdad{0, 60};
inline constexpr Rango kCreditos{1, 5};
inline constexpr Rango kNota{0, 20};  // each practical and examination

// A typed line as the number it stands for: its leading digits in decimal,
// an empty line 0; beyond 32 bits it stops at the largest value, which
// every range then refuses.
constexpr std::int32_t aNumero(std::string_view linea) noexcept {
  constexpr std::int64_t kMaximo = std::numeric_limits<std::int32_t>::max();
  std::int64_t valor = 0;
  for (const char c : linea) {
    if (!esDigito(c)) break;
    valor = valor * 10 + (c - '0');
    if (valor > kMaximo) valor = kMaximo;
  }
  return static_cast<std::int32_t>(valor);
}

// Each field a clerk types or an import brings, by its rule.
enum class Campo : std::uint8_t {
  codigoAlumno,      // a student's code: kFormaCodigoAlumno
  codigoCurso,       // a course's code: kFormaCodigoCurso
  nombreAlumno,      // a student's surname or given name
  nombreCurso,       // a course's name
  edad,              // kEdad
  creditos,          // kCreditos
  nota,              // each of a grade record's five: kNota
  codigoAlumnoNota,  // a grade record's student code, as typed
  codigoCursoNota,   // a grade record's course code, as typed
};

// What a value makes of its field's rule.
enum class Veredicto : std::uint8_t {
  bien,
  forma,      // a code not of its form
  noLetras,   // a name with something other than letters
  noDigitos,  // a number with something other than digits
  largo,      // a text longer than the field takes
  rango,      // a number outside its range
};

// The range of a numeric field; none for the others.
constexpr Rango rangoDe(Campo campo) noexcept {
  switch (campo) {
    case Campo::edad:
      return kEdad;
    case Campo::creditos:
      return kCreditos;
    case Campo::nota:
      return kNota;
    default:
      return {0, -1};
  }
}

// The longest text a text field takes, or 0 for a code of fixed form or a
// number.
constexpr std::size_t largoDe(Campo campo) noexcept {
  switch (campo) {
    case Campo::nombreAlumno:
      return kLargoNombreAlumno;
    case Campo::nombreCurso:
      return kLargoNombreCurso;
    case Campo::codigoAlumnoNota:
      return kLargoCodigoAlumnoNota;
    case Campo::codigoCursoNota:
      return kLargoCodigoCursoNota;
    default:
      return 0;
  }
}

// `valor`, exactly as typed, judged by `campo`'s rule, as the screens judge
// it: a code by its form; a name by its letters, then its length; a number
// by its digits (an empty one is 0), then its range; a grade record's code
// by its length alone.
constexpr Veredicto juzgar(Campo campo, std::string_view valor) noexcept {
  switch (campo) {
    case Campo::codigoAlumno:
      return tieneForma(valor, kFormaCodigoAlumno) ? Veredicto::bien : Veredicto::forma;
    case Campo::codigoCurso:
      return tieneForma(valor, kFormaCodigoCurso) ? Veredicto::bien : Veredicto::forma;
    case Campo::nombreAlumno:
    case Campo::nombreCurso:
      if (!todoDeClase(valor, kLetra)) return Veredicto::noLetras;
      return valor.size() <= largoDe(campo) ? Veredicto::bien : Veredicto::largo;
    case Campo::edad:
    case Campo::creditos:
    case Campo::nota:
      if (!todoDeClase(valor, kDigito)) return Veredicto::noDigitos;
      return rangoDe(campo).contiene(aNumero(valor)) ? Veredicto::bien : Veredicto::rango;
    case Campo::codigoAlumnoNota:
    case Campo::codigoCursoNota:
      return valor.size() <= largoDe(campo) ? Veredicto::bien : Veredicto::largo;
  }
  return Veredicto::bien;
}

// The plain letter of a Latin-1 letter with an accent, a tilde, a
// diaeresis or a cedilla ('\xF1' n, '\xC9' E); 0 for any other code.
constexpr char letraSinAcento(unsigned char c) noexcept {
  // From 0xC0, upper case then lower case (lower = upper + 0x20); '\0' where
  // the letter has none of those marks (AE, ETH, O with a stroke, THORN,
  // sharp s, A with a ring) or the code is a sign.
  constexpr char kPlanas[] =
      "AAAAA\0\0CEEEEIIII\0NOOOOO\0\0UUUUY\0\0"
      "aaaaa\0\0ceeeeiiii\0nooooo\0\0uuuuy\0y";
  static_assert(sizeof kPlanas == 2 * 32 + 1);
  if (c < 0xC0) return '\0';
  return kPlanas[c - 0xC0];
}

}  // namespace store
