// One CSV field from one stored text, and numbers in rows, as a spreadsheet
// must receive them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "datos.hpp"
#include "datos/csv.hpp"
#include "datos/lectorcsv.hpp"

namespace {

// What `escribir` writes through an EscritorCsv with this separator.
template <class F>
std::string filas(char separador, F&& escribir) {
  std::string escrito;
  datos::Salida salida([&](std::string_view bytes) {
    escrito += bytes;
    return 0;
  });
  datos::EscritorCsv csv(salida, separador);
  escribir(csv);
  EXPECT_TRUE(salida.terminar());
  return escrito;
}

struct CasoTexto {
  const char* nombre;
  friend void PrintTo(const CasoTexto& c, std::ostream* os) { *os << c.nombre; }
  std::string texto;  // Latin-1, as stored
  char separador;
  std::string campo;  // UTF-8, as written
};

class CampoDeTexto : public ::testing::TestWithParam<CasoTexto> {};

TEST_P(CampoDeTexto, IsWhatASpreadsheetShows) {
  const CasoTexto& c = GetParam();
  EXPECT_EQ(datos::campoDeTexto(c.texto, c.separador), c.campo);
}

// The same text stored in a field of 20 or 40 bytes, with bytes after its
// zero that would change the field if they were taken for text.
TEST_P(CampoDeTexto, IsTheSameFromAStoredFieldWithJunkAfterItsZero) {
  const CasoTexto& c = GetParam();
  auto almacenado = [&](auto& campo, char basura) {
    std::memset(campo, basura, sizeof campo);
    std::memcpy(campo, c.texto.data(), c.texto.size());
    campo[c.texto.size()] = '\0';
    return filas(c.separador, [&](datos::EscritorCsv& csv) { csv.texto(campo); });
  };
  char cuarenta[40];
  EXPECT_EQ(almacenado(cuarenta, ','), c.campo);
  if (c.texto.size() < 20) {
    char veinte[20];
    EXPECT_EQ(almacenado(veinte, '"'), c.campo);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Textos, CampoDeTexto,
    ::testing::Values(
        CasoTexto{"Plain", "Perez", ',', "Perez"}, CasoTexto{"Empty", "", ',', ""},
        CasoTexto{"LongPlainTextGoesWordByWord", "Administracion de Empresas", ',',
                  "Administracion de Empresas"},
        CasoTexto{"CommaInTheSecondWord", "Administracion, Arte", ',', "\"Administracion, Arte\""},
        CasoTexto{"Latin1InTheSecondWord", "Administraci\xF3n", ',', "Administraci\xC3\xB3n"},
        CasoTexto{"DeleteInTheSecondWord", "Administracion\x7F", ',', "Administracion "},
        CasoTexto{"Latin1AsUtf8",
                  "P\xE9rez N\xFA\xF1"
                  "ez",
                  ',',
                  "P\xC3\xA9rez N\xC3\xBA\xC3\xB1"
                  "ez"},
        CasoTexto{"HighestLatin1AndNoBreakSpace", "\xFF\xA0", ',', "\xC3\xBF\xC2\xA0"},
        CasoTexto{"CommaIsQuoted", "Perez, Juan", ',', "\"Perez, Juan\""},
        CasoTexto{"CommaIsPlainUnderSemicolon", "Perez, Juan", ';', "Perez, Juan"},
        CasoTexto{"SemicolonIsQuotedUnderSemicolon", "a;b", ';', "\"a;b\""},
        CasoTexto{"QuoteIsDoubled", "O\"Neil", ',', "\"O\"\"Neil\""},
        CasoTexto{"OnlyQuotes", "\"\"", ',', "\"\"\"\"\"\""},
        CasoTexto{"QuoteAfterLatin1", "\xD1\"", ',', "\"\xC3\x91\"\"\""},
        CasoTexto{"ControlBytesAreSpaces",
                  "a\x01\x1F\x7F\x85\x9F"
                  "b",
                  ',', "a     b"},
        CasoTexto{"LineEndsAreSpaces", "uno\r\ndos\n", ',', "uno  dos "},
        CasoTexto{"TabIsASpaceUnderTab", "a\tb", '\t', "a b"},
        CasoTexto{"SpaceIsQuotedUnderSpace", "a b", ' ', "\"a b\""},
        CasoTexto{"ControlIsQuotedUnderSpace", "a\x02", ' ', "\"a \""},
        CasoTexto{"EqualsIsNotRun", "=1+2", ',', "'=1+2"},
        CasoTexto{"PlusIsNotRun", "+34911", ',', "'+34911"},
        CasoTexto{"MinusIsNotRun", "-5", ',', "'-5"},
        CasoTexto{"AtIsNotRun", "@SUMA(A1)", ',', "'@SUMA(A1)"},
        CasoTexto{"FormulaWithCommaIsQuotedToo", "=A1,B1", ',', "\"'=A1,B1\""},
        CasoTexto{"FormulaWithQuote", "=\"x\"", ',', "\"'=\"\"x\"\"\""},
        CasoTexto{"FormulaSignLaterIsText", "a=b-c", ',', "a=b-c"},
        CasoTexto{"SpaceBeforeSignIsNotRun", " =1", ',', "' =1"},
        CasoTexto{"TabBeforeSignIsNotRun", "\t@SUM(1)", ',', "' @SUM(1)"},
        CasoTexto{"NoBreakSpaceBeforeSignIsNotRun", "\xA0+1", ',', "'\xC2\xA0+1"},
        CasoTexto{"BlanksAloneAreText", "  ", ',', "  "},
        CasoTexto{"ApostropheSeparatorQuotesTheApostrophe", "=1+2", '\'', "\"'=1+2\""},
        CasoTexto{"ApostropheSeparatorInText", "O'Neil", '\'', "\"O'Neil\""}),
    datos_test::PorNombre());

// Whatever the separator, a row read back as a spreadsheet splits it has
// its three fields, and no field a spreadsheet would run: its first
// character after any blanks is no formula sign, or it is the apostrophe.
TEST(Formulas, NoFieldReadBackStartsAFormulaWithAnySeparator) {
  const std::string textos[] = {"=1+2",        " =2+3",  "\t@SUM(1)", "\r\n-1", "\xA0+1",
                                "=A1,B1;C1'D", "O'Neil", "=\"x\"",    "a=b"};
  for (const char separador : {',', ';', '\t', '\'', ' ', '|', '=', '-', '@'}) {
    for (const std::string& texto : textos) {
      SCOPED_TRACE(testing::Message()
                   << "separator " << separador << ", " << testing::PrintToString(texto));
      const std::string fila = filas(separador, [&](datos::EscritorCsv& csv) {
        csv.texto("a");
        csv.texto(texto);
        csv.texto("z");
        csv.finDeFila();
      });
      datos::LectorCsv lector(fila, separador);
      datos::FilaCsv leida;
      ASSERT_TRUE(lector.siguiente(leida));
      ASSERT_EQ(leida.error, datos::ErrorCsv::ninguno);
      ASSERT_EQ(leida.campos.size(), 3u);
      EXPECT_EQ(leida.campos[0], "a");
      EXPECT_EQ(leida.campos[2], "z");
      const std::string& campo = leida.campos[1];
      const std::size_t primero = campo.find_first_not_of(" \xC2\xA0");
      ASSERT_NE(primero, std::string::npos);
      if (campo[0] != '\'') {
        EXPECT_EQ(std::string("=+-@").find(campo[primero]), std::string::npos);
      }
    }
  }
}

TEST(TextoAlmacenado, IsItsBytesUpToTheZeroOrTheWholeField) {
  struct Caso {
    std::string bytes;  // the whole field
    std::string campo;
  };
  // Fields of 9 and 15 bytes, read in two overlapping words of eight.
  for (const Caso& c : std::vector<Caso>{{"12345678A", "12345678A"},
                                         {std::string("1234\0,\"\x01\xFF", 9), "1234"},
                                         {"1234567,8", "\"1234567,8\""},
                                         {"12345678\xD1", "12345678\xC3\x91"},
                                         {"=23456789", "'=23456789"},
                                         {std::string("\0\x01\x02,\"=====", 9), ""}}) {
    const std::string escrito =
        filas(',', [&](datos::EscritorCsv& csv) { csv.texto<9>(c.bytes.data()); });
    EXPECT_EQ(escrito, c.campo) << "from " << testing::PrintToString(c.bytes);
  }
  for (const Caso& c : std::vector<Caso>{{"12345678A123456", "12345678A123456"},
                                         {std::string("12345678A\0,,\"\x01\x02", 15), "12345678A"},
                                         {"12345678A12345\"", "\"12345678A12345\"\"\""},
                                         {"12345678A12345\x7F", "12345678A12345 "}}) {
    const std::string escrito =
        filas(',', [&](datos::EscritorCsv& csv) { csv.texto<15>(c.bytes.data()); });
    EXPECT_EQ(escrito, c.campo) << "from " << testing::PrintToString(c.bytes);
  }
}

TEST(Filas, FieldsAreSeparatedAndRowsEndInCrLf) {
  const std::string escrito = filas(',', [](datos::EscritorCsv& csv) {
    csv.encabezado({"codigo", "edad"});
    csv.texto("Ana");
    csv.entero(20);
    csv.finDeFila();
    csv.texto(std::string_view());
    csv.texto(std::string_view());
    csv.finDeFila();
  });
  EXPECT_EQ(escrito, "codigo,edad\r\nAna,20\r\n,\r\n");
}

struct CasoNumero {
  const char* nombre;
  friend void PrintTo(const CasoNumero& c, std::ostream* os) { *os << c.nombre; }
  char separador;
  bool decimas;
  std::int64_t valor;
  std::string campo;
};

class Numeros : public ::testing::TestWithParam<CasoNumero> {};

TEST_P(Numeros, AreWrittenInFullWithTheirMark) {
  const CasoNumero& c = GetParam();
  const std::string escrito = filas(c.separador, [&](datos::EscritorCsv& csv) {
    csv.texto("x");
    if (c.decimas) {
      csv.decimas(c.valor);
    } else {
      csv.entero(c.valor);
    }
    csv.finDeFila();
  });
  EXPECT_EQ(escrito, std::string("x") + c.separador + c.campo + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Valores, Numeros,
    ::testing::Values(CasoNumero{"Zero", ',', false, 0, "0"},
                      CasoNumero{"Negative", ',', false, -7, "-7"},
                      CasoNumero{"Largest", ',', false, 2147483647, "2147483647"},
                      CasoNumero{"Smallest", ',', false, -2147483648LL, "-2147483648"},
                      CasoNumero{"NegativeQuotedUnderMinus", '-', false, -7, "\"-7\""},
                      CasoNumero{"TenthsWithPoint", ',', true, 124, "12.4"},
                      CasoNumero{"TenthsWithCommaUnderSemicolon", ';', true, 124, "12,4"},
                      CasoNumero{"ZeroTenths", ',', true, 0, "0.0"},
                      CasoNumero{"NegativeTenthsBelowOne", ',', true, -6, "-0.6"},
                      CasoNumero{"TwentyExactly", ',', true, 200, "20.0"},
                      CasoNumero{"TenthsQuotedUnderPoint", '.', true, 124, "\"12.4\""}),
    datos_test::PorNombre());

// What goes out is handed on in order, in pieces the size of the buffer at
// most, and nothing more after a piece fails: its error number is kept.
TEST(Salida, HandsEveryByteOnInOrderAndStopsAtTheFirstFailure) {
  constexpr std::size_t kCapacidad = datos::Salida::kCapacidad;
  std::string texto(2 * kCapacidad + 10, '\0');
  for (std::size_t i = 0; i < texto.size(); ++i)
    texto[i] = static_cast<char>('a' + i % 26);
  for (const int fallaEn : {0, 1, 2, 3}) {  // which write fails; 0: none
    SCOPED_TRACE(fallaEn);
    std::string escrito;
    int llamadas = 0;
    datos::Salida salida([&](std::string_view bytes) {
      EXPECT_LE(bytes.size(), kCapacidad);
      if (++llamadas == fallaEn) return 28;
      escrito += bytes;
      return 0;
    });
    salida.poner('<');
    salida.poner(texto);
    salida.poner(">");
    EXPECT_EQ(salida.terminar(), fallaEn == 0);
    EXPECT_EQ(salida.fallo(), fallaEn == 0 ? 0 : 28);
    if (fallaEn == 0) {
      EXPECT_EQ(escrito, "<" + texto + ">");
    } else {
      EXPECT_EQ(llamadas, fallaEn) << "a write after the failed one";
      EXPECT_EQ(escrito, ("<" + texto).substr(0, escrito.size()));
    }
  }
}

}  // namespace
