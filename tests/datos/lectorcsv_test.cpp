// Reading CSV as spreadsheets save it: rows and their lines, quoting and its
// faults, the separator of a header, and the two encodings a file comes in.
#include "datos/lectorcsv.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using datos::ErrorCsv;

struct Fila {
  std::size_t linea;
  std::vector<std::string> campos;
  ErrorCsv error = ErrorCsv::ninguno;
  std::size_t campoDelError = 0;
  bool operator==(const Fila&) const = default;
};

void PrintTo(const Fila& f, std::ostream* os) {
  *os << "line " << f.linea << " error " << static_cast<int>(f.error) << "@" << f.campoDelError;
  for (const std::string& c : f.campos)
    *os << " [" << c << "]";
}

std::vector<Fila> filas(std::string_view csv, char separador = ',') {
  datos::LectorCsv lector(csv, separador);
  std::vector<Fila> leidas;
  datos::FilaCsv fila;
  while (lector.siguiente(fila)) {
    leidas.push_back({fila.linea, fila.campos, fila.error,
                      fila.error == ErrorCsv::ninguno ? 0 : fila.campoDelError});
  }
  return leidas;
}

struct CasoFilas {
  const char* nombre;
  std::string csv;
  std::vector<Fila> esperadas;
};

TEST(LectorCsv, RowsFieldsAndTheLinesTheyStartOn) {
  const CasoFilas casos[] = {
      {"CR LF, and a last line without its end", "a,b\r\nc,d", {{1, {"a", "b"}}, {2, {"c", "d"}}}},
      {"LF and a lone CR", "a,b\nc,d\re,f\n", {{1, {"a", "b"}}, {2, {"c", "d"}}, {3, {"e", "f"}}}},
      {"blank lines and rows of empty fields are skipped, and counted",
       "a,b\r\n\r\n,\r\n  , \r\nc,d\r\n\r\n",
       {{1, {"a", "b"}}, {5, {"c", "d"}}}},
      {"quotes hold separators, doubled quotes and line ends, which count as lines",
       "\"x,y\",\"say \"\"hi\"\"\"\r\n\"two\r\nlines\",z\r\nlast,row",
       {{1, {"x,y", "say \"hi\""}}, {2, {"two\r\nlines", "z"}}, {4, {"last", "row"}}}},
      {"empty fields, quoted or not", "a,,\"\"\n", {{1, {"a", "", ""}}}},
      {"a quote inside a field that does not start with one",
       "a,b\"c\nd,e",
       {{1, {"a", "b\"c"}, ErrorCsv::comillasEnCampo, 1}, {2, {"d", "e"}}}},
      {"text after a closing quote",
       "\"a\"b,c\nd,e",
       {{1, {"a", "c"}, ErrorCsv::textoTrasComillas, 0}, {2, {"d", "e"}}}},
      {"quotes still open at the end of the file",
       "a,b\nc,\"d\ne,f",
       {{1, {"a", "b"}}, {2, {"c", "d\ne,f"}, ErrorCsv::comillasSinCerrar, 1}}},
  };
  for (const CasoFilas& caso : casos)
    EXPECT_EQ(filas(caso.csv), caso.esperadas) << caso.nombre;
  EXPECT_EQ(filas("a;\"b;c\tz\"", ';'), (std::vector<Fila>{{1, {"a", "b;c\tz"}}}))
      << "another separator";
}

TEST(LectorCsv, TheSeparatorIsTheOneTheHeaderUsesOutsideQuotes) {
  const std::pair<std::string, char> casos[] = {
      {"codigo,apellido,nombre,edad\r\n", ','},
      {"codigo;apellido;nombre;edad\r\n1,2,3", ';'},
      {"codigo\tapellido\tnombre\tedad", '\t'},
      {"\"a;b\",c\n", ','},
      {"\"a,b,c\";d;e\n", ';'},
      {"\r\n\r\ncodigo;nombre", ';'},
      {"codigo", ','},
  };
  for (const auto& [csv, separador] : casos)
    EXPECT_EQ(datos::separadorDe(csv), separador) << csv;
}

TEST(LectorCsv, UtfEightWithOrWithoutItsMarkElseWindows1252) {
  struct Caso {
    std::string bytes;
    datos::Codificacion codificacion;
    std::u32string caracteres;  // the bytes after any mark
  };
  const Caso casos[] = {
      {"Mu\xC3\xB1oz", datos::Codificacion::utf8, U"Mu\u00F1oz"},
      {"\xEF\xBB\xBFJos\xC3\xA9", datos::Codificacion::utf8, U"Jos\u00E9"},
      {"\xE2\x82\xAC", datos::Codificacion::utf8, U"\u20AC"},
      {"Mu\xF1oz", datos::Codificacion::windows1252, U"Mu\u00F1oz"},
      {"\x80\x8A\x9F\xFF", datos::Codificacion::windows1252, U"\u20AC\u0160\u0178\u00FF"},
      // Well-formed but for one overlong form, or a character cut short.
      {"\xC3\xA9\xC0\xAF", datos::Codificacion::windows1252, U"\u00C3\u00A9\u00C0\u00AF"},
      {"ok\xC3", datos::Codificacion::windows1252, U"ok\u00C3"},
  };
  for (const Caso& caso : casos) {
    const datos::TextoCsv texto = datos::prepararCsv(caso.bytes);
    EXPECT_EQ(texto.codificacion, caso.codificacion) << caso.bytes;
    std::u32string caracteres;
    datos::decodificar(texto.bytes, texto.codificacion, caracteres);
    EXPECT_TRUE(caracteres == caso.caracteres) << caso.bytes;
  }
}

}  // namespace
