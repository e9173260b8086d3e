// alumnos-datos exportar: one record file as CSV.
#pragma once

#include <cstdint>
#include <string_view>

#include "datos/csv.hpp"
#include "datos/lectura.hpp"

namespace datos {

enum class Tema : std::uint8_t { alumnos, cursos, notas };

// Each export's header row: the names an import knows the columns by.
inline constexpr std::string_view kEncabezadoAlumnos[] = {"codigo", "apellido", "nombre", "edad"};
inline constexpr std::string_view kEncabezadoCursos[] = {"codigo", "nombre", "creditos"};
inline constexpr std::string_view kEncabezadoNotas[] = {
    "codigoAlumno", "apellido",  "nombre",        "codigoCurso", "nombreCurso", "practica1",
    "practica2",    "practica3", "examenParcial", "examenFinal", "promedio"};

struct OpcionesExportar {
  char separador = ',';
  bool marcaUtf8 = false;  // UTF-8's byte-order mark before the header
};

// Writes a header row and then one row per whole record, in file order, to
// `salida`; a missing file gives the header alone. Grades come with their
// student's and course's names, empty when the code is in no file, and the
// average of the five. Nothing is written when a file cannot be opened.
Lectura exportar(Tema tema, const OpcionesExportar& opciones, Salida& salida);

}  // namespace datos
