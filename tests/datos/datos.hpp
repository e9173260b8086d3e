// What the alumnos-datos tests share: records spelled out byte by byte, and
// the program run on a directory.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <map>
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

// A school whose files hold what a spreadsheet trips on: Latin-1 names, a
// comma and a quote, a formula, bytes after a zero, a fragment, codes in no
// file, a course name of all 39 letters.
inline void escribirEscuela(const harness::ScratchDir& dir) {
  dir.write("ALUMNO.txt", alumno("12345678A", "P\xE9rez", "Jos\xE9", 20) +
                              alumno("87654321B", "O\"Neil, Jr", "=1+2", 61) +
                              alumno(std::string("11111111C\0#####", 15),
                                     std::string("Ruiz\0basura", 11), "Ana", 18) +
                              "12345");
  dir.write("CURSO.txt", curso("MA101A", "Matematica", 4) +
                             curso("FI201B", std::string(39, 'F'), 5) +
                             curso("QU301C", "Qu\xEDmica; org\xE1nica", 3));
  dir.write("NOTAALUMNO.txt", nota("12345678A", "MA101A", {10, 11, 12, 13, 14}) +
                                  nota("99999999Z", "FI201B", {20, 20, 20, 20, 19}) +
                                  nota("123", "XX9", {0, 0, 0, 0, 1}) +
                                  nota("87654321B", "-1", {5, 5, 5, 5, 5}) + "abc");
}

// Files the program could have written: every code found, every value in
// range, empty names allowed, bytes after each zero left as they were.
inline std::map<std::string, std::string> limpios() {
  return {
      {"ALUMNO.txt",
       alumno("12345678A", "Perez", "Juan", 0) +
           alumno(std::string("87654321B\0xy", 12), std::string("Ruiz\0###", 8), "", 60)},
      {"CURSO.txt", curso("MA101A", "Matematica", 1) + curso("fi201b", std::string(39, 'F'), 5)},
      {"NOTAALUMNO.txt", nota("12345678A", "MA101A", {0, 20, 10, 0, 20}) +
                             nota("87654321B", "fi201b", {20, 20, 20, 20, 20})},
  };
}

inline void escribir(const harness::ScratchDir& dir,
                     const std::map<std::string, std::string>& archivos) {
  for (const auto& [nombre, bytes] : archivos)
    dir.write(nombre, bytes);
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
