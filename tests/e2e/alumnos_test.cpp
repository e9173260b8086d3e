// Menu option 1, the student entry screen, as a clerk meets it: what is drawn
// where, what is asked again, what ends the program, and the bytes that land
// in ALUMNO.txt.
#include <sys/resource.h>
#include <sys/types.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "comun.hpp"
#include "files.hpp"
#include "screen.hpp"
#include "terminal.hpp"

namespace {

using e2e::expectMenu;
using harness::Key;
using harness::Position;
using harness::Terminal;

constexpr char kArchivo[] = "ALUMNO.txt";

constexpr char kEncabezado[] = "Ingreso de datos del alumno  ";
constexpr char kRaya[] = "---------------------------------";
constexpr char kPideCodigo[] = " * Codigo del Alumno   : ";
constexpr char kPideApellido[] = " * Apellido del alumno : ";
constexpr char kPideNombre[] = " * Nombre del alumno   : ";
constexpr char kPideEdad[] = " * Edad                : ";
constexpr char kYaExiste[] = " El alumno ya existe  ";
constexpr char kPregunta[] = " Desea ingresar datos de otro alumno <S/N> : ";
constexpr char kNoSeAbre[] = " No se puede abrir el archivo ALUMNO.txt ...!!! ";
constexpr char kNoSeGraba[] = " No se pudo grabar en el archivo ALUMNO.txt ...!!! ";
constexpr char kNota[] = "Nota: numero maximo de errores por ingreso de datos = 3";

// Where the cursor waits after each prompt, and after the question.
constexpr int kColumnaDato = 43;
constexpr int kColumnaRespuesta = 60;

// `texto` starting at `columna`, as one row of the screen.
std::string en(int columna, std::string_view texto) {
  return std::string(static_cast<std::size_t>(columna - 1), ' ') + std::string(texto);
}

// A row as row() gives it back: trailing blanks are not kept.
std::string comoFila(std::string fila) {
  fila.erase(fila.find_last_not_of(' ') + 1);
  return fila;
}

// The whole screen: the rows listed as given, every other row blank.
void expectFilas(const Terminal& t, const std::map<int, std::string>& filas) {
  SCOPED_TRACE(t.dump());
  for (int row = 1; row <= t.rows(); ++row) {
    const auto fila = filas.find(row);
    EXPECT_EQ(t.row(row), fila == filas.end() ? "" : comoFila(fila->second)) << "row " << row;
  }
}

std::map<int, std::string> pantallaAlumno(int contador) {
  return {{5, en(18, kEncabezado + std::to_string(contador) + "  :")},
          {6, en(18, kRaya)},
          {8, en(18, kPideCodigo)}};
}

// A stored student, spelled out byte by byte: each text padded with zeros to
// its width, then the age as four little-endian bytes.
std::string registro(std::string_view codigo, std::string_view apellido, std::string_view nombre,
                     std::int32_t edad) {
  auto campo = [](std::string_view texto, std::size_t ancho) {
    std::string bytes(texto);
    bytes.resize(ancho, '\0');
    return bytes;
  };
  std::string bytes = campo(codigo, 15) + campo(apellido, 20) + campo(nombre, 20);
  const auto bits = static_cast<std::uint32_t>(edad);
  for (int i = 0; i < 4; ++i)
    bytes += static_cast<char>((bits >> (8 * i)) & 0xFF);
  return bytes;
}

const std::string kAna = registro("12345678A", "Perez", "Ana", 20);
const std::string kLuis = registro("87654321z", "Gomez", "Luis", 33);
const std::string kEva = registro("11111111B", "Ruiz", "Eva", 5);

// Keys go one at a time, as the screen reads them; lines go whole with Enter.
void teclas(Terminal& t, std::string_view bytes) {
  t.typeByteByByte(bytes);
}
void linea(Terminal& t, std::string_view texto) {
  t.type(std::string(texto) + "\r");
}

struct Alumno {
  const char* codigo;
  const char* apellido;
  const char* nombre;
  const char* edad;
};

// Types one student's four fields, from the code prompt to the question.
void ingresar(Terminal& t, const Alumno& a) {
  teclas(t, a.codigo);
  linea(t, a.apellido);
  linea(t, a.nombre);
  linea(t, a.edad);
}

// Whether the running program holds ALUMNO.txt open.
bool tieneAbierto(pid_t pid) {
  namespace fs = std::filesystem;
  for (const fs::directory_entry& fd :
       fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
    std::error_code error;
    const fs::path destino = fs::read_symlink(fd.path(), error);
    if (!error && destino.filename() == kArchivo) return true;
  }
  return false;
}

void expectPregunta(const Terminal& t) {
  SCOPED_TRACE(t.dump());
  EXPECT_EQ(t.text(15, 8, 45), kPregunta);
  EXPECT_EQ(t.cursor(), (Position{kColumnaRespuesta, 8}));
}

void expectAvisoDeErrores(Terminal& t) {
  SCOPED_TRACE(t.dump());
  EXPECT_EQ(t.text(25, 25, 55), kNota);
  EXPECT_EQ(t.foreground(25, 25), e2e::kYellow);
  ASSERT_FALSE(t.exited());
  t.type("q");
  EXPECT_EQ(t.waitExit(), 0);
  EXPECT_TRUE(e2e::inLineMode(t.mode()));
}

class IngresoDeAlumnos : public ::testing::Test {
 protected:
  // The program at the student screen, waiting for the code.
  Terminal& abrir() {
    t_.emplace(dir.path());
    t_->type("1\r");
    return *t_;
  }

  harness::ScratchDir dir;

 private:
  std::optional<Terminal> t_;
};

TEST_F(IngresoDeAlumnos, TheFirstStudentEverCreatesTheFileWithOneRecordOf59Bytes) {
  ASSERT_FALSE(dir.exists(kArchivo));
  Terminal& t = abrir();
  EXPECT_TRUE(dir.exists(kArchivo));
  ingresar(t, {"12345678A", "Perez", "Juan", "26"});
  expectPregunta(t);
  // On disk before the question is even answered.
  static constexpr char kBytes[] =
      "12345678A\0\0\0\0\0\0"                 // codigo, 0..14
      "Perez\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0"   // apellido, 15..34
      "Juan\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0"  // nombre, 35..54
      "\x1a\0\0\0";                           // edad 26, 55..58
  static_assert(sizeof kBytes - 1 == 59);
  const std::string esperado(kBytes, sizeof kBytes - 1);
  EXPECT_EQ(dir.read(kArchivo), esperado);
  teclas(t, "n");
  teclas(t, "k");
  expectMenu(t);
  EXPECT_EQ(dir.read(kArchivo), esperado);
  EXPECT_EQ(dir.names(), std::vector<std::string>{kArchivo});
}

TEST_F(IngresoDeAlumnos, EachStudentIsDrawnInPlaceAndCountedWithinTheVisit) {
  struct Paso {
    const char* que;
    std::string tecleo;
    bool esLinea;
    std::map<int, std::string> filas;
    Position cursor;
  };
  std::map<int, std::string> conCodigo = pantallaAlumno(1);
  conCodigo[8] += "12345678A";
  conCodigo[9] = en(18, kPideApellido);
  std::map<int, std::string> conApellido = conCodigo;
  conApellido[9] += "Perez";
  conApellido[10] = en(18, kPideNombre);
  std::map<int, std::string> conNombre = conApellido;
  conNombre[10] += "Juan";
  conNombre[11] = en(18, kPideEdad);
  const Paso pasos[] = {
      {"the code", "12345678A", false, conCodigo, {kColumnaDato, 9}},
      {"the surname", "Perez", true, conApellido, {kColumnaDato, 10}},
      {"the name", "Juan", true, conNombre, {kColumnaDato, 11}},
      {"the age", "26", true, {{8, en(15, kPregunta)}}, {kColumnaRespuesta, 8}},
      {"yes to another", "s", false, pantallaAlumno(2), {kColumnaDato, 8}},
  };

  Terminal& t = abrir();
  expectFilas(t, pantallaAlumno(1));
  EXPECT_EQ(t.cursor(), (Position{kColumnaDato, 8}));
  for (const Paso& paso : pasos) {
    SCOPED_TRACE(paso.que);
    if (paso.esLinea) {
      linea(t, paso.tecleo);
    } else {
      teclas(t, paso.tecleo);
    }
    expectFilas(t, paso.filas);
    EXPECT_EQ(t.cursor(), paso.cursor);
  }

  // The heading's words and its rule in bright white, the counter, its colon
  // and the prompt in the terminal's own colours.
  SCOPED_TRACE(t.dump());
  EXPECT_EQ(t.foreground(18, 5), e2e::kBrightWhite);
  EXPECT_EQ(t.foreground(46, 5), e2e::kBrightWhite);
  EXPECT_EQ(t.foreground(47, 5), e2e::kDefault);
  EXPECT_EQ(t.foreground(50, 5), e2e::kDefault);
  EXPECT_EQ(t.foreground(18, 6), e2e::kBrightWhite);
  EXPECT_EQ(t.foreground(50, 6), e2e::kBrightWhite);
  EXPECT_EQ(t.foreground(20, 8), e2e::kDefault);
  EXPECT_EQ(t.background(18, 5), e2e::kDefault);
}

TEST_F(IngresoDeAlumnos, WhatIsTypedIsStoredFieldByFieldWithZerosAfterEachText) {
  struct Caso {
    const char* que;
    Alumno tecleado;
    std::string guardado;
  };
  const Caso casos[] = {
      {"an ordinary student",
       {"12345678A", "Perez", "Juan", "26"},
       registro("12345678A", "Perez", "Juan", 26)},
      {"a lower-case code letter",
       {"00000000z", "Li", "Bo", "10"},
       registro("00000000z", "Li", "Bo", 10)},
      {"empty surname and name", {"12345678A", "", "", "7"}, registro("12345678A", "", "", 7)},
      {"an empty age is 0",
       {"12345678A", "Paz", "Eva", ""},
       registro("12345678A", "Paz", "Eva", 0)},
      {"the oldest age, with a leading zero",
       {"12345678A", "Paz", "Eva", "060"},
       registro("12345678A", "Paz", "Eva", 60)},
      {"19 letters fill each text up to its terminator",
       {"98765432Q", "Abcdefghijklmnopqrs", "Tuvwxyzabcdefghijkl", "18"},
       registro("98765432Q", "Abcdefghijklmnopqrs", "Tuvwxyzabcdefghijkl", 18)},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.que);
    harness::ScratchDir propio;
    Terminal t(propio.path());
    t.type("1\r");
    ingresar(t, c.tecleado);
    expectPregunta(t);
    EXPECT_EQ(propio.read(kArchivo), c.guardado);
  }
}

TEST_F(IngresoDeAlumnos, AStudentAlreadyEnteredInTheSameVisitEndsTheProgramAtOnce) {
  Terminal& t = abrir();
  ingresar(t, {"12345678A", "Perez", "Ana", "20"});
  teclas(t, "s");
  teclas(t, "12345678A");
  // No key is awaited: the program is gone with the message on the screen.
  EXPECT_EQ(t.waitExit(), 0);
  SCOPED_TRACE(t.dump());
  EXPECT_EQ(t.text(15, 8, 22), kYaExiste);
  EXPECT_EQ(t.text(47, 5, 1), "2");
  EXPECT_TRUE(e2e::inLineMode(t.mode()));
  EXPECT_EQ(dir.read(kArchivo), kAna);
}

TEST_F(IngresoDeAlumnos, ACodeStoredBeforeTheVisitEndsTheProgramAndLeavesTheFileAlone) {
  struct Caso {
    const char* que;
    std::string archivo;
    const char* codigo;
  };
  std::string conBasura = kLuis;
  conBasura.replace(10, 5, "xyz\x01\xff");  // after the code's terminator: meaningless
  const Caso casos[] = {
      {"the first of three", kAna + kLuis + kEva, "12345678A"},
      {"the last of three", kAna + kLuis + kEva, "11111111B"},
      {"a record with bytes left after its code", kAna + conBasura, "87654321z"},
      {"a record before a trailing fragment", kAna + kLuis + "123", "87654321z"},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.que);
    harness::ScratchDir propio;
    propio.write(kArchivo, c.archivo);
    Terminal t(propio.path());
    t.type("1\r");
    teclas(t, c.codigo);
    EXPECT_EQ(t.waitExit(), 0);
    EXPECT_EQ(t.text(15, 8, 22), kYaExiste) << t.dump();
    EXPECT_EQ(propio.read(kArchivo), c.archivo);
  }
}

TEST_F(IngresoDeAlumnos, CodesDifferingInTheLetterCaseOrAnyDigitAreNotTheSame) {
  const char* const parecidos[] = {"12345678a", "12345678B", "02345678A", "12345679A"};
  dir.write(kArchivo, kAna);
  Terminal& t = abrir();
  std::string esperado = kAna;
  for (const char* codigo : parecidos) {
    SCOPED_TRACE(codigo);
    ingresar(t, {codigo, "Perez", "Ana", "20"});
    expectPregunta(t);
    esperado += registro(codigo, "Perez", "Ana", 20);
    EXPECT_EQ(dir.read(kArchivo), esperado);
    teclas(t, "s");
  }
}

TEST_F(IngresoDeAlumnos, AWrongCodeBringsThePromptBackWithoutLimit) {
  struct Caso {
    const char* que;
    const char* antes;   // keys typed one by one
    std::string ultima;  // the ninth key, typed whole
  };
  const Caso casos[] = {
      {"8 digits and Enter", "12345678", "\r"},
      {"nine digits", "12345678", "9"},
      {"a letter first", "A2345678", "A"},
      {"a letter among the digits", "1234567A", "A"},
      {"a hyphen for the letter", "12345678", "-"},
      {"a space for the letter", "12345678", " "},
      {"an accented letter", "12345678", "\xc3\xb1"},  // ñ
      {"Backspace as the eighth key", "1234567\x7f", "8"},
      {"Escape as the ninth key", "12345678", "\x1b"},
      {"Tab as the ninth key", "12345678", "\t"},
  };
  Terminal& t = abrir();
  // Twenty wrong codes in a row: none ends the program or leaves a trace.
  for (int vuelta = 0; vuelta < 2; ++vuelta) {
    for (const Caso& c : casos) {
      SCOPED_TRACE(c.que);
      teclas(t, c.antes);
      t.type(c.ultima);
      ASSERT_FALSE(t.exited());
      expectFilas(t, pantallaAlumno(1));
      EXPECT_EQ(t.cursor(), (Position{kColumnaDato, 8}));
    }
  }
  EXPECT_EQ(dir.read(kArchivo), "");
  ingresar(t, {"12345678A", "Perez", "Ana", "20"});
  expectPregunta(t);
  EXPECT_EQ(dir.read(kArchivo), kAna);
}

TEST_F(IngresoDeAlumnos, BackspaceIsAKeyOfTheCodeNotAnEdit) {
  Terminal& t = abrir();
  teclas(t, "123456x\x7f");
  // Eight keys so far; Backspace only stepped the cursor back over the 'x'.
  EXPECT_EQ(t.row(8), en(18, kPideCodigo) + "123456x") << t.dump();
  EXPECT_EQ(t.cursor(), (Position{kColumnaDato + 6, 8}));
  teclas(t, "A");
  // An editing read would hold "123456A"; here the ninth key ends a wrong code.
  expectFilas(t, pantallaAlumno(1));
  EXPECT_EQ(t.cursor(), (Position{kColumnaDato, 8}));
}

TEST_F(IngresoDeAlumnos, AnExtendedKeyInTheCodeIsTwoKeysAndNeverItsRawBytes) {
  struct Caso {
    const char* que;
    const char* antes;
    Key tecla;
    std::string eco;  // what row 8 shows after the prompt
    Position cursor;
  };
  const Caso casos[] = {
      {"Up as the seventh and eighth keys", "123456", Key::Up, "123456 H", {kColumnaDato + 8, 8}},
      {"F1 as the seventh and eighth keys", "123456", Key::F1, "123456 ;", {kColumnaDato + 8, 8}},
      {"Delete as the seventh and eighth keys",
       "123456",
       Key::Delete,
       "123456 S",
       {kColumnaDato + 8, 8}},
      // Its first code is the ninth key; the second opens the next try.
      {"Left as the ninth key", "12345678", Key::Left, "K", {kColumnaDato + 1, 8}},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.que);
    harness::ScratchDir propio;
    Terminal t(propio.path());
    t.type("1\r");
    teclas(t, c.antes);
    t.key(c.tecla);
    ASSERT_FALSE(t.exited());
    EXPECT_EQ(t.row(8), en(18, kPideCodigo) + c.eco) << t.dump();
    EXPECT_EQ(t.cursor(), c.cursor) << t.dump();
    for (int row = 1; row <= t.rows(); ++row) {
      EXPECT_EQ(t.row(row).find('['), std::string::npos) << t.dump();
    }
  }
}

TEST_F(IngresoDeAlumnos, AnAgeOutOfRangeIsAskedAgainAHundredTimesWithoutCounting) {
  Terminal& t = abrir();
  teclas(t, "12345678A");
  linea(t, "Perez");
  linea(t, "Ana");
  for (int i = 0; i < 100; ++i)
    linea(t, i % 2 == 0 ? "75" : "61");
  // Longer than any line kept: never cut into the zeros it starts with.
  linea(t, std::string(260, '0') + "75");
  linea(t, std::string(300, '0'));
  ASSERT_FALSE(t.exited());
  EXPECT_EQ(t.row(11), comoFila(en(18, kPideEdad))) << t.dump();
  EXPECT_EQ(t.cursor(), (Position{kColumnaDato, 11}));
  // The whole budget is still there.
  for (const char* mal : {"x", "-1", "2 0"})
    linea(t, mal);
  linea(t, "20");
  expectPregunta(t);
  EXPECT_EQ(dir.read(kArchivo), kAna);
}

TEST_F(IngresoDeAlumnos, ATextTooLongForItsFieldIsAskedAgainWithoutCounting) {
  const std::string veinte = "Abcdefghijklmnopqrst";
  const std::string diecinueve = veinte.substr(0, 19);
  const std::string muyLarga(300, 'z');  // longer than any line kept
  struct Caso {
    const char* que;
    std::vector<std::string> antes;  // lines accepted before the field
    int fila;
    std::string guardado;
  };
  const Caso casos[] = {
      {"surname", {}, 9, registro("12345678A", diecinueve, "Ana", 20)},
      {"name", {diecinueve}, 10, registro("12345678A", diecinueve, diecinueve, 20)},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.que);
    harness::ScratchDir propio;
    Terminal t(propio.path());
    t.type("1\r");
    teclas(t, "12345678A");
    for (const std::string& l : c.antes)
      linea(t, l);
    for (int i = 0; i < 4; ++i) {
      linea(t, veinte);
      linea(t, muyLarga);
    }
    ASSERT_FALSE(t.exited());
    EXPECT_EQ(t.row(c.fila), comoFila(en(18, c.fila == 9 ? kPideApellido : kPideNombre)))
        << t.dump();
    for (const char* mal : {"Ana Maria", "x1", "O'Neil"})
      linea(t, mal);
    linea(t, diecinueve);
    if (c.fila == 9) linea(t, "Ana");
    linea(t, "20");
    expectPregunta(t);
    EXPECT_EQ(propio.read(kArchivo), c.guardado);
  }
}

TEST_F(IngresoDeAlumnos, TheFourthWrongEntryOfAFieldEndsTheProgramWithNothingStored) {
  struct Caso {
    const char* que;
    std::vector<const char*> antes;
    std::vector<const char*> malas;
  };
  const Caso casos[] = {
      {"surname", {}, {"Perez1", "de la Cruz", "O'Brien", "Perez-Diaz"}},
      {"name", {"Perez"}, {"Ana Maria", "Jose2", "\xc3\x91ico", "-"}},
      {"age", {"Perez", "Ana"}, {"-3", "12a", "2 0", "veinte"}},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.que);
    harness::ScratchDir propio;
    Terminal t(propio.path());
    t.type("1\r");
    teclas(t, "12345678A");
    for (const char* l : c.antes)
      linea(t, l);
    for (const char* mala : c.malas)
      linea(t, mala);
    expectAvisoDeErrores(t);
    EXPECT_EQ(propio.read(kArchivo), "");
  }
}

TEST_F(IngresoDeAlumnos, EachFieldHasItsOwnBudgetAndTheAgesWrongEntriesCarryIntoTheMenu) {
  // Three wrong options at the menu, three per field, then k wrong ages: the
  // menu is left 4 - k wrong entries, and the last of them ends the program.
  for (int malasEdad = 0; malasEdad <= 3; ++malasEdad) {
    SCOPED_TRACE(std::to_string(malasEdad) + " wrong ages");
    harness::ScratchDir propio;
    Terminal t(propio.path());
    for (int i = 0; i < 3; ++i)
      t.type("x\r");
    t.type("1\r");
    teclas(t, "12345678A");
    for (const char* l : {"1", "2", "3", "Perez", "4", "5", "6", "Ana"})
      linea(t, l);
    for (int i = 0; i < malasEdad; ++i)
      linea(t, "x");
    linea(t, "20");
    teclas(t, "n");
    teclas(t, "k");
    EXPECT_EQ(propio.read(kArchivo), kAna);
    for (int i = malasEdad + 1; i < 4; ++i) {
      t.type("uno\r");
      expectMenu(t);
    }
    t.type("uno\r");
    expectAvisoDeErrores(t);
  }
}

TEST_F(IngresoDeAlumnos, TheQuestionIgnoresOtherKeysAndTakesEitherCase) {
  struct Ignorada {
    const char* que;
    std::string bytes;
    const char* eco;  // left where the answer goes
  };
  const Ignorada ignoradas[] = {
      {"a letter, upper-cased", "x", "X"},
      {"a digit", "1", "1"},
      {"Enter", "\r", "1"},
      {"Backspace", "\x7f", "1"},
      // One press, whose second code (H) is no answer and is not shown as one.
      {"Up", "\x1b[A", ""},
  };
  struct Respuesta {
    const char* tecla;
    std::map<int, std::string> filas;
  };
  const Respuesta respuestas[] = {{"s", pantallaAlumno(2)}, {"S", pantallaAlumno(2)}};
  for (const Respuesta& r : respuestas) {
    SCOPED_TRACE(r.tecla);
    harness::ScratchDir propio;
    Terminal t(propio.path());
    t.type("1\r");
    ingresar(t, {"12345678A", "Perez", "Ana", "20"});
    for (const Ignorada& i : ignoradas) {
      SCOPED_TRACE(i.que);
      t.type(i.bytes);
      expectFilas(t, {{8, en(15, kPregunta) + i.eco}});
      EXPECT_EQ(t.cursor(), (Position{kColumnaRespuesta, 8}));
    }
    teclas(t, r.tecla);
    expectFilas(t, r.filas);
  }
  for (const char* no : {"n", "N"}) {
    SCOPED_TRACE(no);
    harness::ScratchDir propio;
    Terminal t(propio.path());
    t.type("1\r");
    ingresar(t, {"12345678A", "Perez", "Ana", "20"});
    teclas(t, no);
    expectFilas(t, {{8, en(15, kPregunta) + "N"}});
    EXPECT_EQ(propio.read(kArchivo), kAna);
  }
}

TEST_F(IngresoDeAlumnos, AfterNoTheFileIsClosedAndOneMoreKeyReturnsToTheMenu) {
  struct Caso {
    const char* que;
    std::string bytes;
  };
  const Caso casos[] = {{"a letter", "k"}, {"Enter", "\r"}, {"Escape", "\x1b"}, {"F5", "\x1b[15~"}};
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.que);
    harness::ScratchDir propio;
    Terminal t(propio.path());
    t.type("1\r");
    ingresar(t, {"12345678A", "Perez", "Ana", "20"});
    teclas(t, "n");
    ASSERT_FALSE(t.exited());
    EXPECT_EQ(t.cursor(), (Position{kColumnaRespuesta + 1, 8}));
    EXPECT_FALSE(tieneAbierto(t.pid()));
    t.type(c.bytes);
    expectMenu(t);
    t.type("0\r");
    EXPECT_EQ(t.waitExit(), 0);
    EXPECT_EQ(propio.read(kArchivo), kAna);
  }
}

TEST_F(IngresoDeAlumnos, ANewStudentOverwritesATrailingFragmentAndEveryRecordReadsBack) {
  for (const std::string& fragmento : {std::string("x"), std::string(58, '\x7f')}) {
    SCOPED_TRACE(std::to_string(fragmento.size()) + " bytes of fragment");
    harness::ScratchDir propio;
    propio.write(kArchivo, kAna + fragmento);
    Terminal t(propio.path());
    t.type("1\r");
    ingresar(t, {"87654321z", "Gomez", "Luis", "33"});
    expectPregunta(t);
    EXPECT_EQ(propio.read(kArchivo), kAna + kLuis);
    // The new student is found where a scan looks for it.
    teclas(t, "s");
    teclas(t, "87654321z");
    EXPECT_EQ(t.waitExit(), 0);
    EXPECT_EQ(t.text(15, 8, 22), kYaExiste) << t.dump();
  }
}

TEST_F(IngresoDeAlumnos, AnAppendThatFailsLeavesTheFileAsItWasAndReturnsToTheMenu) {
  struct Caso {
    const char* que;
    std::string archivo;
    rlim_t limite;  // largest file size the program may write
  };
  const Caso casos[] = {
      {"no byte of it fits", kAna, 59},
      {"part of it fits", kAna, 80},
      {"it would overwrite a fragment", kAna + "abc", 70},
      {"the file is empty and nothing fits", "", 0},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.que);
    harness::ScratchDir propio;
    if (!c.archivo.empty()) propio.write(kArchivo, c.archivo);
    Terminal t(propio.path());
    rlimit limite{c.limite, c.limite};
    ASSERT_EQ(::prlimit(t.pid(), RLIMIT_FSIZE, &limite, nullptr), 0);
    t.type("1\r");
    ingresar(t, {"87654321z", "Gomez", "Luis", "33"});
    ASSERT_FALSE(t.exited());
    EXPECT_EQ(t.text(10, 20, 51), kNoSeGraba) << t.dump();
    EXPECT_EQ(propio.read(kArchivo), c.archivo);
    t.type("k");
    expectMenu(t);
    t.type("0\r");
    EXPECT_EQ(t.waitExit(), 0);
    EXPECT_EQ(propio.read(kArchivo), c.archivo);
    EXPECT_EQ(propio.names(), std::vector<std::string>{kArchivo});
  }
}

TEST_F(IngresoDeAlumnos, ADirectoryInPlaceOfTheFileIsReportedAndTheProgramGoesOn) {
  std::filesystem::create_directory(dir.path() + "/" + kArchivo);
  Terminal& t = abrir();
  for (int vez = 0; vez < 2; ++vez) {
    ASSERT_FALSE(t.exited());
    expectFilas(t, {{20, en(10, kNoSeAbre)}});
    EXPECT_EQ(t.cursor(), (Position{58, 20}));
    t.type("k");
    expectMenu(t);
    t.type("1\r");
  }
  t.type("k");
  t.type("0\r");
  EXPECT_EQ(t.waitExit(), 0);
  EXPECT_TRUE(std::filesystem::is_directory(dir.path() + "/" + kArchivo));
  EXPECT_EQ(dir.names(), std::vector<std::string>{kArchivo});
}

TEST_F(IngresoDeAlumnos, TheSameSessionRunsScriptedWithoutATerminal) {
  struct Caso {
    const char* que;
    std::string entrada;
    std::string guardado;
    std::map<int, std::string> filas;  // the last screen drawn
  };
  const std::string ana = "12345678APerez\nAna\n20\n";
  const Caso casos[] = {
      {"to the question, then the input ends", "1\n" + ana, kAna, {{8, en(15, kPregunta)}}},
      {"a duplicate in the same visit",
       "1\n" + ana + "s12345678A",
       kAna,
       {{5, en(18, kEncabezado + std::string("2  :"))},
        {6, en(18, kRaya)},
        {8, en(15, kYaExiste) + "o   : 12345678A"}}},
      {"two students, no, a key and option 0",
       "1\n" + ana + "S87654321zGomez\nLuis\n33\nnk0\n",
       kAna + kLuis,
       {}},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.que);
    harness::ScratchDir propio;
    const harness::Script s = harness::runScript(propio.path(), c.entrada);
    EXPECT_EQ(s.status, 0);
    EXPECT_EQ(s.errors, "");
    EXPECT_EQ(propio.read(kArchivo), c.guardado);
    harness::Screen pantalla(80, 25);
    pantalla.feed(s.output);
    if (c.filas.empty()) {
      EXPECT_EQ(pantalla.row(3), "                    BASE DE DATOS DE ALUMNOS");
      continue;
    }
    for (int row = 1; row <= 25; ++row) {
      const auto fila = c.filas.find(row);
      EXPECT_EQ(pantalla.row(row), fila == c.filas.end() ? "" : comoFila(fila->second)) << row;
    }
  }
}

}  // namespace
