// alumnos-datos exportar, on files written byte by byte: the exact CSV, the
// same CSV read back by an independent reader, and every way it can refuse.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "alumnos.hpp"
#include "datos.hpp"
#include "datos/motivo.hpp"

namespace {

using datos_test::alumno;
using datos_test::campo;
using datos_test::correr;
using datos_test::curso;
using datos_test::escribirEscuela;
using datos_test::nota;

using Filas = std::vector<std::vector<std::string>>;

const std::string kFFF(39, 'F');

// The students and courses as a CSV reader gives them back, whatever the
// separator.
const Filas kFilasAlumnos = {{"codigo", "apellido", "nombre", "edad"},
                             {"12345678A", "P\xC3\xA9rez", "Jos\xC3\xA9", "20"},
                             {"87654321B", "O\"Neil, Jr", "'=1+2", "61"},
                             {"11111111C", "Ruiz", "Ana", "18"}};
const Filas kFilasCursos = {{"codigo", "nombre", "creditos"},
                            {"MA101A", "Matematica", "4"},
                            {"FI201B", kFFF, "5"},
                            {"QU301C", "Qu\xC3\xADmica; org\xC3\xA1nica", "3"}};

struct Exportacion {
  const char* nombre;
  friend void PrintTo(const Exportacion& c, std::ostream* os) { *os << c.nombre; }
  std::string tema;
  char separador;
  std::string csv;  // exactly what is written
  Filas filas;      // what a CSV reader makes of it
};

const std::vector<Exportacion>& exportaciones() {
  static const std::vector<Exportacion> casos = {
      {"Alumnos", "alumnos", ',',
       "codigo,apellido,nombre,edad\r\n"
       "12345678A,P\xC3\xA9rez,Jos\xC3\xA9,20\r\n"
       "87654321B,\"O\"\"Neil, Jr\",'=1+2,61\r\n"
       "11111111C,Ruiz,Ana,18\r\n",
       kFilasAlumnos},
      {"AlumnosSemicolon", "alumnos", ';',
       "codigo;apellido;nombre;edad\r\n"
       "12345678A;P\xC3\xA9rez;Jos\xC3\xA9;20\r\n"
       "87654321B;\"O\"\"Neil, Jr\";'=1+2;61\r\n"
       "11111111C;Ruiz;Ana;18\r\n",
       kFilasAlumnos},
      {"Cursos", "cursos", ',',
       "codigo,nombre,creditos\r\n"
       "MA101A,Matematica,4\r\n"
       "FI201B," +
           kFFF +
           ",5\r\n"
           "QU301C,Qu\xC3\xADmica; org\xC3\xA1nica,3\r\n",
       kFilasCursos},
      {"CursosSemicolon", "cursos", ';',
       "codigo;nombre;creditos\r\n"
       "MA101A;Matematica;4\r\n"
       "FI201B;" +
           kFFF +
           ";5\r\n"
           "QU301C;\"Qu\xC3\xADmica; org\xC3\xA1nica\";3\r\n",
       kFilasCursos},
      {"Notas",
       "notas",
       ',',
       "codigoAlumno,apellido,nombre,codigoCurso,nombreCurso,practica1,practica2,practica3,"
       "examenParcial,examenFinal,promedio\r\n"
       "12345678A,P\xC3\xA9rez,Jos\xC3\xA9,MA101A,Matematica,10,11,12,13,14,12.0\r\n"
       "99999999Z,,,FI201B," +
           kFFF +
           ",20,20,20,20,19,19.8\r\n"
           "123,,,XX9,,0,0,0,0,1,0.2\r\n"
           "87654321B,\"O\"\"Neil, Jr\",'=1+2,'-1,,5,5,5,5,5,5.0\r\n",
       {{"codigoAlumno", "apellido", "nombre", "codigoCurso", "nombreCurso", "practica1",
         "practica2", "practica3", "examenParcial", "examenFinal", "promedio"},
        {"12345678A", "P\xC3\xA9rez", "Jos\xC3\xA9", "MA101A", "Matematica", "10", "11", "12", "13",
         "14", "12.0"},
        {"99999999Z", "", "", "FI201B", kFFF, "20", "20", "20", "20", "19", "19.8"},
        {"123", "", "", "XX9", "", "0", "0", "0", "0", "1", "0.2"},
        {"87654321B", "O\"Neil, Jr", "'=1+2", "'-1", "", "5", "5", "5", "5", "5", "5.0"}}},
      {"NotasSemicolon",
       "notas",
       ';',
       "codigoAlumno;apellido;nombre;codigoCurso;nombreCurso;practica1;practica2;practica3;"
       "examenParcial;examenFinal;promedio\r\n"
       "12345678A;P\xC3\xA9rez;Jos\xC3\xA9;MA101A;Matematica;10;11;12;13;14;12,0\r\n"
       "99999999Z;;;FI201B;" +
           kFFF +
           ";20;20;20;20;19;19,8\r\n"
           "123;;;XX9;;0;0;0;0;1;0,2\r\n"
           "87654321B;\"O\"\"Neil, Jr\";'=1+2;'-1;;5;5;5;5;5;5,0\r\n",
       {{"codigoAlumno", "apellido", "nombre", "codigoCurso", "nombreCurso", "practica1",
         "practica2", "practica3", "examenParcial", "examenFinal", "promedio"},
        {"12345678A", "P\xC3\xA9rez", "Jos\xC3\xA9", "MA101A", "Matematica", "10", "11", "12", "13",
         "14", "12,0"},
        {"99999999Z", "", "", "FI201B", kFFF, "20", "20", "20", "20", "19", "19,8"},
        {"123", "", "", "XX9", "", "0", "0", "0", "0", "1", "0,2"},
        {"87654321B", "O\"Neil, Jr", "'=1+2", "'-1", "", "5", "5", "5", "5", "5", "5,0"}}},
  };
  return casos;
}

class Exportar : public ::testing::TestWithParam<Exportacion> {
 protected:
  harness::Script exportar() {
    const Exportacion& c = GetParam();
    escribirEscuela(dir);
    return correr(dir, {"exportar", c.tema, "--separador", std::string(1, c.separador)});
  }
  harness::ScratchDir dir;
};

TEST_P(Exportar, WritesEveryWholeRecordInFileOrderAsRfc4180) {
  const harness::Script s = exportar();
  EXPECT_EQ(s.status, 0) << s.errors;
  EXPECT_EQ(s.errors, "");
  EXPECT_EQ(s.output, GetParam().csv);
}

// The first python3 along PATH, or "".
std::string python() {
  const char* path = std::getenv("PATH");
  std::stringstream directorios(path != nullptr ? path : "");
  for (std::string d; std::getline(directorios, d, ':');) {
    const std::string programa = (d.empty() ? "." : d) + "/python3";
    if (::access(programa.c_str(), X_OK) == 0) return programa;
  }
  return "";
}

// Reads CSV from standard input with Python's csv module, strictly, as UTF-8,
// and writes the fields back separated by 0x1F, the rows by 0x1E. Fails on
// any line that does not end in CR LF.
constexpr char kLector[] = R"(
import csv, io, sys
texto = sys.stdin.buffer.read().decode('utf-8')
if texto.replace('\r\n', '').count('\n') or texto.replace('\r\n', '').count('\r') or not texto.endswith('\r\n'):
    sys.exit('a line does not end in CR LF')
filas = list(csv.reader(io.StringIO(texto, newline=''), delimiter=sys.argv[1], strict=True))
sys.stdout.buffer.write('\x1e'.join('\x1f'.join(f) for f in filas).encode('utf-8'))
)";

TEST_P(Exportar, ReadsBackWholeThroughPythonsCsvModule) {
  const std::string programa = python();
  if (programa.empty()) GTEST_SKIP() << "python3 is not installed: the CSV is not read back";
  const harness::Script s = exportar();
  ASSERT_EQ(s.status, 0) << s.errors;

  harness::Options opciones;
  opciones.program = programa;
  opciones.args = {"-c", kLector, std::string(1, GetParam().separador)};
  const harness::Script leido = harness::runScript(dir.path(), s.output, opciones);
  ASSERT_EQ(leido.status, 0) << leido.errors;
  std::string esperado;
  for (const auto& fila : GetParam().filas) {
    if (!esperado.empty()) esperado += '\x1e';
    for (std::size_t i = 0; i < fila.size(); ++i)
      esperado += (i > 0 ? "\x1f" : "") + fila[i];
  }
  EXPECT_EQ(leido.output, esperado);
}

INSTANTIATE_TEST_SUITE_P(Temas, Exportar, ::testing::ValuesIn(exportaciones()),
                         datos_test::PorNombre());

struct Vacio {
  const char* nombre;
  friend void PrintTo(const Vacio& c, std::ostream* os) { *os << c.nombre; }
  std::string tema;
  std::string archivo;
  std::string encabezado;
};

class SinRegistros : public ::testing::TestWithParam<Vacio> {
 protected:
  harness::ScratchDir dir;
};

TEST_P(SinRegistros, AMissingFileGivesTheHeaderAlone) {
  const harness::Script s = correr(dir, {"exportar", GetParam().tema});
  EXPECT_EQ(s.status, 0) << s.errors;
  EXPECT_EQ(s.output, GetParam().encabezado + "\r\n");
  EXPECT_EQ(dir.names(), std::vector<std::string>{}) << "it only reads";
}

TEST_P(SinRegistros, AnEmptyFileOrAFragmentGivesTheHeaderAlone) {
  for (const std::string& bytes : {std::string(), std::string("12")}) {
    dir.write(GetParam().archivo, bytes);
    const harness::Script s = correr(dir, {"exportar", GetParam().tema});
    EXPECT_EQ(s.status, 0) << s.errors;
    EXPECT_EQ(s.output, GetParam().encabezado + "\r\n");
    EXPECT_EQ(dir.read(GetParam().archivo), bytes);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Temas, SinRegistros,
    ::testing::Values(Vacio{"Alumnos", "alumnos", "ALUMNO.txt", "codigo,apellido,nombre,edad"},
                      Vacio{"Cursos", "cursos", "CURSO.txt", "codigo,nombre,creditos"},
                      Vacio{"Notas", "notas", "NOTAALUMNO.txt",
                            "codigoAlumno,apellido,nombre,codigoCurso,nombreCurso,practica1,"
                            "practica2,practica3,examenParcial,examenFinal,promedio"}),
    datos_test::PorNombre());

struct Ilegible {
  const char* nombre;
  friend void PrintTo(const Ilegible& c, std::ostream* os) { *os << c.nombre; }
  std::string tema;
  std::string directorio;  // a directory where this file should be
};

class ArchivoIlegible : public ::testing::TestWithParam<Ilegible> {};

TEST_P(ArchivoIlegible, IsNamedOnStandardErrorWithStatusTwoAndNothingExported) {
  harness::ScratchDir dir;
  escribirEscuela(dir);
  std::filesystem::remove(dir.path() + "/" + GetParam().directorio);
  std::filesystem::create_directory(dir.path() + "/" + GetParam().directorio);
  const harness::Script s = correr(dir, {"exportar", GetParam().tema});
  EXPECT_EQ(s.status, 2);
  EXPECT_EQ(s.output, "");
  EXPECT_EQ(s.errors, "alumnos-datos: No se puede leer el archivo " + GetParam().directorio +
                          " (es un directorio)\n");
}

INSTANTIATE_TEST_SUITE_P(Archivos, ArchivoIlegible,
                         ::testing::Values(Ilegible{"Students", "alumnos", "ALUMNO.txt"},
                                           Ilegible{"Courses", "cursos", "CURSO.txt"},
                                           Ilegible{"Grades", "notas", "NOTAALUMNO.txt"},
                                           Ilegible{"StudentsOfTheGrades", "notas", "ALUMNO.txt"},
                                           Ilegible{"CoursesOfTheGrades", "notas", "CURSO.txt"}),
                         datos_test::PorNombre());

TEST(Salida, AFullDiskIsAFailureNotASuccess) {
  harness::ScratchDir dir;
  escribirEscuela(dir);
  harness::Options opciones;
  opciones.program = "/bin/sh";
  opciones.args = {"-c", "exec \"$0\" exportar alumnos > /dev/full", ALUMNOS_DATOS_BINARY};
  const harness::Script s = harness::runScript(dir.path(), "", opciones);
  EXPECT_EQ(s.status, 2);
  EXPECT_EQ(s.errors,
            "alumnos-datos: No se pudo escribir la salida (no queda espacio en el disco)\n");
}

struct Uso {
  const char* nombre;
  friend void PrintTo(const Uso& c, std::ostream* os) { *os << c.nombre; }
  std::vector<std::string> palabras;
  std::string mensaje;  // the line on standard error
};

class ErrorDeUso : public ::testing::TestWithParam<Uso> {};

TEST_P(ErrorDeUso, IsOneLineNamingTheWordWithStatusTwo) {
  harness::ScratchDir dir;
  const harness::Script s = correr(dir, GetParam().palabras);
  EXPECT_EQ(s.status, 2);
  EXPECT_EQ(s.output, "");
  EXPECT_EQ(s.errors,
            "alumnos-datos: " + GetParam().mensaje + " (alumnos-datos --help muestra el uso)\n");
}

INSTANTIATE_TEST_SUITE_P(
    Palabras, ErrorDeUso,
    ::testing::Values(
        Uso{"NoCommand", {}, "falta la orden: exportar, importar, verificar o respaldar"},
        Uso{"UnknownCommand",
            {"borrar"},
            "orden desconocida \"borrar\": exportar, importar, verificar o respaldar"},
        Uso{"NoSubject", {"exportar"}, "falta que exportar: alumnos, cursos o notas"},
        Uso{"OnlyASeparator",
            {"exportar", "--separador", ";"},
            "falta que exportar: alumnos, cursos o notas"},
        Uso{"UnknownSubject",
            {"exportar", "profesores"},
            "no se puede exportar \"profesores\": alumnos, cursos o notas"},
        Uso{"TwoSubjects", {"exportar", "alumnos", "cursos"}, "sobra la palabra \"cursos\""},
        Uso{"SeparatorWithoutCharacter",
            {"exportar", "alumnos", "--separador"},
            "falta el caracter despues de --separador"},
        Uso{"SeparatorOfTwoCharacters",
            {"exportar", "alumnos", "--separador", ";;"},
            "separador no valido: \";;\"; debe ser un solo caracter ASCII que no sea letra, "
            "digito ni comillas"},
        Uso{"EmptySeparator",
            {"exportar", "alumnos", "--separador="},
            "separador no valido: \"\"; debe ser un solo caracter ASCII que no sea letra, "
            "digito ni comillas"},
        Uso{"QuoteAsSeparator",
            {"exportar", "cursos", "--separador", "\""},
            "separador no valido: \"\"\"; debe ser un solo caracter ASCII que no sea letra, "
            "digito ni comillas"},
        Uso{"LetterAsSeparator",
            {"exportar", "notas", "--separador", "x"},
            "separador no valido: \"x\"; debe ser un solo caracter ASCII que no sea letra, "
            "digito ni comillas"},
        Uso{"LineFeedAsSeparatorIsShownSafely",
            {"exportar", "notas", "--separador", "\n"},
            "separador no valido: \"?\"; debe ser un solo caracter ASCII que no sea letra, "
            "digito ni comillas"},
        Uso{"NonAsciiSeparator",
            {"exportar", "notas", "--separador", "\xC2\xA6"},
            "separador no valido: \"\xC2\xA6\"; debe ser un solo caracter ASCII que no sea "
            "letra, digito ni comillas"},
        Uso{"WordAfterCheck", {"verificar", "alumnos"}, "sobra la palabra \"alumnos\""},
        Uso{"WordAfterHelp", {"--help", "exportar"}, "sobra la palabra \"exportar\""},
        Uso{"WordAfterVersion", {"--version", "-h"}, "sobra la palabra \"-h\""},
        Uso{"ExportOfAnUnknownOption",
            {"exportar", "alumnos", "--exel"},
            "opcion desconocida \"--exel\""},
        Uso{"ExcelWithASeparator",
            {"exportar", "notas", "--excel", "--separador", ","},
            "--excel ya separa con ; y no se junta con --separador"},
        Uso{"ImportWithoutFile",
            {"importar", "cursos", "--probar"},
            "falta el archivo CSV que importar, o - para la entrada estandar"},
        Uso{"ImportOfAnUnknownOption",
            {"importar", "cursos", "a.csv", "--rapido"},
            "opcion desconocida \"--rapido\""},
        Uso{"BackupWithoutFolder", {"respaldar"}, "falta la carpeta donde respaldar"},
        Uso{"BackupIntoTwoFolders", {"respaldar", "a", "b"}, "sobra la palabra \"b\""},
        Uso{"BackupWithAnOption", {"respaldar", "--todo", "a"}, "opcion desconocida \"--todo\""}),
    datos_test::PorNombre());

TEST(Separador, MayComeBeforeTheSubjectOrWithAnEqualsSign) {
  harness::ScratchDir dir;
  escribirEscuela(dir);
  const std::string esperado = correr(dir, {"exportar", "cursos", "--separador", ";"}).output;
  EXPECT_EQ(correr(dir, {"exportar", "--separador", ";", "cursos"}).output, esperado);
  EXPECT_EQ(correr(dir, {"exportar", "cursos", "--separador=;"}).output, esperado);
  const harness::Script tab = correr(dir, {"exportar", "cursos", "--separador", "\t"});
  EXPECT_EQ(tab.status, 0);
  EXPECT_EQ(tab.output.substr(0, 24), "codigo\tnombre\tcreditos\r\n");
}

// What a spreadsheet on a Spanish desk opens right: the export by ';', its
// decimal comma included, after UTF-8's byte-order mark.
TEST(Excel, IsTheSemicolonExportAfterTheByteOrderMark) {
  harness::ScratchDir dir;
  escribirEscuela(dir);
  for (const char* tema : {"alumnos", "cursos", "notas"}) {
    SCOPED_TRACE(tema);
    const harness::Script excel = correr(dir, {"exportar", tema, "--excel"});
    const harness::Script puntoYComa = correr(dir, {"exportar", "--separador", ";", tema});
    EXPECT_EQ(excel.status, 0);
    EXPECT_EQ(excel.output, "\xEF\xBB\xBF" + puntoYComa.output);
  }
}

// Output that cannot be written is told in the tool's own words, whatever
// the system's reason, and the files stay as they were.
TEST(SalidaQueFalla, IsOneSpanishLineWithStatusTwo) {
  struct Caso {
    const char* que;
    const char* guion;  // run by sh, $0 being alumnos-datos; it adds the status
    const char* motivo;
  };
  const Caso casos[] = {
      {"closed", "\"$0\" exportar alumnos >&-; echo $? >&2", "no esta abierta"},
      {"a full disk", "\"$0\" exportar alumnos >/dev/full; echo $? >&2",
       "no queda espacio en el disco"},
      // More than the pipe holds, so that the reader is gone before the end.
      {"a pipe whose reader ended, SIGPIPE ignored",
       "trap '' PIPE; (\"$0\" exportar alumnos; echo $? >&2) | head -c 1 >/dev/null",
       "el programa que recibia la salida ya termino"},
  };
  harness::ScratchDir dir;
  const std::string alumnos = harness::muchosAlumnos(10'000);
  dir.write("ALUMNO.txt", alumnos);
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.que);
    harness::Options opciones;
    opciones.program = "/bin/sh";
    opciones.args = {"-c", c.guion, ALUMNOS_DATOS_BINARY};
    const harness::Script s = harness::runScript(dir.path(), "", opciones);
    EXPECT_EQ(s.errors,
              "alumnos-datos: No se pudo escribir la salida (" + std::string(c.motivo) + ")\n2\n");
    EXPECT_EQ(dir.read("ALUMNO.txt"), alumnos);
  }
}

// The system's own text is English: no reason is ever told in it.
TEST(Motivo, IsTheToolsOwnWordsOrANumber) {
  const std::pair<int, const char*> casos[] = {
      {ENOENT, "no existe"},
      {EACCES, "sin permiso"},
      {EISDIR, "es un directorio"},
      {ENOSPC, "no queda espacio en el disco"},
      {EPIPE, "el programa que recibia la salida ya termino"},
      {EBADF, "no esta abierta"},
      {EROFS, "el disco es de solo lectura"},
      {ESTALE, "se perdio la conexion con la carpeta de red"},
      {EHWPOISON, "error 133 del sistema"},
      {4321, "error 4321 del sistema"},
  };
  for (const auto& [numero, palabras] : casos)
    EXPECT_EQ(datos::motivo(numero, "ALUMNO.txt"), palabras) << numero;
  for (int numero = 1; numero < 200; ++numero)
    EXPECT_NE(datos::motivo(numero, nullptr), std::strerror(numero)) << numero;
}

TEST(Ayuda, ShowsBothCommandsAndTheExitStatuses) {
  harness::ScratchDir dir;
  for (const char* palabra : {"--help", "-h"}) {
    const harness::Script s = correr(dir, {palabra});
    EXPECT_EQ(s.status, 0);
    EXPECT_EQ(s.errors, "");
    EXPECT_EQ(s.output.substr(0, 75),
              "Uso: alumnos-datos exportar alumnos|cursos|notas [--separador C | --excel]\n");
    EXPECT_NE(s.output.find("     alumnos-datos verificar\n"), std::string::npos);
    EXPECT_NE(s.output.find("Estado de salida: 0"), std::string::npos);
  }
}

// More grades than one block holds, in another order than their students:
// every grade finds its student however far apart the two are.
TEST(NotasEnBloques, FindEveryStudentWhereverItIsStored) {
  constexpr int kAlumnos = 40'000;
  harness::ScratchDir dir;
  dir.write("ALUMNO.txt", harness::muchosAlumnos(kAlumnos));
  std::string notas;
  char codigo[16];
  for (int i = kAlumnos; i >= 1; --i) {
    std::snprintf(codigo, sizeof codigo, "%08dA", i == 5'000 ? 99'999 : i);
    notas += nota(codigo, "MA101A", {i % 21, 0, 0, 0, 0});
  }
  dir.write("NOTAALUMNO.txt", notas);

  const harness::Script s = correr(dir, {"exportar", "notas"});
  ASSERT_EQ(s.status, 0) << s.errors;
  std::istringstream filas(s.output);
  std::string fila;
  std::getline(filas, fila);
  for (int i = kAlumnos; i >= 1; --i) {
    ASSERT_TRUE(std::getline(filas, fila)) << "the rows end before grade " << kAlumnos - i + 1;
    std::snprintf(codigo, sizeof codigo, "%08dA", i == 5'000 ? 99'999 : i);
    const std::string nombres = i == 5'000 ? ",,," : ",Perez,Juan,";
    const std::string notasFila = std::to_string(i % 21) + ",0,0,0,0,";
    ASSERT_EQ(fila.substr(0, fila.find("MA101A")), codigo + nombres)
        << "grade " << kAlumnos - i + 1;
    ASSERT_NE(fila.find(",MA101A,," + notasFila), std::string::npos) << fila;
  }
  EXPECT_FALSE(std::getline(filas, fila));
}

}  // namespace
