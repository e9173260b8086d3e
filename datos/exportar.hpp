// alumnos-datos exportar: one record file as CSV.
#pragma once

#include <cstdint>

#include "datos/csv.hpp"
#include "datos/lectura.hpp"

namespace datos {

enum class Tema : std::uint8_t { alumnos, cursos, notas };

// Writes a header row and then one row per whole record, in file order, to
// `salida`; a missing file gives the header alone. Grades come with their
// student's and course's names, empty when the code is in no file, and the
// average of the five. Nothing is written when a file cannot be opened.
Lectura exportar(Tema tema, char separador, Salida& salida);

}  // namespace datos
