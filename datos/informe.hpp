// The import's report: its lines, put in the CSV's line order, and the words
// that tell what is wrong with a value.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "datos/csv.hpp"
#include "datos/lectorcsv.hpp"
#include "store/reglas.hpp"

namespace datos {

// Whether a field holds a name (letters only), or a grade's code.
bool esNombre(store::Campo campo);
bool esCodigoDeNota(store::Campo campo);

// Characters as a line of the report shows them: UTF-8, control codes as '?';
// and the same between double quotes.
std::string visible(std::u32string_view caracteres);
std::string entreComillas(std::u32string_view caracteres);

// "1 fila", "2 filas".
std::string contar(std::size_t cantidad, const char* uno, const char* varios);

// Why a value breaks its field's rule; why a row cannot be read.
std::string motivoDe(store::Veredicto veredicto, store::Campo campo, std::u32string_view valor);
std::string motivoDe(ErrorCsv error);

// The report's lines, put in the CSV's line order before they are written.
class Informe {
 public:
  void problema(std::size_t linea, std::string_view columna, const std::string& que) {
    ++problemas_;
    agregar(linea, columna, que);
  }
  void aviso(std::size_t linea, std::string_view columna, const std::string& que) {
    agregar(linea, columna, que);
  }
  std::size_t problemas() const { return problemas_; }

  void escribir(Salida& salida) {
    std::stable_sort(lineas_.begin(), lineas_.end(),
                     [](const Linea& a, const Linea& b) { return a.numero < b.numero; });
    for (const Linea& linea : lineas_) {
      salida.poner(linea.texto);
      salida.poner('\n');
    }
    lineas_.clear();
  }

 private:
  struct Linea {
    std::size_t numero;
    std::string texto;
  };
  void agregar(std::size_t linea, std::string_view columna, const std::string& que) {
    std::string texto = "linea " + std::to_string(linea);
    if (!columna.empty()) texto.append(", ").append(columna);
    lineas_.push_back({linea, texto + ": " + que});
  }

  std::vector<Linea> lineas_;
  std::size_t problemas_ = 0;
};

}  // namespace datos
