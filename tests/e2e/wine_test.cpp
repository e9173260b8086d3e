// The Windows build under wine: its own test programs, run in a console of
// their own (wine in a pseudo-terminal), and alumnos.exe itself, on piped
// standard input beside the POSIX program and typed key by key in a console.
//
// Needs the Windows build (cmake --preset windows) and wine; ./test.sh
// provides both, or says in ALUMNOS_WINE_SKIP why it could not, and these
// tests then skip with that reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "alumnos.hpp"
#include "comun.hpp"
#include "datos.hpp"
#include "files.hpp"
#include "terminal.hpp"
#include "wine.hpp"

namespace {

namespace fs = std::filesystem;
using namespace wine;

// Where two outputs part: their sizes and the bytes from the first that
// differs.
std::string difference(const std::string& got, const std::string& expected) {
  std::size_t at = 0;
  while (at < got.size() && at < expected.size() && got[at] == expected[at])
    ++at;
  return std::to_string(got.size()) + " bytes against " + std::to_string(expected.size()) +
         ", from byte " + std::to_string(at) + ": \"" + got.substr(at, 40) + "\" against \"" +
         expected.substr(at, 40) + "\"";
}

std::string readWhole(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// ---------------------------------------------------------------------------
// The Windows test programs, each in a console of 80 x 25 with its report in
// a file (a console's own output would be drawn, not kept).

class WindowsSuite : public ::testing::TestWithParam<const char*> {};

TEST_P(WindowsSuite, PassesUnderWineInAConsole) {
  const std::string wine = wineOrWhyNot();
  const std::string program = kWindowsBuild + "/tests/windows/" + GetParam();
  if (const std::string why = whyNot(wine, program); !why.empty()) GTEST_SKIP() << why;
  harness::ScratchDir dir;
  const std::string report = dir.path() + "/report.txt";
  harness::Terminal t(dir.path(), underWine("/bin/sh", {"-c", "exec \"$0\" \"$1\" > \"$2\"", wine,
                                                        program, report}));
  const int status = t.waitExit();
  const std::string said = readWhole(report);
  EXPECT_EQ(status, 0) << said << "\n" << t.dump();
  EXPECT_NE(said.find("[  PASSED  ]"), std::string::npos) << said;
  EXPECT_EQ(said.find("FAILED"), std::string::npos) << said;
}

INSTANTIATE_TEST_SUITE_P(Wine, WindowsSuite,
                         ::testing::Values("consola_test.exe", "store_test.exe"),
                         [](const ::testing::TestParamInfo<const char*>& suite) {
                           std::string name = suite.param;
                           return name.substr(0, name.find('_'));
                         });

// ---------------------------------------------------------------------------
// alumnos-datos.exe beside the POSIX alumnos-datos: the same words on the
// same files give the same bytes (CSV rows in CR LF, report lines in LF),
// the same message on standard error and the same exit status, with standard
// output a pipe and a file.

const std::string kDatosExe = kWindowsBuild + "/alumnos-datos.exe";

struct OrdenDatos {
  const char* nombre;
  friend void PrintTo(const OrdenDatos& c, std::ostream* os) { *os << c.nombre; }
  void (*preparar)(const harness::ScratchDir&);  // the files in the directory
  std::vector<std::string> palabras;
  int estado;  // the POSIX program's exit status, so that the case is what it says
};

void escuela(const harness::ScratchDir& dir) {
  datos_test::escribirEscuela(dir);
}

// Every kind of finding: the school's damage, grades of no student or
// course, a scratch file left behind.
void escuelaConTemporal(const harness::ScratchDir& dir) {
  datos_test::escribirEscuela(dir);
  dir.write("TEMPORAL.txt", "");
}

void limpia(const harness::ScratchDir& dir) {
  datos_test::escribir(dir, datos_test::limpios());
}

void sinArchivos(const harness::ScratchDir&) {}

void cursosEsUnDirectorio(const harness::ScratchDir& dir) {
  datos_test::escribirEscuela(dir);
  fs::remove(dir.path() + "/CURSO.txt");
  fs::create_directory(dir.path() + "/CURSO.txt");
}

// Files read in many blocks: 70,002 students, two of them stored twice far
// apart, and 40,000 grades, more than one block of them, in another order.
void muchos(const harness::ScratchDir& dir) {
  constexpr int kAlumnos = 70'000;
  dir.write("ALUMNO.txt", harness::muchosAlumnos(kAlumnos) +
                              harness::registro(harness::numerado(3)) +
                              harness::registro(harness::numerado(kAlumnos - 1)) + "x");
  std::string notas;
  char codigo[16];
  for (int i = 40'000; i >= 1; --i) {
    std::snprintf(codigo, sizeof codigo, "%08dA", i * 7 % 80'000 + 1);
    notas += datos_test::nota(codigo, "MA101A", {i % 21, 20, 0, i % 23, 1});
  }
  dir.write("NOTAALUMNO.txt", notas);
  dir.write("CURSO.txt", datos_test::curso("MA101A", "Matematica", 4));
}

class DatosExe : public ::testing::TestWithParam<OrdenDatos> {};

TEST_P(DatosExe, GivesThePosixProgramsBytesMessageAndStatus) {
  const std::string wine = wineOrWhyNot();
  if (const std::string why = whyNot(wine, kDatosExe); !why.empty()) GTEST_SKIP() << why;
  startWine(wine);
  const OrdenDatos& c = GetParam();
  harness::ScratchDir dir;
  c.preparar(dir);
  const std::vector<std::string> antes = dir.names();
  const harness::Script posix = datos_test::correr(dir, c.palabras);
  ASSERT_EQ(posix.status, c.estado) << posix.errors;
  ASSERT_FALSE(posix.output.empty() && posix.errors.empty());

  std::vector<std::string> args{kDatosExe};
  args.insert(args.end(), c.palabras.begin(), c.palabras.end());
  const harness::Script tuberia = harness::runScript(dir.path(), "", underWine(wine, args));
  EXPECT_EQ(tuberia.status, posix.status) << tuberia.errors;
  EXPECT_EQ(tuberia.errors, posix.errors);
  EXPECT_TRUE(tuberia.output == posix.output)
      << "standard output a pipe: " << difference(tuberia.output, posix.output);

  harness::ScratchDir fuera;
  const std::string archivo = fuera.path() + "/salida.csv";
  args.insert(args.begin(), {"-c", "f=$1; shift; exec \"$@\" > \"$f\"", "sh", archivo, wine});
  const harness::Script redirigida =
      harness::runScript(dir.path(), "", underWine("/bin/sh", std::move(args)));
  EXPECT_EQ(redirigida.status, posix.status) << redirigida.errors;
  EXPECT_EQ(redirigida.errors, posix.errors);
  const std::string escrito = readWhole(archivo);
  EXPECT_TRUE(escrito == posix.output)
      << "standard output a file: " << difference(escrito, posix.output);
  EXPECT_EQ(dir.names(), antes) << "it only reads";
}

INSTANTIATE_TEST_SUITE_P(
    Wine, DatosExe,
    ::testing::Values(
        OrdenDatos{"Students", escuela, {"exportar", "alumnos"}, 0},
        OrdenDatos{"StudentsSemicolon", escuela, {"exportar", "alumnos", "--separador", ";"}, 0},
        OrdenDatos{"Courses", escuela, {"exportar", "cursos"}, 0},
        OrdenDatos{"CoursesSemicolon", escuela, {"exportar", "--separador=;", "cursos"}, 0},
        OrdenDatos{"Grades", escuela, {"exportar", "notas"}, 0},
        OrdenDatos{"GradesSemicolon", escuela, {"exportar", "notas", "--separador", ";"}, 0},
        OrdenDatos{"NoFilesGiveTheHeaderAlone", sinArchivos, {"exportar", "notas"}, 0},
        OrdenDatos{"GradesForASpreadsheet", escuela, {"exportar", "notas", "--excel"}, 0},
        OrdenDatos{"CheckOfAnEmptyFolder", sinArchivos, {"verificar"}, 1},
        OrdenDatos{"ManyGrades", muchos, {"exportar", "notas"}, 0},
        OrdenDatos{"CheckOfACleanSet", limpia, {"verificar"}, 0},
        OrdenDatos{"CheckFindingEveryKind", escuelaConTemporal, {"verificar"}, 1},
        OrdenDatos{"CheckOfManyRecords", muchos, {"verificar"}, 1},
        OrdenDatos{"ADirectoryForAFile", cursosEsUnDirectorio, {"exportar", "notas"}, 2},
        OrdenDatos{"UsageError", escuela, {"exportar", "profesores"}, 2},
        OrdenDatos{"Help", sinArchivos, {"--help"}, 0}),
    datos_test::PorNombre());

// alumnos-datos.exe importar beside the POSIX program: the same rows into
// the same files, from a file or from standard input, give the same report,
// the same status and the same record files, byte for byte.
struct Importacion {
  const char* nombre;
  friend void PrintTo(const Importacion& c, std::ostream* os) { *os << c.nombre; }
  std::vector<std::string> palabras;
  std::string csv;  // in a.csv, and on standard input
  int estado;       // the POSIX program's exit status, so that the case is what it says
};

class ImportarExe : public ::testing::TestWithParam<Importacion> {};

TEST_P(ImportarExe, StoresThePosixProgramsBytesAndSaysTheSame) {
  const std::string wine = wineOrWhyNot();
  if (const std::string why = whyNot(wine, kDatosExe); !why.empty()) GTEST_SKIP() << why;
  startWine(wine);
  const Importacion& c = GetParam();
  harness::ScratchDir posix;
  harness::ScratchDir windows;
  for (const harness::ScratchDir* dir : {&posix, &windows}) {
    datos_test::escribirEscuela(*dir);
    dir->write("a.csv", c.csv);
  }
  harness::Options opciones;
  opciones.program = ALUMNOS_DATOS_BINARY;
  opciones.args = c.palabras;
  const harness::Script enPosix = harness::runScript(posix.path(), c.csv, opciones);
  ASSERT_EQ(enPosix.status, c.estado) << enPosix.output << enPosix.errors;

  std::vector<std::string> args{kDatosExe};
  args.insert(args.end(), c.palabras.begin(), c.palabras.end());
  const harness::Script enWindows =
      harness::runScript(windows.path(), c.csv, underWine(wine, args));
  EXPECT_EQ(enWindows.status, enPosix.status) << enWindows.errors;
  EXPECT_EQ(enWindows.errors, enPosix.errors);
  EXPECT_TRUE(enWindows.output == enPosix.output) << difference(enWindows.output, enPosix.output);
  ASSERT_EQ(windows.names(), posix.names());
  for (const std::string& nombre : posix.names())
    EXPECT_TRUE(windows.read(nombre) == posix.read(nombre)) << nombre;
}

INSTANTIATE_TEST_SUITE_P(
    Wine, ImportarExe,
    ::testing::Values(
        Importacion{"StudentsInUtf8FromAFile",
                    {"importar", "alumnos", "a.csv"},
                    "\xEF\xBB\xBF"
                    "C\xC3\xB3"
                    "digo,Apellido,Nombre,Edad\r\n"
                    "20231001A,Quispe,Rosa,17\r\n20231002B,Mamani,Luis,\r\n",
                    0},
        Importacion{"CoursesInWindows1252FromStandardInput",
                    {"importar", "cursos", "-", "--sin-acentos"},
                    "codigo;nombre;creditos\nQU302D;Qu\xEDmica;3\n",
                    0},
        Importacion{"GradesAfterAFragment",
                    {"importar", "notas", "a.csv"},
                    "codigoAlumno\tcodigoCurso\tpractica1\tpractica2\tpractica3\t"
                    "examenParcial\texamenFinal\n'-1\xC3\x91\tMA101A\t1\t2\t3\t4\t5",
                    0},
        Importacion{"ABadRowStoresNothing",
                    {"importar", "alumnos", "a.csv", "--probar"},
                    "codigo,apellido,nombre,edad\n12345678A,Perez,Ana,20\n2023,de la Cruz,Ana,70\n",
                    1}),
    datos_test::PorNombre());

// alumnos-datos.exe respaldar beside the POSIX program: copies of the
// school's files byte for byte, a second backup of the minute in a second
// folder, and the same report but for the folder's name.
TEST(RespaldarExe, CopiesTheFilesByteForByteAndReportsAsThePosixProgram) {
  const std::string wine = wineOrWhyNot();
  if (const std::string why = whyNot(wine, kDatosExe); !why.empty()) GTEST_SKIP() << why;
  startWine(wine);
  harness::ScratchDir dir;
  datos_test::escribirEscuela(dir);
  dir.write("TEMPORAL.txt", datos_test::alumno("12345678A", "Perez", "Jose", 20) + "xy");
  const std::vector<std::string> escuela = dir.names();
  harness::ScratchDir usb;
  harness::ScratchDir usbPosix;
  const harness::Script posix = datos_test::correr(dir, {"respaldar", usbPosix.path()});
  ASSERT_EQ(posix.status, 0) << posix.errors;
  const std::string informe = posix.output.substr(posix.output.find('\n'));

  for (int vez = 1; vez <= 2; ++vez) {
    SCOPED_TRACE("backup " + std::to_string(vez));
    const std::vector<std::string> antes = usb.names();
    const harness::Script s =
        harness::runScript(dir.path(), "", underWine(wine, {kDatosExe, "respaldar", usb.path()}));
    EXPECT_EQ(s.status, 0) << s.errors;
    EXPECT_EQ(s.errors, "");
    const std::vector<std::string> despues = usb.names();
    ASSERT_EQ(despues.size(), antes.size() + 1);
    const std::string nombre = despues.back();
    EXPECT_TRUE(nombre.starts_with("respaldo-")) << nombre;
    EXPECT_EQ(s.output, "Respaldo en " + usb.path() + "\\" + nombre + informe);
    std::vector<std::string> copiados;
    for (const auto& entrada : fs::directory_iterator(usb.path() + "/" + nombre))
      copiados.push_back(entrada.path().filename().string());
    std::sort(copiados.begin(), copiados.end());
    EXPECT_EQ(copiados, escuela);
    for (const std::string& archivo : escuela)
      EXPECT_TRUE(usb.read(nombre + "/" + archivo) == dir.read(archivo)) << archivo;
  }
}

// ---------------------------------------------------------------------------
// alumnos.exe

const std::string kAlumnosExe = kWindowsBuild + "/alumnos.exe";

// Three students, a course, a grade, the listing, the second student deleted.
const char kSesion[] =
    "1\n12345678APerez\nAna\n20\nS87654321BGomez\nLuis\n33\nS11111111CRuiz\nEva\n10\nnk"
    "2\nMA101AFisica\n3\nxN"
    "3\n12345678A\nMA101A\n10\n11\n12\n13\n14\nxN"
    "4\nk"
    "5\n87654321B\nSk"
    "0\n";

TEST(AlumnosExe, AScriptedSessionLeavesTheSameFilesByteForByteAsThePosixProgram) {
  const std::string wine = wineOrWhyNot();
  if (const std::string why = whyNot(wine, kAlumnosExe); !why.empty()) GTEST_SKIP() << why;
  startWine(wine);
  harness::ScratchDir posix;
  harness::ScratchDir windows;
  const harness::Script enPosix = harness::runScript(posix.path(), kSesion);
  const harness::Script enWindows =
      harness::runScript(windows.path(), kSesion, underWine(wine, {kAlumnosExe}));
  ASSERT_EQ(enPosix.status, 0);
  EXPECT_EQ(enWindows.status, 0) << enWindows.errors;
  // The session did its work: two students left of three, a course, a grade.
  ASSERT_EQ(posix.names(), (std::vector<std::string>{"ALUMNO.txt", "CURSO.txt", "NOTAALUMNO.txt"}));
  ASSERT_EQ(posix.read("ALUMNO.txt").size(), 2u * 59u);
  ASSERT_EQ(posix.read("CURSO.txt").size(), 50u);
  ASSERT_EQ(posix.read("NOTAALUMNO.txt").size(), 35u);
  EXPECT_EQ(windows.names(), posix.names());
  for (const char* file : {"ALUMNO.txt", "CURSO.txt", "NOTAALUMNO.txt"}) {
    SCOPED_TRACE(file);
    if (windows.exists(file)) {
      EXPECT_EQ(windows.read(file), posix.read(file));
    }
  }
  // The stream's text, line feeds as CR LF, is the same on both.
  EXPECT_NE(enWindows.output.find(" CURSO REGISTRADO... !!! "), std::string::npos);
}

// Wine's console host gives the terminal its mode back as it ends, which can
// be a moment after alumnos.exe itself has ended.
bool backInLineMode(const harness::Terminal& t) {
  for (int i = 0; i < 250; ++i) {
    if (e2e::inLineMode(t.mode())) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// alumnos.exe started in a console of its own (wine in a pseudo-terminal),
// its menu drawn and waiting.
class EnConsola : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string wine = wineOrWhyNot();
    if (const std::string why = whyNot(wine, kAlumnosExe); !why.empty()) GTEST_SKIP() << why;
    terminal_.emplace(dir.path(), underWine(wine, {kAlumnosExe}));
    ASSERT_TRUE(waitFor(*terminal_, "< Edite Opcion > ==>")) << terminal_->dump();
  }
  harness::ScratchDir dir;
  std::optional<harness::Terminal> terminal_;
};

TEST_F(EnConsola, TheMenuAStudentTheListingAndOptionZero) {
  harness::Terminal& t = *terminal_;
  e2e::expectMenu(t);
  EXPECT_EQ(t.foreground(21, 3), e2e::kBrightWhite) << t.dump();
  EXPECT_EQ(t.foreground(16, 6), e2e::kDefault) << t.dump();

  // Option 1, typed and echoed by the console's own line input.
  t.type("1\r");
  ASSERT_TRUE(waitFor(t, "* Codigo del Alumno   :")) << t.dump();
  EXPECT_EQ(t.text(18, 5, 29), "Ingreso de datos del alumno  ");
  EXPECT_EQ(t.foreground(18, 5), e2e::kBrightWhite) << t.dump();
  // The code key by key, each echoed by readKeyEcho.
  t.typeByteByByte("12345678A");
  ASSERT_TRUE(waitFor(t, ": 12345678A")) << t.dump();
  t.type("Perez\r");
  ASSERT_TRUE(waitFor(t, "* Nombre del alumno")) << t.dump();
  t.type("Ana\r");
  ASSERT_TRUE(waitFor(t, "* Edad")) << t.dump();
  t.type("20\r");
  ASSERT_TRUE(waitFor(t, "Desea ingresar datos de otro alumno <S/N> :")) << t.dump();
  t.type("n");
  t.type("k");
  ASSERT_TRUE(waitFor(t, "< Edite Opcion > ==>")) << t.dump();
  e2e::expectMenu(t);

  t.type("4\r");
  ASSERT_TRUE(waitFor(t, "PRESIONE ENTER")) << t.dump();
  EXPECT_NE(t.dump().find("12345678A"), std::string::npos) << t.dump();
  EXPECT_NE(t.dump().find("Perez"), std::string::npos) << t.dump();
  t.type("\r");
  ASSERT_TRUE(waitFor(t, "< Edite Opcion > ==>")) << t.dump();

  t.type("0\r");
  EXPECT_EQ(t.waitExit(), 0);
  EXPECT_TRUE(backInLineMode(t)) << "the terminal was not given back in line mode";
  const std::string alumno = dir.read("ALUMNO.txt");
  ASSERT_EQ(alumno.size(), 59u);
  EXPECT_EQ(alumno.substr(0, 10), std::string("12345678A\0", 10));
  EXPECT_EQ(alumno.substr(15, 6), std::string("Perez\0", 6));
  EXPECT_EQ(alumno.substr(35, 4), std::string("Ana\0", 4));
  EXPECT_EQ(alumno.substr(55, 4), std::string("\x14\0\0\0", 4));
}

// Letters beyond ASCII are Latin-1 on the console whatever its code page, as
// on POSIX: a letter stored by the POSIX program is listed as that letter,
// and one typed is stored as the byte the POSIX program stores.
TEST_F(EnConsola, LettersBeyondAsciiAreLatinOneOnTheScreenAndInTheFiles) {
  harness::Terminal& t = *terminal_;
  dir.write("ALUMNO.txt", harness::registro({"87654321B", "MU\xD1OZ", "Ana", 20}));
  t.type("4\r");
  ASSERT_TRUE(waitFor(t, "PRESIONE ENTER")) << t.dump();
  EXPECT_EQ(t.text(10, 10, 9), "87654321B") << t.dump();
  EXPECT_EQ(t.text(27, 10, 5), "MU\u00D1OZ") << t.dump();
  t.type("\r");
  ASSERT_TRUE(waitFor(t, "< Edite Opcion > ==>")) << t.dump();

  t.type("3\r");
  ASSERT_TRUE(waitFor(t, "Codigo Alumno   :")) << t.dump();
  t.type("12345678\u00D1\r");  // as the terminal sends it, in UTF-8
  ASSERT_TRUE(waitFor(t, "Codigo del curso:")) << t.dump();
  EXPECT_EQ(t.text(10, 7, 27), "Codigo Alumno   : 12345678\u00D1") << "the console's own echo";
  t.type("MA101A\r");
  for (const char* nota : {"10", "11", "12", "13", "14"}) {
    t.type(std::string(nota) + "\r");
  }
  t.type("x");
  ASSERT_TRUE(waitFor(t, "Desea ingresar notas de otro alumno")) << t.dump();
  t.type("N");
  ASSERT_TRUE(waitFor(t, "< Edite Opcion > ==>")) << t.dump();
  t.type("0\r");
  EXPECT_EQ(t.waitExit(), 0);
  const std::string nota = dir.read("NOTAALUMNO.txt");
  ASSERT_EQ(nota.size(), 35u);
  EXPECT_EQ(nota.substr(0, 15), "12345678\xD1MA101A");
}

// The notice in yellow, a key, and the program ends with status 0, leaving
// the console as it found it.
TEST_F(EnConsola, TheFourthWrongEntryEndsTheProgramAfterItsNotice) {
  harness::Terminal& t = *terminal_;
  for (int i = 0; i < 4; ++i)
    t.type("x\r");
  ASSERT_TRUE(waitFor(t, "Vuelva otro dia")) << t.dump();
  EXPECT_EQ(t.text(25, 25, 55), "Nota: numero maximo de errores por ingreso de datos = 3");
  EXPECT_EQ(t.foreground(25, 25), e2e::kYellow) << t.dump();
  EXPECT_EQ(t.text(20, 12, 52), "Paso el numero maximo de errores.....Vuelva otro dia");
  EXPECT_EQ(t.foreground(20, 12), e2e::kDefault) << t.dump();
  t.type("k");
  EXPECT_EQ(t.waitExit(), 0);
  EXPECT_TRUE(backInLineMode(t)) << "the terminal was not given back in line mode";
  EXPECT_EQ(dir.names(), std::vector<std::string>{});
}

}  // namespace
