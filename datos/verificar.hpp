// alumnos-datos verificar: whether the files hold what the program could have
// written.
#pragma once

#include <cstddef>

#include "datos/csv.hpp"
#include "datos/lectura.hpp"

namespace datos {

// Reads the four files and writes to `salida` one line per finding, in file
// and record order, then a line with the counts. Problems are damage: a
// trailing fragment, a text without its zero, a code not of its form, a name
// with other than letters, a number out of its range, a student or course
// code stored twice. Notices are not: grades whose student or course is in
// no file, a scratch file left behind. `problemas` receives their number.
Lectura verificar(Salida& salida, std::size_t& problemas);

}  // namespace datos
