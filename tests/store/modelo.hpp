// The rules stored records follow, written out plainly: the model that the
// store's fast code comparison (CodigoBuscado) and the random-key runs are
// checked against.
#pragma once

#include <cstring>
#include <span>
#include <string_view>

#include "store/registros.hpp"
#include "store/reglas.hpp"

namespace store {

// Whether stored student bytes are a student the program could have written:
// a code of 8 digits and a letter then a zero, surname and name of letters
// only each ending in a zero inside its field, an age from 0 to 60. The bytes
// after a terminating zero are not looked at.
inline bool alumnoValido(BytesDe<Alumno> bytes) {
  using F = Formato<Alumno>;
  // A text without its zero is longer than any rule allows.
  auto cumple = [&](Campo campo, std::size_t desde, std::size_t ancho) {
    const auto* texto = reinterpret_cast<const char*>(bytes.data() + desde);
    return juzgar(campo, std::string_view(texto, ::strnlen(texto, ancho))) == Veredicto::bien;
  };
  return cumple(Campo::codigoAlumno, F::codigo, sizeof(Alumno::codigo)) &&
         cumple(Campo::nombreAlumno, F::apellido, sizeof(Alumno::apellido)) &&
         cumple(Campo::nombreAlumno, F::nombre, sizeof(Alumno::nombre)) &&
         kEdad.contiene(tomarEntero(bytes.data() + F::edad));
}

// Whether a stored code, read up to its terminating zero (or the whole field
// when there is none), is exactly `texto`: same length, same bytes, letter
// case included.
inline bool codigoIgual(std::span<const char> campo, std::string_view texto) {
  const std::size_t largo = ::strnlen(campo.data(), campo.size());
  return largo == texto.size() &&
         (largo == 0 || std::memcmp(campo.data(), texto.data(), largo) == 0);
}

template <std::size_t N>
bool codigoIgual(const char (&campo)[N], std::string_view texto) {
  return codigoIgual(std::span<const char>(campo, N), texto);
}

}  // namespace store
