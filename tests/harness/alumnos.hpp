// Student records as the tests store them: built field by field and written
// with the program's own encoding, so a test states students, not bytes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "store/registros.hpp"

namespace harness {

struct Estudiante {
  std::string codigo;
  std::string apellido;
  std::string nombre;
  std::int32_t edad = 0;
};

// A text field as a reused buffer leaves it: the text, its zero, then junk
// that no screen may show.
template <std::size_t N>
void ponerTexto(char (&campo)[N], const std::string& texto) {
  const std::size_t largo = std::min(texto.size(), N - 1);
  std::memset(campo, '#', N);
  std::memcpy(campo, texto.data(), largo);
  campo[largo] = '\0';
}

// The 59 stored bytes of one student.
inline std::string registro(const Estudiante& e) {
  store::Alumno alumno;
  ponerTexto(alumno.codigo, e.codigo);
  ponerTexto(alumno.apellido, e.apellido);
  ponerTexto(alumno.nombre, e.nombre);
  alumno.edad = e.edad;
  const store::Bytes<store::Alumno> bytes = store::codificar(alumno);
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

inline std::string registros(const std::vector<Estudiante>& estudiantes) {
  std::string bytes;
  for (const Estudiante& e : estudiantes)
    bytes += registro(e);
  return bytes;
}

// Student number i (from 1): code 8 digits and 'A', letters-only names that
// differ from one student to the next, ages 0 to 60.
inline Estudiante numerado(int i) {
  char codigo[16];
  std::snprintf(codigo, sizeof codigo, "%08dA", i);
  std::string letras;
  for (int resto = i; resto > 0; resto /= 26)
    letras += static_cast<char>('a' + resto % 26);
  return {codigo, "Ape" + letras, "Nom" + letras, i % 61};
}

inline std::vector<Estudiante> numerados(int desde, int cuantos) {
  std::vector<Estudiante> estudiantes;
  for (int i = desde; i < desde + cuantos; ++i)
    estudiantes.push_back(numerado(i));
  return estudiantes;
}

// `cuantos` students numbered from 1, written quickly: one record renumbered.
inline std::string muchosAlumnos(int cuantos) {
  std::string plantilla = registro({"00000000A", "Perez", "Juan", 20});
  std::string bytes;
  bytes.reserve(plantilla.size() * static_cast<std::size_t>(cuantos));
  char codigo[16];
  for (int i = 1; i <= cuantos; ++i) {
    std::snprintf(codigo, sizeof codigo, "%08dA", i);
    plantilla.replace(0, 9, codigo);
    bytes += plantilla;
  }
  return bytes;
}

}  // namespace harness
