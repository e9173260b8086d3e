// alumnos-datos importar: a spreadsheet's rows into a record file, by the
// rules the screens apply, all of them or none.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "datos/csv.hpp"
#include "datos/exportar.hpp"

namespace datos {

struct OpcionesImportar {
  char separador = '\0';    // '\0': the one the header line uses
  bool probar = false;      // check and report, and store nothing
  bool sinAcentos = false;  // names' accented letters stored as plain ones
};

// Checks every row of the CSV file `csv` (its bytes; `nombre` is what the
// report calls it) and, when every one is good, adds them after the records
// of `tema`'s file in the CSV's order, all at once, under the file's lock.
// Writes to `salida` one line per problem and per notice, in the CSV's line
// order, then the outcome; `problemas` receives how many problems kept the
// rows out (nothing is stored unless it is 0). When the file cannot be read,
// locked or written, returns the one line that says so, and nothing is
// stored.
std::optional<std::string> importar(Tema tema, std::string_view csv, std::string_view nombre,
                                    const OpcionesImportar& opciones, Salida& salida,
                                    std::size_t& problemas);

}  // namespace datos
