// One CSV field from one stored text, and numbers in rows, as a spreadsheet
// must receive them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "datos.hpp"
#include "datos/csv.hpp"

namespace {

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
        CasoTexto{"SpaceBeforeSignIsText", " =1", ',', " =1"}),
    datos_test::PorNombre());

TEST(CodificarTexto, AFieldIsItsBytesUpToTheZeroOrTheWholeWidth) {
  char destino[datos::largoMaximoCampo(9)];
  EXPECT_EQ(std::string(destino, datos::codificarTexto("ABC", 3, ',', destino)), "ABC");
  EXPECT_EQ(std::string(destino, datos::codificarTexto("AB\0CD", 5, ',', destino)), "AB");
  EXPECT_EQ(std::string(destino, datos::codificarTexto("12345678A", 9, ',', destino)), "12345678A");
  EXPECT_EQ(std::string(destino, datos::codificarTexto("1234567,\0###", 9, ',', destino)),
            "\"1234567,\"");
}

// Rows written through a Salida into memory.
class Filas : public ::testing::Test {
 protected:
  void SetUp() override {
    archivo_ = open_memstream(&datos_, &largo_);
    ASSERT_NE(archivo_, nullptr);
    salida_ = std::make_unique<datos::Salida>(archivo_);
  }
  void TearDown() override {
    salida_.reset();
    if (archivo_ != nullptr) std::fclose(archivo_);
    std::free(datos_);
  }
  std::string escrito() {
    EXPECT_TRUE(salida_->terminar());
    return std::string(datos_, largo_);
  }

  std::FILE* archivo_ = nullptr;
  char* datos_ = nullptr;
  std::size_t largo_ = 0;
  std::unique_ptr<datos::Salida> salida_;
};

TEST_F(Filas, FieldsAreSeparatedAndRowsEndInCrLf) {
  datos::EscritorCsv csv(*salida_, ',');
  csv.encabezado({"codigo", "edad"});
  csv.texto("Ana");
  csv.entero(20);
  csv.finDeFila();
  csv.texto("");
  csv.texto("");
  csv.finDeFila();
  EXPECT_EQ(escrito(), "codigo,edad\r\nAna,20\r\n,\r\n");
}

struct CasoNumero {
  const char* nombre;
  friend void PrintTo(const CasoNumero& c, std::ostream* os) { *os << c.nombre; }
  char separador;
  bool decimas;
  std::int64_t valor;
  std::string campo;
};

class Numeros : public Filas, public ::testing::WithParamInterface<CasoNumero> {};

TEST_P(Numeros, AreWrittenInFullWithTheirMark) {
  const CasoNumero& c = GetParam();
  datos::EscritorCsv csv(*salida_, c.separador);
  csv.texto("x");
  if (c.decimas) {
    csv.decimas(c.valor);
  } else {
    csv.entero(c.valor);
  }
  csv.finDeFila();
  EXPECT_EQ(escrito(), std::string("x") + c.separador + c.campo + "\r\n");
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

TEST(Salida, AFailedWriteIsKept) {
  std::FILE* lleno = std::fopen("/dev/full", "w");
  if (lleno == nullptr) GTEST_SKIP() << "no /dev/full here";
  {
    datos::Salida salida(lleno);
    salida.poner(std::string(200'000, 'x'));
    EXPECT_FALSE(salida.terminar());
    EXPECT_EQ(salida.fallo(), ENOSPC);
  }
  std::fclose(lleno);
}

}  // namespace
