// Validated field input, driven through a pipe as a script would drive it.
#include "app/entrada.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <string_view>

#include "app/estado.hpp"
#include "console/console.hpp"
#include "console/posix/terminal.hpp"

namespace {

using namespace std::string_view_literals;

// The console reading `input` from a pipe, its output thrown away. The C
// locale: lines are kept byte for byte.
class Entrada : public ::testing::Test {
 protected:
  void teclear(const std::string& input) {
    ::setenv("LC_ALL", "C", 1);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    ::close(fds[1]);
    lectura_ = fds[0];
    nulo_ = ::open("/dev/null", O_WRONLY);
    console::posix::useDescriptors({lectura_, nulo_, nulo_});
    console::openConsole();
    estado() = EstadoPrograma{};
  }
  void TearDown() override {
    console::closeConsole();
    if (lectura_ >= 0) ::close(lectura_);
    if (nulo_ >= 0) ::close(nulo_);
  }
  int lectura_ = -1;
  int nulo_ = -1;
};

struct CasoLinea {
  std::string_view linea;
  ModoDato modo;
  bool valido;
};

TEST_F(Entrada, EachLineIsJudgedByEveryCharacterOfItsMode) {
  const CasoLinea casos[] = {
      {"", kSoloDigitos, true},
      {"", kSoloLetras, true},
      {"0123456789", kSoloDigitos, true},
      {"12a", kSoloDigitos, false},
      {"-3", kSoloDigitos, false},
      {" 5", kSoloDigitos, false},
      {"Perez", kSoloLetras, true},
      {"AZaz", kSoloLetras, true},
      {"Ana Maria", kSoloLetras, false},
      {"de-la", kSoloLetras, false},
      {"O'Neil", kSoloLetras, false},
      {"Jos\xC3\xA9", kSoloLetras, false},
      {"Juan2", kSoloLetras, false},
      {"@[`{", kSoloLetras, false},
      {"/:", kSoloDigitos, false},
      // A NUL (Ctrl+Space) is a character like any other, wherever it stands.
      {"1\0x"sv, kSoloDigitos, false},
      {"1\0"sv, kSoloDigitos, false},
      {"\0"sv, kSoloLetras, false},
      {"Ana\0"sv, kSoloLetras, false},
  };
  std::string guion;
  for (const CasoLinea& caso : casos)
    guion += std::string(caso.linea) + "\n";
  teclear(guion);
  for (const CasoLinea& caso : casos) {
    estado().errores = 0;
    leerDato(caso.modo);
    EXPECT_EQ(estado().datoValido, caso.valido) << '"' << caso.linea << '"';
    EXPECT_EQ(std::string_view(estado().lineaEntrada, caso.linea.size() + 1),
              std::string(caso.linea) + '\0');
    EXPECT_EQ(estado().errores, caso.valido ? 0 : 1) << '"' << caso.linea << '"';
  }
}

TEST_F(Entrada, ThreeWrongLinesThenAValidOneKeepTheCountAtThree) {
  teclear("x\ny\nz\n42\n");
  EXPECT_EQ(pedirNumero(10, 5, "Edad: ", 0, 60), 42);
  EXPECT_EQ(estado().errores, 3);
}

TEST_F(Entrada, TheFourthWrongLineEndsTheProgramWithStatusZero) {
  EXPECT_EXIT(
      {
        teclear("a\nb\nc\nd\nq");
        pedirNumero(10, 5, "Edad: ", 0, 60);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(Entrada, TheBudgetCarriedInIsWhatIsLeft) {
  // A field that starts with two wrong entries already counted ends at the second.
  EXPECT_EXIT(
      {
        teclear("a\nb\nq");
        estado().errores = 2;
        leerDato(kSoloDigitos);
        leerDato(kSoloDigitos);
        std::exit(7);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(Entrada, NumbersOutOfRangeAreAskedAgainWithoutCounting) {
  std::string guion;
  for (int i = 0; i < 100; ++i)
    guion += "75\n";
  guion += "x\n61\n99999999999999999999\n60\n";
  teclear(guion);
  EXPECT_EQ(pedirNumero(18, 11, " * Edad                : ", 0, 60), 60);
  EXPECT_EQ(estado().errores, 1);
}

TEST_F(Entrada, AnEmptyNumberIsZero) {
  teclear("\n\n3\n");
  EXPECT_EQ(pedirNumero(10, 8, "Creditos: ", 0, 5), 0);
  EXPECT_EQ(pedirNumero(10, 8, "Creditos: ", 1, 5), 3);
}

struct CasoNumero {
  const char* linea;
  std::int32_t valor;
};

TEST(Numero, DecimalDigitsStopAtTheLimitsOfThirtyTwoBits) {
  const CasoNumero casos[] = {
      {"", 0},
      {"0", 0},
      {"05", 5},
      {"60", 60},
      {"2147483647", 2147483647},
      {"2147483648", 2147483647},
      {"99999999999999999999999", 2147483647},
  };
  for (const CasoNumero& caso : casos)
    EXPECT_EQ(aNumero(caso.linea), caso.valor) << caso.linea;
}

TEST_F(Entrada, ANameLongerThanItsFieldIsAskedAgainWithoutCounting) {
  teclear("ABCDEFGHIJKLMNOPQRST\nAna Maria\nABCDEFGHIJKLMNOPQRS\n");
  EXPECT_STREQ(pedirNombre(18, 9, " * Apellido del alumno : ", 19), "ABCDEFGHIJKLMNOPQRS");
  EXPECT_EQ(estado().errores, 1);
}

TEST_F(Entrada, AnEmptyNameIsAccepted) {
  teclear("\n");
  EXPECT_STREQ(pedirNombre(18, 10, " * Nombre del alumno   : ", 19), "");
  EXPECT_EQ(estado().errores, 0);
}

TEST_F(Entrada, TheEndOfInputEndsTheProgramWithStatusZero) {
  EXPECT_EXIT(
      {
        teclear("x\n");
        pedirNumero(10, 5, "Edad: ", 0, 60);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
