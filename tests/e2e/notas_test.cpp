// Menu option 3, grade entry, as a clerk meets it: the screen, the two codes
// taken as typed, the five grades and the bytes NOTAALUMNO.txt holds
// afterwards, failures included; and whole sessions scripted on standard input.
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "comun.hpp"
#include "files.hpp"
#include "terminal.hpp"

namespace {

using e2e::expectMenu;
using harness::Position;
using harness::Terminal;

constexpr char kArchivo[] = "NOTAALUMNO.txt";
constexpr char kOtra[] = " Desea ingresar notas de otro alumno <S/N> : ";
constexpr char kNoSeGraba[] = " No se pudo grabar en el archivo NOTAALUMNO.txt ...!!! ";

struct Prompt {
  int row;
  const char* text;
};
constexpr Prompt kNotas[] = {
    {11, " Practica # 1   : "}, {12, " Practica # 2   : "}, {13, " Practica # 3   : "},
    {14, " Examen Parcial : "}, {15, " Examen final   : "},
};

// The cells `texto` takes on the screen.
int ancho(std::string_view texto) {
  return static_cast<int>(texto.size());
}

std::string entero(std::uint32_t valor) {
  std::string bytes;
  for (int i = 0; i < 4; ++i)
    bytes += static_cast<char>((valor >> (8 * i)) & 0xFF);
  return bytes;
}

// A grade record as it must lie on disk, built byte by byte: the two code
// fields exactly as given (15 bytes together), then the five grades.
std::string nota(std::string_view codigos, std::uint32_t p1, std::uint32_t p2, std::uint32_t p3,
                 std::uint32_t parcial, std::uint32_t examenFinal) {
  std::string bytes(codigos);
  EXPECT_EQ(bytes.size(), 15u);
  for (std::uint32_t valor : {p1, p2, p3, parcial, examenFinal})
    bytes += entero(valor);
  return bytes;
}

// The row as drawn when a field's prompt is the last thing on it.
std::string promptRow(int column, std::string_view prompt) {
  std::string row(static_cast<std::size_t>(column - 1), ' ');
  row += prompt.substr(0, prompt.size() - 1);  // trailing blank trimmed
  return row;
}

// From the first code prompt to the wait for a key after the record is stored.
void typeRecord(Terminal& t, std::string_view alumno, std::string_view curso,
                const std::string (&notas)[5]) {
  t.type(std::string(alumno) + "\r");
  t.type(std::string(curso) + "\r");
  for (const std::string& n : notas)
    t.type(n + "\r");
}

// From the wait for a key: the key, then the answer to "otro alumno".
void acknowledgeAndAnswer(Terminal& t, std::string_view respuesta) {
  t.type("k");
  EXPECT_EQ(t.text(15, 8, ancho(kOtra)), kOtra) << t.dump();
  t.type(respuesta);
}

class Notas : public ::testing::Test {
 protected:
  harness::ScratchDir dir;
};

TEST_F(Notas, OneRecordIsDrawnInPlaceAndStoredAsThirtyFiveBytes) {
  Terminal t(dir.path());
  t.type("3\r");
  {
    SCOPED_TRACE(t.dump());
    EXPECT_EQ(t.row(4), std::string(9, ' ') + " INGRESAR NOTAS DEL ALUMNO 1");
    EXPECT_EQ(t.foreground(10, 4), e2e::kBrightWhite);
    EXPECT_EQ(t.foreground(36, 4), e2e::kBrightWhite);
    EXPECT_EQ(t.foreground(37, 4), e2e::kDefault);
    EXPECT_EQ(t.row(7), promptRow(10, "Codigo Alumno   : "));
    EXPECT_EQ(t.foreground(10, 7), e2e::kDefault);
    EXPECT_EQ(t.cursor(), (Position{28, 7}));
    for (int row : {1, 2, 3, 5, 6})
      EXPECT_EQ(t.row(row), "") << row;
    for (int row = 8; row <= 25; ++row)
      EXPECT_EQ(t.row(row), "") << row;
    EXPECT_EQ(dir.read(kArchivo), "");
  }
  t.type("12345678A\r");
  EXPECT_EQ(t.row(8), promptRow(10, "Codigo del curso: ")) << t.dump();
  EXPECT_EQ(t.cursor(), (Position{28, 8})) << t.dump();
  t.type("MA101A\r");
  {
    SCOPED_TRACE(t.dump());
    EXPECT_EQ(t.text(28, 7, 9), "12345678A");
    EXPECT_EQ(t.text(28, 8, 6), "MA101A");
    EXPECT_EQ(t.row(10), std::string(14, ' ') + " Ingreso de Evaluaciones");
  }
  std::uint32_t valor = 10;
  for (const Prompt& p : kNotas) {
    SCOPED_TRACE(t.dump());
    EXPECT_EQ(t.row(p.row), promptRow(15, p.text)) << p.text;
    EXPECT_EQ(t.cursor(), (Position{33, p.row})) << p.text;
    t.type(std::to_string(valor++) + "\r");
  }
  // Stored before the key that follows, with no message.
  const std::string esperado = nota("12345678AMA101A", 10, 11, 12, 13, 14);
  EXPECT_EQ(dir.read(kArchivo), esperado);
  EXPECT_EQ(t.row(16), "") << t.dump();
  EXPECT_EQ(t.row(20), "") << t.dump();
  t.type("k");
  {
    SCOPED_TRACE(t.dump());
    EXPECT_EQ(t.row(8), promptRow(15, kOtra));
    EXPECT_EQ(t.cursor(), (Position{60, 8}));
    for (int row : {4, 7, 10, 11, 15})
      EXPECT_EQ(t.row(row), "") << row;
  }
  t.type("N");
  expectMenu(t);
  const std::string bytes = dir.read(kArchivo);
  ASSERT_EQ(bytes.size(), 35u);
  EXPECT_EQ(bytes.substr(0, 9), "12345678A");
  EXPECT_EQ(bytes.substr(9, 6), "MA101A");
  EXPECT_EQ(bytes.substr(15),
            std::string("\x0a\0\0\0\x0b\0\0\0\x0c\0\0\0\x0d\0\0\0\x0e\0\0\0", 20));
}

struct CodigosCase {
  const char* name;
  std::string alumno;
  std::string curso;
  std::string stored;  // the 15 bytes of the two code fields
};

TEST_F(Notas, CodesAreStoredAsTypedCutToTheirFieldsAndEndedByAZeroWhenShorter) {
  const std::string z(1, '\0');
  const CodigosCase cases[] = {
      {"both codes whole", "12345678A", "MA101A", "12345678AMA101A"},
      {"empty student code", "", "MA101A", std::string(9, '\0') + "MA101A"},
      {"student code '123'", "123", "MA101A", "123" + std::string(6, '\0') + "MA101A"},
      {"empty course code", "12345678A", "", "12345678A" + std::string(6, '\0')},
      {"short course code", "87654321B", "MA1", "87654321BMA1" + std::string(3, '\0')},
      {"codes too long are cut", "12345678ABCDEF", "MA101AXYZ", "12345678AMA101A"},
      {"never checked", "ab cd-1", "x 2", "ab cd-1" + z + z + "x 2" + z + z + z},
      // Typed in a UTF-8 terminal, each character is one byte, as it is shown.
      {"five N-tildes", "\xC3\x91\xC3\x91\xC3\x91\xC3\x91\xC3\x91",
       "\xE2\x82\xAC"
       "1",
       "\xD1\xD1\xD1\xD1\xD1" + z + z + z + z + "?1" + z + z + z + z},
      {"a NUL is a character", "12" + z + "34", "M" + z + "A",
       "12" + z + "34" + z + z + z + z + "M" + z + "A" + z + z + z},
      {"longer than any line kept", std::string(300, '7'), std::string(300, 'Q'),
       "777777777QQQQQQ"},
  };
  Terminal t(dir.path());
  t.type("3\r");
  std::string esperado;
  std::uint32_t contador = 0;
  for (const CodigosCase& c : cases) {
    SCOPED_TRACE(c.name);
    if (contador > 0) acknowledgeAndAnswer(t, "s");
    ++contador;
    EXPECT_EQ(t.row(4),
              std::string(9, ' ') + " INGRESAR NOTAS DEL ALUMNO " + std::to_string(contador))
        << t.dump();
    const std::string notas[5] = {"1", "2", "3", "4", std::to_string(contador)};
    typeRecord(t, c.alumno, c.curso, notas);
    esperado += nota(c.stored, 1, 2, 3, 4, contador);
    EXPECT_EQ(dir.read(kArchivo), esperado);
  }
  acknowledgeAndAnswer(t, "n");
  expectMenu(t);
  EXPECT_EQ(dir.read(kArchivo), esperado);
}

struct GradeLine {
  const char* line;
  bool retaken;  // asked again; a wrong entry only when it is not all digits
};

TEST_F(Notas, EachGradeIsZeroToTwentyWithAFreshBudgetOfThreeWrongEntries) {
  // Typed at every grade in turn, before the grade that is taken.
  const GradeLine askedAgain[] = {
      {"21", true}, {"x", true}, {"100", true}, {"1 0", true}, {"21", true}, {"-1", true},
  };
  struct Taken {
    const char* line;
    std::uint32_t stored;
  };
  const Taken taken[5] = {{"20", 20}, {"", 0}, {"007", 7}, {"0", 0}, {"19", 19}};

  Terminal t(dir.path());
  t.type("3\r");
  t.type("12345678A\r");
  t.type("MA101A\r");
  for (int i = 0; i < 5; ++i) {
    const Prompt& p = kNotas[i];
    for (const GradeLine& g : askedAgain) {
      t.type(std::string(g.line) + "\r");
      ASSERT_FALSE(t.exited()) << p.text << " '" << g.line << "'";
      SCOPED_TRACE(t.dump());
      EXPECT_EQ(t.row(p.row), promptRow(15, p.text)) << g.line;
      EXPECT_EQ(t.cursor(), (Position{33, p.row})) << g.line;
    }
    t.type(std::string(taken[i].line) + "\r");
  }
  EXPECT_EQ(dir.read(kArchivo), nota("12345678AMA101A", 20, 0, 7, 0, 19));
  acknowledgeAndAnswer(t, "N");
  expectMenu(t);
}

TEST_F(Notas, TheFourthWrongGradeEndsTheProgramWithNothingStored) {
  Terminal t(dir.path());
  t.type("3\r");
  t.type("12345678A\r");
  t.type("MA101A\r");
  t.type("12\r");
  for (int i = 0; i < 4; ++i)
    t.type("doce\r");
  EXPECT_EQ(t.text(20, 12, 52), "Paso el numero maximo de errores.....Vuelva otro dia") << t.dump();
  t.type("x");
  EXPECT_EQ(t.waitExit(), 0);
  EXPECT_EQ(dir.read(kArchivo), "");
}

TEST_F(Notas, ALaterVisitAppendsAfterEveryEarlierRecord) {
  const std::string anterior = nota("11111111AIN300C", 5, 5, 5, 5, 5);
  dir.write(kArchivo, anterior);
  Terminal t(dir.path());
  const std::string notas[5] = {"10", "11", "12", "13", "14"};
  std::string esperado = anterior;
  for (const char* alumno : {"12345678A", "87654321B"}) {
    t.type("3\r");
    // Every visit counts from 1.
    EXPECT_EQ(t.text(10, 4, 28), " INGRESAR NOTAS DEL ALUMNO 1") << t.dump();
    typeRecord(t, alumno, "MA101A", notas);
    acknowledgeAndAnswer(t, "N");
    expectMenu(t);
    esperado += nota(std::string(alumno) + "MA101A", 10, 11, 12, 13, 14);
    EXPECT_EQ(dir.read(kArchivo), esperado);
  }
}

TEST_F(Notas, ANewRecordLandsAtTheLastWholeRecordBoundary) {
  const std::string anterior = nota("11111111AIN300C", 5, 5, 5, 5, 5);
  dir.write(kArchivo, anterior + "fragmento!");
  Terminal t(dir.path());
  t.type("3\r");
  const std::string notas[5] = {"10", "11", "12", "13", "14"};
  typeRecord(t, "12345678A", "MA101A", notas);
  acknowledgeAndAnswer(t, "N");
  expectMenu(t);
  EXPECT_EQ(dir.read(kArchivo), anterior + nota("12345678AMA101A", 10, 11, 12, 13, 14));
}

TEST_F(Notas, AnAppendThatFailsPartWayLeavesTheFileAsItWasAndSaysSo) {
  const std::string antes =
      nota("11111111AIN300C", 5, 5, 5, 5, 5) + nota("22222222BQU200B", 6, 6, 6, 6, 6);
  dir.write(kArchivo, antes);
  Terminal t(dir.path());
  // Room for 10 of the record's 35 bytes.
  rlimit limite{80, 80};
  ASSERT_EQ(::prlimit(t.pid(), RLIMIT_FSIZE, &limite, nullptr), 0);
  t.type("3\r");
  const std::string notas[5] = {"10", "11", "12", "13", "14"};
  typeRecord(t, "12345678A", "MA101A", notas);
  EXPECT_EQ(t.text(10, 20, ancho(kNoSeGraba)), kNoSeGraba) << t.dump();
  EXPECT_EQ(dir.read(kArchivo), antes);
  // The key goes back to the menu, not on to another record.
  t.type("x");
  expectMenu(t);
  t.type("0\r");
  EXPECT_EQ(t.waitExit(), 0);
  EXPECT_EQ(dir.read(kArchivo), antes);
}

TEST_F(Notas, AFileThatCannotBeOpenedAsksForNoGrades) {
  std::filesystem::create_directory(dir.path() + "/" + kArchivo);
  Terminal t(dir.path());
  t.type("3\r");
  {
    SCOPED_TRACE(t.dump());
    EXPECT_EQ(t.row(1), "Crear el archivo");
    EXPECT_EQ(t.cursor(), (Position{17, 1}));
    for (int row = 2; row <= 25; ++row)
      EXPECT_EQ(t.row(row), "") << row;
  }
  t.type("x");
  expectMenu(t);
  EXPECT_TRUE(std::filesystem::is_directory(dir.path() + "/" + kArchivo));
  t.type("0\r");
  EXPECT_EQ(t.waitExit(), 0);
}

// Curso bytes for the scripted sessions: code, name and zeros, credits.
std::string curso(std::string_view codigo, std::string_view nombre, std::uint32_t creditos) {
  return std::string(codigo) + std::string(nombre) + std::string(40 - nombre.size(), '\0') +
         entero(creditos);
}

class Sesion : public ::testing::Test {
 protected:
  harness::ScratchDir dir;
};

TEST_F(Sesion, ACourseAndAGradeRecordScriptedOnStandardInput) {
  // Keys and lines share standard input: the six code keys, then the name's
  // line; a single key after a record, then the S/N answer.
  const harness::Script s = harness::runScript(dir.path(),
                                               "2\n"
                                               "MA101AFisica\n3\nxN"
                                               "3\n"
                                               "12345678A\nMA101A\n10\n11\n12\n13\n14\nxN"
                                               "0\n");
  EXPECT_EQ(s.status, 0);
  EXPECT_EQ(s.errors, "");
  EXPECT_NE(s.output.find(" CURSO REGISTRADO... !!! "), std::string::npos);
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"CURSO.txt", "NOTAALUMNO.txt"}));
  EXPECT_EQ(dir.read("CURSO.txt"), curso("MA101A", "Fisica", 3));
  EXPECT_EQ(dir.read(kArchivo), nota("12345678AMA101A", 10, 11, 12, 13, 14));
}

struct EndCase {
  const char* name;
  const char* input;
  const char* file;  // opened by the screen, so created, and left empty
};

TEST_F(Sesion, InputThatEndsInsideAScreenEndsTheProgramWithNoPartRecord) {
  const EndCase cases[] = {
      {"inside a course code", "2\nMA1", "CURSO.txt"},
      {"at a course's credits", "2\nMA101AFisica\n", "CURSO.txt"},
      {"at a grade", "3\n12345678A\nMA101A\n10\n11\n", kArchivo},
  };
  for (const EndCase& c : cases) {
    harness::ScratchDir vacio;
    const harness::Script s = harness::runScript(vacio.path(), c.input);
    EXPECT_EQ(s.status, 0) << c.name;
    EXPECT_EQ(vacio.names(), std::vector<std::string>{c.file}) << c.name;
    EXPECT_EQ(vacio.read(c.file), "") << c.name;
  }
}

}  // namespace
