// alumnos-datos importar: rows stored after the file's records when every
// one is good, nothing stored and every problem named when one is not, the
// header's spellings, the encodings, and an export read back as it is.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "alumnos.hpp"
#include "datos.hpp"
#include "datos/importar.hpp"
#include "reglas_casos.hpp"
#include "store/registros.hpp"

namespace {

using datos_test::correr;

template <class R>
std::string bytesDe(const R& registro) {
  const store::Bytes<R> bytes = store::codificar(registro);
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// Records as the screens store them: zeros after every text.
std::string alumno(std::string_view codigo, std::string_view apellido, std::string_view nombre,
                   std::int32_t edad) {
  store::Alumno a{};
  (void)store::copiarTexto(a.codigo, codigo);
  (void)store::copiarTexto(a.apellido, apellido);
  (void)store::copiarTexto(a.nombre, nombre);
  a.edad = edad;
  return bytesDe(a);
}

std::string curso(std::string_view codigo, std::string_view nombre, std::int32_t creditos) {
  store::Curso c{};
  store::copiarCodigo(c.codigo, codigo);
  (void)store::copiarTexto(c.nombre, nombre);
  c.creditos = creditos;
  return bytesDe(c);
}

std::string nota(std::string_view codigoAlumno, std::string_view codigoCurso,
                 std::array<std::int32_t, 5> n) {
  store::NotaAlumno r{};
  store::copiarCodigo(r.codigoAlumno, codigoAlumno);
  store::copiarCodigo(r.codigoCurso, codigoCurso);
  r.practica1 = n[0];
  r.practica2 = n[1];
  r.practica3 = n[2];
  r.examenParcial = n[3];
  r.examenFinal = n[4];
  return bytesDe(r);
}

const std::string kRuiz = alumno("11111111C", "Ruiz", "Luis", 33);
const std::string kNotasEncabezado =
    "codigoAlumno,codigoCurso,practica1,practica2,practica3,examenParcial,examenFinal\r\n";

struct Caso {
  const char* nombre;
  friend void PrintTo(const Caso& c, std::ostream* os) { *os << c.nombre; }
  std::string tema;
  std::string archivo;  // the record file
  std::string antes;    // its bytes before
  std::string csv;
  std::vector<std::string> opciones;
  int estado;
  std::string informe;  // standard output
  std::string despues;  // the record file's bytes after
};

class Importar : public ::testing::TestWithParam<Caso> {};

TEST_P(Importar, StoresEveryRowOrNoneAndSaysWhy) {
  const Caso& c = GetParam();
  harness::ScratchDir dir;
  if (!c.antes.empty()) dir.write(c.archivo, c.antes);
  dir.write("filas.csv", c.csv);
  std::vector<std::string> palabras = {"importar", c.tema, "filas.csv"};
  palabras.insert(palabras.end(), c.opciones.begin(), c.opciones.end());
  const harness::Script s = correr(dir, palabras);
  EXPECT_EQ(s.errors, "");
  EXPECT_EQ(s.status, c.estado);
  EXPECT_EQ(s.output, c.informe);
  if (c.despues.empty()) {
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"filas.csv"})) << "no file made";
  } else {
    EXPECT_EQ(dir.read(c.archivo), c.despues);
    EXPECT_EQ(dir.names().size(), 2u) << "no scratch file left";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Filas, Importar,
    ::testing::Values(
        Caso{"StudentsAfterTheFileWithoutItsFragment",
             "alumnos",
             "ALUMNO.txt",
             kRuiz + "xyz",
             "codigo,apellido,nombre,edad\r\n20231001A,Quispe,Rosa,17\r\n\r\n"
             "20231002b,Mamani,,\r\n\"20231003C\",\"Diaz\",\"Ana\",\"060\"",
             {},
             0,
             "Importados 3 alumnos de filas.csv\n",
             kRuiz + alumno("20231001A", "Quispe", "Rosa", 17) +
                 alumno("20231002b", "Mamani", "", 0) + alumno("20231003C", "Diaz", "Ana", 60)},
        Caso{"CoursesIntoNoFileWithSemicolons",
             "cursos",
             "CURSO.txt",
             "",
             "codigo;nombre;creditos\nMA101A;Matematica;4\nfi201b;" + std::string(39, 'F') + ";5\n",
             {},
             0,
             "Importados 2 cursos de filas.csv\n",
             curso("MA101A", "Matematica", 4) + curso("fi201b", std::string(39, 'F'), 5)},
        Caso{"OneGradeAsTheExportWritesIt",
             "notas",
             "NOTAALUMNO.txt",
             "",
             "codigoAlumno,apellido,nombre,codigoCurso,nombreCurso,practica1,practica2,"
             "practica3,examenParcial,examenFinal,promedio\r\n"
             "123,,,'-1,,0,0,0,0,20,\"4,0\"\r\n",
             {},
             0,
             "Importada 1 nota de filas.csv\n",
             nota("123", "-1", {0, 0, 0, 0, 20})},
        Caso{"PlainLettersForAccentedOnesTakenAsWindows1252",
             "alumnos",
             "ALUMNO.txt",
             "",
             "codigo;apellido;nombre;edad\r\n12345678A;Mu\xF1oz;Jos\xE9;20\r\n",
             {"--sin-acentos"},
             0,
             "linea 2, apellido: \"Mu\xC3\xB1oz\" se guarda como \"Munoz\"\n"
             "linea 2, nombre: \"Jos\xC3\xA9\" se guarda como \"Jose\"\n"
             "Importado 1 alumno de filas.csv\n",
             alumno("12345678A", "Munoz", "Jose", 20)},
        Caso{"ProbarStoresNothing",
             "alumnos",
             "ALUMNO.txt",
             "",
             "codigo,apellido,nombre,edad\n12345678A,Perez,Juan,20\n",
             {"--probar"},
             0,
             "Se pueden importar 1 alumno de filas.csv; con --probar no se guardo nada\n",
             ""},
        Caso{"EveryProblemOfStudentsInLineOrder",
             "alumnos",
             "ALUMNO.txt",
             kRuiz,
             "codigo,apellido,nombre,edad\r\n"
             "20231001A,Quispe,Rosa,61\r\n"
             "2023100A,de la Cruz,Ana,20\r\n"
             "20231002B,Mu\xC3\xB1oz,Ana,-3\r\n"
             "20231003C,Perez,Juan\r\n"
             "11111111C,Ruiz,Luis,33\r\n"
             "20231004D,Lopez,Ana,20\r\n"
             "20231004D,Lopez,Eva,21\r\n"
             "20231005E,ABCDEFGHIJKLMNOPQRST,Ana,\r\n"
             "\"20231006F\"x,A,B,1\r\n",
             {},
             1,
             "linea 2, edad: 61 esta fuera de 0 a 60\n"
             "linea 3, codigo: \"2023100A\" no es de 8 digitos y una letra\n"
             "linea 3, apellido: \"de la Cruz\" tiene caracteres que no son letras\n"
             "linea 4, apellido: \"Mu\xC3\xB1oz\" tiene caracteres que no son letras\n"
             "linea 4, edad: \"-3\" tiene caracteres que no son digitos\n"
             "linea 5: tiene 3 campos y el encabezado 4\n"
             "linea 6, codigo: 11111111C ya esta en ALUMNO.txt\n"
             "linea 8, codigo: 20231004D ya esta en la linea 7\n"
             "linea 9, apellido: \"ABCDEFGHIJKLMNOPQRST\" tiene 20 letras, mas de 19\n"
             "linea 10, codigo: hay texto despues de las comillas que cierran el campo\n"
             "Con --sin-acentos, las letras con acento, tilde, dieresis o cedilla se guardan "
             "sin ellos.\n"
             "No se importo nada de filas.csv: 10 problemas\n",
             kRuiz},
        Caso{"EveryProblemOfCourses",
             "cursos",
             "CURSO.txt",
             "",
             "codigo,nombre,creditos\nM1101A,Fisica I,0\nMA101A,Algebra,\n",
             {},
             1,
             "linea 2, codigo: \"M1101A\" no es de dos letras, tres digitos y una letra\n"
             "linea 2, nombre: \"Fisica I\" tiene caracteres que no son letras\n"
             "linea 2, creditos: 0 esta fuera de 1 a 5\n"
             "linea 3, creditos: vacio, que es 0, esta fuera de 1 a 5\n"
             "No se importo nada de filas.csv: 4 problemas\n",
             ""},
        Caso{"EveryProblemOfGrades",
             "notas",
             "NOTAALUMNO.txt",
             "",
             kNotasEncabezado + "1234567890,MA101AB,21,,,,x\n12\xE2\x82\xAC,A\x01,1,1,1,1,1\n",
             {},
             1,
             "linea 2, codigoAlumno: \"1234567890\" tiene 10 caracteres, mas de 9\n"
             "linea 2, codigoCurso: \"MA101AB\" tiene 7 caracteres, mas de 6\n"
             "linea 2, practica1: 21 esta fuera de 0 a 20\n"
             "linea 2, examenFinal: \"x\" tiene caracteres que no son digitos\n"
             "linea 3, codigoAlumno: \"12\xE2\x82\xAC\" tiene caracteres que no caben en un "
             "byte\n"
             "linea 3, codigoCurso: \"A?\" tiene caracteres de control\n"
             "No se importo nada de filas.csv: 6 problemas\n",
             ""},
        Caso{"AHeaderWithoutNeededColumns",
             "alumnos",
             "ALUMNO.txt",
             "",
             "codigo,nombre,Nombre,extra\n12345678A,Ana,Ana,x\n",
             {},
             1,
             "linea 1: falta la columna apellido\n"
             "linea 1: la columna nombre esta 2 veces\n"
             "linea 1: falta la columna edad\n"
             "No se importo nada de filas.csv: 3 problemas\n",
             ""},
        Caso{"NoHeaderAtAll",
             "cursos",
             "CURSO.txt",
             "",
             "\r\n",
             {},
             1,
             "linea 1: el archivo no tiene fila de encabezado\n"
             "No se importo nada de filas.csv: 1 problema\n",
             ""}),
    datos_test::PorNombre());

// Every spelling of the export's names, in any order, among other columns.
TEST(Encabezado, NamesAreTakenWithoutCaseAccentsOrSurroundingSpaces) {
  const std::pair<std::string, std::string> casos[] = {
      {"codigo,apellido,nombre,edad", "12345678A,Perez,Ana,20"},
      {"  EDAD ;Nombre;C\xC3\xB3"
       "digo;APELLIDO;Observaci\xC3\xB3n",
       "20;Ana;12345678A;Perez;x"},
      {"\xEF\xBB\xBF"
       "Apellido\tC\xC3\x93"
       "DIGO\tEdad\tNombre",
       "Perez\t12345678A\t20\tAna"},
      {"C\xF3"
       "digo,Apellido,Nombre,Edad,Direcci\xF3n",
       "12345678A,Perez,Ana,20,\"Av. 1, 2\""},
  };
  for (const auto& [encabezado, fila] : casos) {
    harness::ScratchDir dir;
    dir.write("a.csv", encabezado + "\r\n" + fila + "\r\n");
    const harness::Script s = correr(dir, {"importar", "alumnos", "a.csv"});
    EXPECT_EQ(s.status, 0) << encabezado << "\n" << s.output;
    EXPECT_EQ(dir.read("ALUMNO.txt"), alumno("12345678A", "Perez", "Ana", 20)) << encabezado;
  }
}

// The import takes and refuses each value as the screens do: the rules'
// own table, a row a value.
TEST(Reglas, EachValueIsTakenOrRefusedByItsFieldsRule) {
  struct Donde {
    datos::Tema tema;
    std::string encabezado;
    std::string antes, despues;  // the row around the value
  };
  auto donde = [](store::Campo campo) -> Donde {
    const std::string notas =
        "codigoAlumno;codigoCurso;practica1;practica2;practica3;"
        "examenParcial;examenFinal\n";
    switch (campo) {
      case store::Campo::codigoAlumno:
        return {datos::Tema::alumnos, "codigo;apellido;nombre;edad\n", "", ";Perez;Ana;20"};
      case store::Campo::nombreAlumno:
        return {datos::Tema::alumnos, "codigo;apellido;nombre;edad\n", "12345678A;", ";Ana;20"};
      case store::Campo::edad:
        return {datos::Tema::alumnos, "codigo;apellido;nombre;edad\n", "12345678A;Perez;Ana;", ""};
      case store::Campo::codigoCurso:
        return {datos::Tema::cursos, "codigo;nombre;creditos\n", "", ";Arte;3"};
      case store::Campo::nombreCurso:
        return {datos::Tema::cursos, "codigo;nombre;creditos\n", "MA101A;", ";3"};
      case store::Campo::creditos:
        return {datos::Tema::cursos, "codigo;nombre;creditos\n", "MA101A;Arte;", ""};
      case store::Campo::nota:
        return {datos::Tema::notas, notas, "1;2;", ";0;0;0;0"};
      case store::Campo::codigoAlumnoNota:
        return {datos::Tema::notas, notas, "", ";2;0;0;0;0;0"};
      case store::Campo::codigoCursoNota:
        return {datos::Tema::notas, notas, "1;", ";0;0;0;0;0"};
    }
    return {};
  };
  harness::ScratchDir dir;
  const std::filesystem::path antes = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  for (const reglas_casos::Caso& caso : reglas_casos::kCasos) {
    const Donde d = donde(caso.campo);
    datos::Salida salida([](std::string_view) { return 0; });
    std::size_t problemas = 0;
    datos::OpcionesImportar opciones;
    opciones.probar = true;
    const std::string csv = d.encabezado + d.antes + caso.valor + d.despues + "\n";
    EXPECT_EQ(datos::importar(d.tema, csv, "a.csv", opciones, salida, problemas), std::nullopt);
    EXPECT_EQ(problemas, caso.veredicto == store::Veredicto::bien ? 0u : 1u) << csv;
  }
  std::filesystem::current_path(antes);
}

// Every export, with either separator, imported into an empty folder gives
// back the very bytes the program stored.
TEST(IdaYVuelta, AnExportImportedGivesTheSameRecords) {
  const std::pair<std::string, std::string> archivos[] = {
      {"alumnos", alumno("12345678A", "Perez", "Juan", 0) + alumno("87654321b", "", "Ana", 60)},
      {"cursos", curso("MA101A", "Matematica", 1) + curso("fi201b", std::string(39, 'F'), 5)},
      {"notas", nota("12345678A", "MA101A", {0, 20, 10, 0, 20}) +
                    nota("-1\xD1", "=A\"; ", {1, 2, 3, 4, 5}) + nota("", "", {0, 0, 0, 0, 0})},
  };
  const std::map<std::string, std::string> nombres = {
      {"alumnos", "ALUMNO.txt"}, {"cursos", "CURSO.txt"}, {"notas", "NOTAALUMNO.txt"}};
  for (const auto& [tema, bytes] : archivos) {
    for (const char* separador : {",", ";"}) {
      SCOPED_TRACE(tema + " " + separador);
      harness::ScratchDir origen;
      origen.write(nombres.at(tema), bytes);
      const harness::Script exportado =
          correr(origen, {"exportar", tema, "--separador", separador});
      ASSERT_EQ(exportado.status, 0);
      harness::ScratchDir destino;
      destino.write("datos.csv", exportado.output);
      const harness::Script importado = correr(destino, {"importar", tema, "datos.csv"});
      EXPECT_EQ(importado.status, 0) << importado.output;
      EXPECT_EQ(destino.read(nombres.at(tema)), bytes);
    }
  }
}

TEST(EntradaEstandar, TheDashReadsTheRowsFromStandardInput) {
  harness::ScratchDir dir;
  harness::Options opciones;
  opciones.program = ALUMNOS_DATOS_BINARY;
  opciones.args = {"importar", "cursos", "-"};
  const harness::Script s =
      harness::runScript(dir.path(), "codigo,nombre,creditos\r\nMA101A,Arte,2\r\n", opciones);
  EXPECT_EQ(s.status, 0);
  EXPECT_EQ(s.output, "Importado 1 curso de la entrada estandar\n");
  EXPECT_EQ(dir.read("CURSO.txt"), curso("MA101A", "Arte", 2));
}

// The screen looks up the code in the file the import wrote.
TEST(Pantalla, AStudentImportedIsRefusedAsExistingWhenTyped) {
  harness::ScratchDir dir;
  dir.write("a.csv", "codigo,apellido,nombre,edad\n12345678A,Perez,Juan,20\n");
  ASSERT_EQ(correr(dir, {"importar", "alumnos", "a.csv"}).status, 0);
  const harness::Script s = harness::runScript(dir.path(), "1\n12345678A");
  EXPECT_EQ(s.status, 0);
  EXPECT_NE(s.output.find(" El alumno ya existe  "), std::string::npos) << s.output;
  EXPECT_EQ(dir.read("ALUMNO.txt"), alumno("12345678A", "Perez", "Juan", 20));
}

struct Fallo {
  const char* nombre;
  friend void PrintTo(const Fallo& c, std::ostream* os) { *os << c.nombre; }
  std::vector<std::string> palabras;
  std::string error;
};

class FalloDeImportar : public ::testing::TestWithParam<Fallo> {};

TEST_P(FalloDeImportar, IsOneLineOnStandardErrorWithStatusTwoAndNothingStored) {
  harness::ScratchDir dir;
  dir.write("a.csv", "codigo,nombre,creditos\nMA101A,Arte,2\n");
  std::filesystem::create_directory(dir.path() + "/CURSO.txt");
  const harness::Script s = correr(dir, GetParam().palabras);
  EXPECT_EQ(s.status, 2);
  EXPECT_EQ(s.output, "");
  EXPECT_EQ(s.errors, "alumnos-datos: " + GetParam().error + "\n");
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"CURSO.txt", "a.csv"}));
}

INSTANTIATE_TEST_SUITE_P(
    Importar, FalloDeImportar,
    ::testing::Values(Fallo{"AMissingCsv",
                            {"importar", "cursos", "b.csv"},
                            "No se puede leer el archivo b.csv (no existe)"},
                      Fallo{"ADirectoryForTheRecordFile",
                            {"importar", "cursos", "a.csv"},
                            "No se puede leer el archivo CURSO.txt (es un directorio)"}),
    datos_test::PorNombre());

}  // namespace
