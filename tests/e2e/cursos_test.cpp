// Menu option 2, course entry, as a clerk meets it: the screen, the code read
// key by key, refused duplicates, the name and credits fields, and the bytes
// CURSO.txt holds afterwards, failures included.
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "comun.hpp"
#include "files.hpp"
#include "terminal.hpp"

namespace {

using e2e::expectMenu;
using harness::Position;
using harness::Terminal;

constexpr char kArchivo[] = "CURSO.txt";
constexpr char kPromptCodigo[] = " * Codigo del Curso : ";
constexpr char kPromptNombre[] = " * Nombre del Curso : ";
constexpr char kPromptCreditos[] = " * Creditos         : ";
constexpr char kRegistrado[] = " CURSO REGISTRADO... !!! ";
constexpr char kOtro[] = " Desea ingresar datos de otro curso <S/N> : ";
constexpr char kYaExiste[] = " Registro DE CURSO YA EXISTE ...!!!";
constexpr char kNoSeGraba[] = " No se pudo grabar en el archivo CURSO.txt ...!!! ";
constexpr char kNoSeAbre[] = " No se puede abrir el archivo CURSO.txt ...!!! ";

// The cells `texto` takes on the screen.
int ancho(std::string_view texto) {
  return static_cast<int>(texto.size());
}

// A 32-bit little-endian integer as stored.
std::string entero(std::uint32_t valor) {
  std::string bytes;
  for (int i = 0; i < 4; ++i)
    bytes += static_cast<char>((valor >> (8 * i)) & 0xFF);
  return bytes;
}

// A course record as it must lie on disk, built here byte by byte rather than
// by the program's own encoder: code (6, no terminator), name (40, zeros
// after it), credits.
std::string curso(std::string_view codigo, std::string_view nombre, std::uint32_t creditos) {
  std::string bytes(codigo);
  bytes += nombre;
  bytes += std::string(40 - nombre.size(), '\0');
  bytes += entero(creditos);
  EXPECT_EQ(bytes.size(), 50u);
  return bytes;
}

// Rows of the screen that must still be blank, from `desde` to the bottom.
void expectBlankFrom(const Terminal& t, int desde) {
  for (int row = desde; row <= t.rows(); ++row)
    EXPECT_EQ(t.row(row), "") << "row " << row << "\n" << t.dump();
}

void expectCodePrompt(const Terminal& t) {
  SCOPED_TRACE(t.dump());
  EXPECT_EQ(t.row(6), std::string(9, ' ') + " * Codigo del Curso :");
  EXPECT_EQ(t.cursor(), (Position{32, 6}));
  EXPECT_EQ(t.row(7), "");
}

// Key presses one at a time, each reaching a program that already waits for
// it; a UTF-8 character is one press and is sent whole, since the program
// reads a split one as two unknown keys.
void pressKeys(Terminal& t, std::string_view teclas) {
  for (std::size_t i = 0; i < teclas.size();) {
    std::size_t largo = 1;
    while (i + largo < teclas.size() &&
           (static_cast<unsigned char>(teclas[i + largo]) & 0xC0) == 0x80)
      ++largo;
    t.type(teclas.substr(i, largo));
    i += largo;
  }
}

// From the code prompt to the success message.
void typeCourse(Terminal& t, std::string_view codigo, std::string_view nombre,
                std::string_view creditos) {
  pressKeys(t, codigo);
  t.type(std::string(nombre) + "\r");
  t.type(std::string(creditos) + "\r");
}

// From the success message: a key, then the answer to "otro curso".
void acknowledgeAndAnswer(Terminal& t, std::string_view respuesta) {
  SCOPED_TRACE(t.dump());
  EXPECT_EQ(t.text(10, 12, ancho(kRegistrado)), kRegistrado);
  t.type("x");
  EXPECT_EQ(t.text(10, 8, ancho(kOtro)), kOtro);
  t.type(respuesta);
}

class Cursos : public ::testing::Test {
 protected:
  harness::ScratchDir dir;
};

TEST_F(Cursos, FirstCourseIsDrawnInPlaceAndStoredFieldByFieldAfterN) {
  Terminal t(dir.path());
  t.type("2\r");
  {
    SCOPED_TRACE(t.dump());
    // The heading in bright white, the counter after it in the terminal's own colours.
    EXPECT_EQ(t.row(4), std::string(11, ' ') + " INGRESAR DATOS DEL CURSO 1");
    EXPECT_EQ(t.foreground(12, 4), e2e::kBrightWhite);
    EXPECT_EQ(t.foreground(37, 4), e2e::kBrightWhite);
    EXPECT_EQ(t.foreground(38, 4), e2e::kDefault);
    EXPECT_EQ(t.text(10, 6, ancho(kPromptCodigo)), kPromptCodigo);
    EXPECT_EQ(t.foreground(12, 6), e2e::kDefault);
    EXPECT_EQ(t.cursor(), (Position{32, 6}));
    for (int row : {1, 2, 3, 5})
      EXPECT_EQ(t.row(row), "") << row;
    expectBlankFrom(t, 7);
    // The file is there from the moment the screen opens.
    EXPECT_EQ(dir.read(kArchivo), "");
  }

  pressKeys(t, "MA101A");
  {
    SCOPED_TRACE(t.dump());
    EXPECT_EQ(t.text(32, 6, 6), "MA101A");
    EXPECT_EQ(t.text(10, 7, ancho(kPromptNombre)), kPromptNombre);
    EXPECT_EQ(t.cursor(), (Position{32, 7}));
  }
  t.type("Fisica\r");
  {
    SCOPED_TRACE(t.dump());
    EXPECT_EQ(t.text(32, 7, 6), "Fisica");
    EXPECT_EQ(t.text(10, 8, ancho(kPromptCreditos)), kPromptCreditos);
    EXPECT_EQ(t.cursor(), (Position{32, 8}));
  }
  t.type("4\r");
  {
    SCOPED_TRACE(t.dump());
    EXPECT_EQ(t.text(10, 12, ancho(kRegistrado)), kRegistrado);
    EXPECT_EQ(t.foreground(11, 12), e2e::kDefault);
    EXPECT_EQ(t.cursor(), (Position{35, 12}));
    // Registered means on disk already, before the clerk's key.
    EXPECT_EQ(dir.read(kArchivo).size(), 50u);
  }
  t.type("x");
  {
    SCOPED_TRACE(t.dump());
    EXPECT_EQ(t.row(8), std::string(9, ' ') + std::string(kOtro, 43));
    EXPECT_EQ(t.cursor(), (Position{54, 8}));
    for (int row : {4, 6, 7, 12})
      EXPECT_EQ(t.row(row), "") << row;
  }
  // Anything but S or N is echoed and asked again at the same place.
  t.type("q");
  EXPECT_EQ(t.cursor(), (Position{54, 8})) << t.dump();
  t.type("n");
  expectMenu(t);

  const std::string bytes = dir.read(kArchivo);
  ASSERT_EQ(bytes.size(), 50u);
  EXPECT_EQ(bytes.substr(0, 6), "MA101A");
  EXPECT_EQ(bytes.substr(6, 40), std::string("Fisica") + std::string(34, '\0'));
  EXPECT_EQ(bytes.substr(46, 4), std::string("\x04\0\0\0", 4));
}

TEST_F(Cursos, ACodeAlreadyStoredSendsTheClerkBackToTheMenuAndTheProgramGoesOn) {
  Terminal t(dir.path());
  t.type("2\r");
  typeCourse(t, "MA101A", "Fisica", "3");
  acknowledgeAndAnswer(t, "S");
  EXPECT_EQ(t.text(12, 4, 27), " INGRESAR DATOS DEL CURSO 2") << t.dump();
  typeCourse(t, "QU200B", "Quimica", "5");
  acknowledgeAndAnswer(t, "s");
  EXPECT_EQ(t.text(12, 4, 27), " INGRESAR DATOS DEL CURSO 3") << t.dump();

  // Refused as soon as the sixth key is in: three rows below the code, from
  // the first column.
  pressKeys(t, "MA101A");
  {
    SCOPED_TRACE(t.dump());
    EXPECT_EQ(t.row(9), kYaExiste);
    EXPECT_EQ(t.cursor(), (Position{36, 9}));
    EXPECT_EQ(t.row(7), "");
  }
  ASSERT_FALSE(t.exited());
  t.type("z");
  expectMenu(t);
  EXPECT_EQ(dir.read(kArchivo), curso("MA101A", "Fisica", 3) + curso("QU200B", "Quimica", 5));

  // Still running: the next visit counts from 1 again and stores after both.
  t.type("2\r");
  EXPECT_EQ(t.text(12, 4, 27), " INGRESAR DATOS DEL CURSO 1") << t.dump();
  typeCourse(t, "IN300C", "Ingles", "1");
  acknowledgeAndAnswer(t, "N");
  expectMenu(t);
  EXPECT_EQ(dir.read(kArchivo), curso("MA101A", "Fisica", 3) + curso("QU200B", "Quimica", 5) +
                                    curso("IN300C", "Ingles", 1));
  t.type("0\r");
  EXPECT_EQ(t.waitExit(), 0);
}

struct CodigoCase {
  const char* name;
  const char* keys;  // exactly six key presses
  bool accepted;
};

TEST_F(Cursos, TheCodeIsTwoLettersThreeDigitsAndALetterAskedAgainWithoutLimit) {
  const CodigoCase cases[] = {
      {"upper case", "MA101A", true},
      {"lower case", "ma101a", true},
      {"mixed case", "mA999z", true},
      {"digit in second place", "M1101A", false},
      {"letter in fifth place", "MA10AA", false},
      {"digit at the end", "MA1011", false},
      {"Enter as the sixth key", "MA101\r", false},
      {"space inside", "MA 01A", false},
      {"accented letter",
       "M\xc3\x81"
       "101A",
       false},
      {"Backspace is a key, not an edit",
       "MA10\x7f"
       "1",
       false},
  };
  dir.write(kArchivo, "");
  Terminal t(dir.path());
  t.type("2\r");
  // Wrong codes are asked again in place, with no budget to run out.
  for (int round = 0; round < 2; ++round) {
    for (const CodigoCase& c : cases) {
      if (c.accepted) continue;
      pressKeys(t, c.keys);
      ASSERT_FALSE(t.exited()) << c.name;
      SCOPED_TRACE(c.name);
      expectCodePrompt(t);
    }
  }
  // Valid codes of either case are different courses.
  bool primero = true;
  std::string esperado;
  for (const CodigoCase& c : cases) {
    if (!c.accepted) continue;
    if (!primero) acknowledgeAndAnswer(t, "S");
    primero = false;
    typeCourse(t, c.keys, "Algebra", "2");
    EXPECT_EQ(t.text(10, 12, ancho(kRegistrado)), kRegistrado) << c.name << "\n" << t.dump();
    esperado += curso(c.keys, "Algebra", 2);
  }
  acknowledgeAndAnswer(t, "N");
  expectMenu(t);
  EXPECT_EQ(dir.read(kArchivo), esperado);
}

TEST_F(Cursos, CodesAreComparedWithStoredCoursesExactly) {
  // A course stored by an earlier run.
  dir.write(kArchivo, curso("MA101A", "Fisica", 3));
  Terminal t(dir.path());
  t.type("2\r");
  typeCourse(t, "ma101a", "Calculo", "4");
  acknowledgeAndAnswer(t, "S");
  typeCourse(t, "MA101B", "Calculo", "4");
  acknowledgeAndAnswer(t, "S");
  pressKeys(t, "MA101A");
  EXPECT_EQ(t.row(9), kYaExiste) << t.dump();
  t.type("z");
  expectMenu(t);
  EXPECT_EQ(dir.read(kArchivo), curso("MA101A", "Fisica", 3) + curso("ma101a", "Calculo", 4) +
                                    curso("MA101B", "Calculo", 4));
}

struct LineCase {
  const char* name;
  std::string line;
};

TEST_F(Cursos, NamesOfLettersUpToThirtyNineAreTakenOthersAskedAgain) {
  const std::string letras39(39, 'a');
  const LineCase uncounted[] = {
      {"40 letters", std::string(40, 'b')},
      {"200 letters", std::string(200, 'c')},
  };
  const LineCase wrong[] = {
      {"a space", "Fisica I"},
      {"a digit", "Fisica1"},
      {"a hyphen", "Fisico-Quimica"},
  };
  Terminal t(dir.path());
  t.type("2\r");
  pressKeys(t, "FI101A");
  // Too long is not a wrong entry: any number of them leaves the budget whole.
  for (int round = 0; round < 2; ++round) {
    for (const LineCase& c : uncounted) {
      t.type(c.line + "\r");
      ASSERT_FALSE(t.exited()) << c.name;
      EXPECT_EQ(t.row(7), std::string(9, ' ') + " * Nombre del Curso :") << c.name << t.dump();
      EXPECT_EQ(t.cursor(), (Position{32, 7})) << c.name << t.dump();
    }
  }
  // Three wrong entries are allowed...
  for (const LineCase& c : wrong) {
    t.type(c.line + "\r");
    EXPECT_EQ(t.cursor(), (Position{32, 7})) << c.name << t.dump();
  }
  t.type(letras39 + "\r");
  EXPECT_EQ(t.text(10, 8, ancho(kPromptCreditos)), kPromptCreditos) << t.dump();
  t.type("2\r");
  acknowledgeAndAnswer(t, "N");
  expectMenu(t);
  // ...and the longest name fills its field up to the zero in its last byte.
  const std::string bytes = dir.read(kArchivo);
  ASSERT_EQ(bytes.size(), 50u);
  EXPECT_EQ(bytes.substr(6, 39), letras39);
  EXPECT_EQ(bytes[45], '\0');
  EXPECT_EQ(bytes, curso("FI101A", letras39, 2));
}

TEST_F(Cursos, TheFourthWrongNameEndsTheProgramWithNothingStored) {
  Terminal t(dir.path());
  t.type("2\r");
  pressKeys(t, "FI101A");
  for (int i = 0; i < 4; ++i)
    t.type("Fisica I\r");
  EXPECT_EQ(t.text(20, 12, 52), "Paso el numero maximo de errores.....Vuelva otro dia") << t.dump();
  t.type("x");
  EXPECT_EQ(t.waitExit(), 0);
  EXPECT_EQ(dir.read(kArchivo), "");
}

TEST_F(Cursos, CreditsOutsideOneToFiveAreAskedAgainWithoutCounting) {
  const LineCase outOfRange[] = {
      {"zero", "0"},
      {"six", "6"},
      {"empty line", ""},
      {"far too large", "99999999999"},
  };
  struct Taken {
    const char* line;
    std::uint32_t stored;
  };
  const Taken taken[] = {{"1", 1}, {"5", 5}, {"03", 3}};

  Terminal t(dir.path());
  t.type("2\r");
  std::string esperado;
  char letra = 'A';
  for (const Taken& c : taken) {
    const std::string codigo = std::string("CR10") + static_cast<char>('0' + (letra - 'A')) + letra;
    if (letra != 'A') acknowledgeAndAnswer(t, "S");
    pressKeys(t, codigo);
    t.type("Arte\r");
    for (int round = 0; round < 2; ++round) {
      for (const LineCase& o : outOfRange) {
        t.type(o.line + "\r");
        ASSERT_FALSE(t.exited()) << o.name;
        SCOPED_TRACE(t.dump());
        EXPECT_EQ(t.row(8), std::string(9, ' ') + " * Creditos         :") << o.name;
        EXPECT_EQ(t.cursor(), (Position{32, 8})) << o.name;
      }
    }
    // A wrong entry still counts after them: three are allowed.
    for (int i = 0; i < 3; ++i)
      t.type("x\r");
    t.type(std::string(c.line) + "\r");
    EXPECT_EQ(t.text(10, 12, ancho(kRegistrado)), kRegistrado) << c.line << "\n" << t.dump();
    esperado += curso(codigo, "Arte", c.stored);
    ++letra;
  }
  acknowledgeAndAnswer(t, "N");
  expectMenu(t);
  EXPECT_EQ(dir.read(kArchivo), esperado);
}

TEST_F(Cursos, ATrailingFragmentIsOverwrittenAndNeverTakenForACourse) {
  // The fragment begins with the very code typed below: no reader sees it.
  const std::string primero = curso("HI100A", "Historia", 2);
  dir.write(kArchivo, primero + "MA101A\x07");
  Terminal t(dir.path());
  t.type("2\r");
  typeCourse(t, "MA101A", "Fisica", "3");
  acknowledgeAndAnswer(t, "N");
  expectMenu(t);
  EXPECT_EQ(dir.read(kArchivo), primero + curso("MA101A", "Fisica", 3));
}

TEST_F(Cursos, AnAppendThatFailsPartWayLeavesTheFileAsItWasAndSaysSo) {
  const std::string antes = curso("MA101A", "Fisica", 3) + curso("QU200B", "Quimica", 5);
  dir.write(kArchivo, antes);
  Terminal t(dir.path());
  // Room for 20 of the record's 50 bytes.
  rlimit limite{120, 120};
  ASSERT_EQ(::prlimit(t.pid(), RLIMIT_FSIZE, &limite, nullptr), 0);
  t.type("2\r");
  typeCourse(t, "IN300C", "Ingles", "1");
  {
    SCOPED_TRACE(t.dump());
    EXPECT_EQ(t.text(10, 20, ancho(kNoSeGraba)), kNoSeGraba);
    for (int row = 1; row <= t.rows(); ++row)
      EXPECT_EQ(t.row(row).find("REGISTRADO"), std::string::npos) << row;
  }
  EXPECT_EQ(dir.read(kArchivo), antes);
  t.type("x");
  expectMenu(t);
  t.type("0\r");
  EXPECT_EQ(t.waitExit(), 0);
  EXPECT_EQ(dir.read(kArchivo), antes);
}

TEST_F(Cursos, ADirectoryInPlaceOfTheFileIsReportedAndNothingIsAsked) {
  std::filesystem::create_directory(dir.path() + "/" + kArchivo);
  Terminal t(dir.path());
  t.type("2\r");
  {
    SCOPED_TRACE(t.dump());
    EXPECT_EQ(t.text(10, 20, ancho(kNoSeAbre)), kNoSeAbre);
    EXPECT_EQ(t.row(6), "");
  }
  t.type("x");
  expectMenu(t);
  EXPECT_TRUE(std::filesystem::is_directory(dir.path() + "/" + kArchivo));
  t.type("0\r");
  EXPECT_EQ(t.waitExit(), 0);
}

}  // namespace
