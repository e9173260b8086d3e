// What the alumnos-datos tests share: records spelled out byte by byte, and
// the program run on a directory.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "files.hpp"
#include "terminal.hpp"

namespace datos_test {

// A stored text field: `texto` (which may hold its own zero and what follows
// it), then zeros up to `ancho`.
inline std::string campo(std::string_view texto, std::size_t ancho) {
  std::string bytes(texto.substr(0, ancho));
  bytes.resize(ancho, '\0');
  return bytes;
}

// A stored integer: four bytes, least significant first.
inline std::string entero(std::int32_t valor) {
  const auto bits = static_cast<std::uint32_t>(valor);
  std::string bytes;
  for (int i = 0; i < 4; ++i)
    bytes += static_cast<char>(bits >> (8 * i) & 0xFF);
  return bytes;
}

inline std::string alumno(std::string_view codigo, std::string_view apellido,
                          std::string_view nombre, std::int32_t edad) {
  return campo(codigo, 15) + campo(apellido, 20) + campo(nombre, 20) + entero(edad);
}

inline std::string curso(std::string_view codigo, std::string_view nombre, std::int32_t creditos) {
  return campo(codigo, 6) + campo(nombre, 40) + entero(creditos);
}

inline std::string nota(std::string_view alumno, std::string_view curso,
                        std::vector<std::int32_t> notas) {
  std::string bytes = campo(alumno, 9) + campo(curso, 6);
  for (const std::int32_t n : notas)
    bytes += entero(n);
  return bytes;
}

// Names a case of a parameterised test by its `nombre`.
struct PorNombre {
  template <class Caso>
  std::string operator()(const ::testing::TestParamInfo<Caso>& caso) const {
    return caso.param.nombre;
  }
};

// alumnos-datos with these words, in `dir`.
inline harness::Script correr(const harness::ScratchDir& dir, std::vector<std::string> palabras) {
  harness::Options opciones;
  opciones.program = ALUMNOS_DATOS_BINARY;
  opciones.args = std::move(palabras);
  opciones.deadline = std::chrono::milliseconds(60'000);
  return harness::runScript(dir.path(), "", opciones);
}

}  // namespace datos_test
