// alumnos-datos verificar: a clean set passes, each kind of damage is named
// with its file, record and code, and notices do not count as problems.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "alumnos.hpp"
#include "comun.hpp"
#include "datos.hpp"
#include "datos/lectura.hpp"

namespace {

using datos_test::alumno;
using datos_test::correr;
using datos_test::curso;
using datos_test::escribir;
using datos_test::limpios;
using datos_test::nota;

TEST(Verificar, ACleanSetHasNoFindingAndStatusZero) {
  harness::ScratchDir dir;
  escribir(dir, limpios());
  const harness::Script s = correr(dir, {"verificar"});
  EXPECT_EQ(s.status, 0);
  EXPECT_EQ(s.errors, "");
  EXPECT_EQ(s.output, "Revisados 2 alumnos, 2 cursos y 2 notas: 0 problemas y 0 avisos\n");
  for (const auto& [nombre, bytes] : limpios())
    EXPECT_EQ(dir.read(nombre), bytes) << nombre << " is only read";
}

// A check run in the wrong folder does not pass: each file missing is named,
// and none at all is a problem.
TEST(Verificar, NamesEachMissingFileAndNoneAtAllIsAProblem) {
  struct Caso {
    std::vector<std::string> faltan;
    std::string salida;
    int estado;
  };
  const Caso casos[] = {
      {{"ALUMNO.txt", "CURSO.txt", "NOTAALUMNO.txt"},
       "problema: no hay archivos de datos en esta carpeta\n"
       "Revisados 0 alumnos, 0 cursos y 0 notas: 1 problema y 0 avisos\n",
       1},
      {{"NOTAALUMNO.txt"},
       "aviso: no hay NOTAALUMNO.txt en esta carpeta\n"
       "Revisados 2 alumnos, 2 cursos y 0 notas: 0 problemas y 1 aviso\n",
       0},
      {{"ALUMNO.txt", "CURSO.txt"},
       "aviso: no hay ALUMNO.txt en esta carpeta\n"
       "aviso: no hay CURSO.txt en esta carpeta\n"
       "aviso: NOTAALUMNO.txt, registro 1, alumno 12345678A, curso MA101A: el alumno no esta en "
       "ALUMNO.txt\n"
       "aviso: NOTAALUMNO.txt, registro 1, alumno 12345678A, curso MA101A: el curso no esta en "
       "CURSO.txt\n"
       "aviso: NOTAALUMNO.txt, registro 2, alumno 87654321B, curso fi201b: el alumno no esta en "
       "ALUMNO.txt\n"
       "aviso: NOTAALUMNO.txt, registro 2, alumno 87654321B, curso fi201b: el curso no esta en "
       "CURSO.txt\n"
       "Revisados 0 alumnos, 0 cursos y 2 notas: 0 problemas y 6 avisos\n",
       0},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(testing::PrintToString(c.faltan));
    harness::ScratchDir dir;
    auto archivos = limpios();
    for (const std::string& nombre : c.faltan)
      archivos.erase(nombre);
    escribir(dir, archivos);
    const harness::Script s = correr(dir, {"verificar"});
    EXPECT_EQ(s.status, c.estado);
    EXPECT_EQ(s.output, c.salida);
    EXPECT_EQ(dir.names().size(), 3 - c.faltan.size()) << "nothing is made up";
  }
}

struct Dano {
  const char* nombre;
  friend void PrintTo(const Dano& c, std::ostream* os) { *os << c.nombre; }
  std::string archivo;
  std::string bytes;  // appended to the clean file
  std::string hallazgo;
};

class Danado : public ::testing::TestWithParam<Dano> {};

TEST_P(Danado, NamesTheFileRecordAndCodeWithStatusOne) {
  harness::ScratchDir dir;
  auto archivos = limpios();
  archivos[GetParam().archivo] += GetParam().bytes;
  escribir(dir, archivos);
  const harness::Script s = correr(dir, {"verificar"});
  EXPECT_EQ(s.status, 1);
  EXPECT_EQ(s.errors, "");
  const std::string alumnos = std::to_string(archivos["ALUMNO.txt"].size() / 59);
  const std::string cursos = std::to_string(archivos["CURSO.txt"].size() / 50);
  const std::string notas = std::to_string(archivos["NOTAALUMNO.txt"].size() / 35);
  EXPECT_EQ(s.output, "problema: " + GetParam().hallazgo + "\nRevisados " + alumnos + " alumnos, " +
                          cursos + " cursos y " + notas + " notas: 1 problema y 0 avisos\n");
}

INSTANTIATE_TEST_SUITE_P(
    Danos, Danado,
    ::testing::Values(
        Dano{"StudentFragment", "ALUMNO.txt", "1234567",
             "ALUMNO.txt, registro 3: incompleto, 7 de 59 bytes al final del archivo"},
        Dano{"CourseFragment", "CURSO.txt", std::string(49, 'x'),
             "CURSO.txt, registro 3: incompleto, 49 de 50 bytes al final del archivo"},
        Dano{"GradeFragment", "NOTAALUMNO.txt", "x",
             "NOTAALUMNO.txt, registro 3: incompleto, 1 de 35 bytes al final del archivo"},
        Dano{"StudentCodeWithoutZero", "ALUMNO.txt", alumno("12345678C123456", "Ana", "Ana", 5),
             "ALUMNO.txt, registro 3, codigo 12345678C123456: el codigo no termina en un cero"},
        Dano{"SurnameWithoutZero", "ALUMNO.txt",
             alumno("12345678C", std::string(20, 'A'), "Ana", 5),
             "ALUMNO.txt, registro 3, codigo 12345678C: el apellido no termina en un cero"},
        Dano{"NameWithoutZero", "ALUMNO.txt", alumno("12345678C", "Ana", std::string(20, 'n'), 5),
             "ALUMNO.txt, registro 3, codigo 12345678C: el nombre no termina en un cero"},
        Dano{"CourseNameWithoutZero", "CURSO.txt", curso("QU301C", std::string(40, 'Q'), 3),
             "CURSO.txt, registro 3, codigo QU301C: el nombre no termina en un cero"},
        Dano{"StudentCodeOfNineDigits", "ALUMNO.txt", alumno("123456789", "Ana", "Ana", 5),
             "ALUMNO.txt, registro 3, codigo 123456789: el codigo no es de 8 digitos y una letra"},
        Dano{"StudentCodeTooShort", "ALUMNO.txt", alumno("1234567A", "Ana", "Ana", 5),
             "ALUMNO.txt, registro 3, codigo 1234567A: el codigo no es de 8 digitos y una letra"},
        Dano{"StudentCodeWithAnAccent", "ALUMNO.txt", alumno("12345678\xD1", "Ana", "Ana", 5),
             "ALUMNO.txt, registro 3, codigo 12345678\xC3\x91: el codigo no es de 8 digitos y "
             "una letra"},
        Dano{"CourseCodeWithADigitForALetter", "CURSO.txt", curso("M1101A", "Algebra", 3),
             "CURSO.txt, registro 3, codigo M1101A: el codigo no es de dos letras, tres digitos y "
             "una letra"},
        Dano{"CourseCodeCutByAZero", "CURSO.txt", curso(std::string("MA10\0A", 6), "Algebra", 3),
             "CURSO.txt, registro 3, codigo MA10: el codigo no es de dos letras, tres digitos y "
             "una letra"},
        Dano{"SurnameWithASpace", "ALUMNO.txt", alumno("12345678C", "de la Cruz", "Ana", 5),
             "ALUMNO.txt, registro 3, codigo 12345678C: el apellido \"de la Cruz\" tiene "
             "caracteres que no son letras"},
        Dano{"NameWithLatin1AndAControlByte", "ALUMNO.txt",
             alumno("12345678C", "Ana", "Jos\xE9\x01", 5),
             "ALUMNO.txt, registro 3, codigo 12345678C: el nombre \"Jos\xC3\xA9?\" tiene "
             "caracteres que no son letras"},
        Dano{"CourseNameWithADigit", "CURSO.txt", curso("QU301C", "Quimica2", 3),
             "CURSO.txt, registro 3, codigo QU301C: el nombre \"Quimica2\" tiene caracteres que "
             "no son letras"},
        Dano{"NegativeAge", "ALUMNO.txt", alumno("12345678C", "Ana", "Ana", -1),
             "ALUMNO.txt, registro 3, codigo 12345678C: la edad es -1, fuera de 0 a 60"},
        Dano{"AgeAboveSixty", "ALUMNO.txt", alumno("12345678C", "Ana", "Ana", 61),
             "ALUMNO.txt, registro 3, codigo 12345678C: la edad es 61, fuera de 0 a 60"},
        Dano{"NoCredits", "CURSO.txt", curso("QU301C", "Quimica", 0),
             "CURSO.txt, registro 3, codigo QU301C: los creditos son 0, fuera de 1 a 5"},
        Dano{"SixCredits", "CURSO.txt", curso("QU301C", "Quimica", 6),
             "CURSO.txt, registro 3, codigo QU301C: los creditos son 6, fuera de 1 a 5"},
        Dano{"FirstPractical", "NOTAALUMNO.txt", nota("12345678A", "MA101A", {21, 0, 0, 0, 0}),
             "NOTAALUMNO.txt, registro 3, alumno 12345678A, curso MA101A: la practica 1 es 21, "
             "fuera de 0 a 20"},
        Dano{"SecondPractical", "NOTAALUMNO.txt", nota("12345678A", "MA101A", {0, -1, 0, 0, 0}),
             "NOTAALUMNO.txt, registro 3, alumno 12345678A, curso MA101A: la practica 2 es -1, "
             "fuera de 0 a 20"},
        Dano{"ThirdPractical", "NOTAALUMNO.txt",
             nota("12345678A", "MA101A", {0, 0, -2147483647 - 1, 0, 0}),
             "NOTAALUMNO.txt, registro 3, alumno 12345678A, curso MA101A: la practica 3 es "
             "-2147483648, fuera de 0 a 20"},
        Dano{"MidTerm", "NOTAALUMNO.txt", nota("12345678A", "MA101A", {0, 0, 0, 99, 0}),
             "NOTAALUMNO.txt, registro 3, alumno 12345678A, curso MA101A: el examen parcial es "
             "99, fuera de 0 a 20"},
        Dano{"Final", "NOTAALUMNO.txt", nota("12345678A", "MA101A", {0, 0, 0, 0, 2147483647}),
             "NOTAALUMNO.txt, registro 3, alumno 12345678A, curso MA101A: el examen final es "
             "2147483647, fuera de 0 a 20"},
        Dano{"StudentStoredTwice", "ALUMNO.txt", alumno("12345678A", "Otro", "Alumno", 30),
             "ALUMNO.txt, registro 3, codigo 12345678A: el codigo ya esta en el registro 1"},
        Dano{"StudentStoredTwiceWithOtherBytesAfterTheZero", "ALUMNO.txt",
             alumno(std::string("87654321B\0zz", 12), "Otro", "Alumno", 30),
             "ALUMNO.txt, registro 3, codigo 87654321B: el codigo ya esta en el registro 2"},
        Dano{"CourseStoredTwice", "CURSO.txt", curso("fi201b", "Otro", 2),
             "CURSO.txt, registro 3, codigo fi201b: el codigo ya esta en el registro 2"}),
    datos_test::PorNombre());

TEST(Verificar, CodesDifferingInCaseAreNotTheSameCode) {
  harness::ScratchDir dir;
  auto archivos = limpios();
  archivos["ALUMNO.txt"] += alumno("12345678a", "Ana", "Ana", 5);
  archivos["CURSO.txt"] += curso("FI201B", "Fisica", 2);
  escribir(dir, archivos);
  const harness::Script s = correr(dir, {"verificar"});
  EXPECT_EQ(s.status, 0) << s.output;
}

TEST(Verificar, EveryFindingOfARecordAndEveryRecordInOrder) {
  harness::ScratchDir dir;
  auto archivos = limpios();
  archivos["ALUMNO.txt"] +=
      alumno("1234X", "Ana Maria", "Ana", 70) + alumno("12345678A", "Ana", "Ana", 5) + "xx";
  escribir(dir, archivos);
  const harness::Script s = correr(dir, {"verificar"});
  EXPECT_EQ(s.status, 1);
  EXPECT_EQ(s.output,
            "problema: ALUMNO.txt, registro 3, codigo 1234X: el codigo no es de 8 digitos y una "
            "letra\n"
            "problema: ALUMNO.txt, registro 3, codigo 1234X: el apellido \"Ana Maria\" tiene "
            "caracteres que no son letras\n"
            "problema: ALUMNO.txt, registro 3, codigo 1234X: la edad es 70, fuera de 0 a 60\n"
            "problema: ALUMNO.txt, registro 4, codigo 12345678A: el codigo ya esta en el "
            "registro 1\n"
            "problema: ALUMNO.txt, registro 5: incompleto, 2 de 59 bytes al final del archivo\n"
            "Revisados 4 alumnos, 2 cursos y 2 notas: 5 problemas y 0 avisos\n");
}

TEST(Verificar, NoticesAreNotProblems) {
  harness::ScratchDir dir;
  auto archivos = limpios();
  // The second student deleted: its grades stay. A grade typed for a course
  // that was never entered, and a course code typed short.
  archivos["ALUMNO.txt"].resize(59);
  archivos["NOTAALUMNO.txt"] +=
      nota("12345678A", "XX999X", {1, 2, 3, 4, 5}) + nota("12345678A", "MA1", {1, 2, 3, 4, 5});
  escribir(dir, archivos);
  dir.write("TEMPORAL.txt", "");
  const harness::Script s = correr(dir, {"verificar"});
  EXPECT_EQ(s.status, 0);
  EXPECT_EQ(s.output,
            "aviso: NOTAALUMNO.txt, registro 2, alumno 87654321B, curso fi201b: el alumno no esta "
            "en ALUMNO.txt\n"
            "aviso: NOTAALUMNO.txt, registro 3, alumno 12345678A, curso XX999X: el curso no esta "
            "en CURSO.txt\n"
            "aviso: NOTAALUMNO.txt, registro 4, alumno 12345678A, curso MA1: el curso no esta en "
            "CURSO.txt\n"
            "aviso: TEMPORAL.txt: quedo de una eliminacion que no termino\n"
            "Revisados 1 alumno, 2 cursos y 4 notas: 0 problemas y 4 avisos\n");
}

// A code stored twice is found however far apart the two records are: here
// more records apart than are compared at a time.
TEST(Verificar, AStudentStoredTwiceFarApart) {
  constexpr int kAlumnos = 70'000;
  harness::ScratchDir dir;
  dir.write("ALUMNO.txt", harness::muchosAlumnos(kAlumnos) +
                              harness::registro(harness::numerado(3)) +
                              harness::registro(harness::numerado(kAlumnos - 1)));
  const harness::Script s = correr(dir, {"verificar"});
  EXPECT_EQ(s.status, 1);
  EXPECT_EQ(s.output,
            "aviso: no hay CURSO.txt en esta carpeta\n"
            "aviso: no hay NOTAALUMNO.txt en esta carpeta\n"
            "problema: ALUMNO.txt, registro 70001, codigo 00000003A: el codigo ya esta en el "
            "registro 3\n"
            "problema: ALUMNO.txt, registro 70002, codigo 00069999A: el codigo ya esta en el "
            "registro 69999\n"
            "Revisados 70002 alumnos, 0 cursos y 0 notas: 2 problemas y 2 avisos\n");
}

// A file cut short by another program while it is read: the bytes left in
// the reader's buffer past the last whole record are no fragment of the file.
class LectorQueCambia : public store::prueba::Archivos {};

TEST_F(LectorQueCambia, TellsAFragmentOnlyWhenTheFileStillEndsThere) {
  struct Caso {
    const char* que;
    std::size_t bytes;     // the file's size at the start
    std::int64_t cortarA;  // its size once the first block is read; -1 left as it is
    std::size_t sobrante;
    bool cambiado;
  };
  constexpr std::size_t kGrande = 10'000 * 59;
  const std::size_t primerBloque = store::LectorBloques::kCapacidad;
  const Caso casos[] = {
      {"unchanged, with a fragment", kGrande + 7, -1, 7, false},
      {"cut short", kGrande, 100 * 59, 0, true},
      {"cut where the first block ends", kGrande, static_cast<std::int64_t>(primerBloque),
       primerBloque % 59, false},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.que);
    store::prueba::escribirArchivo("ALUMNO.txt", std::string(c.bytes, 'x'));
    datos::Fuente<store::Alumno> fuente;
    ASSERT_FALSE(fuente.abrir());
    datos::Lector<store::Alumno> lector(fuente);
    ASSERT_NE(lector.siguiente(), nullptr);
    if (c.cortarA >= 0)
      std::filesystem::resize_file("ALUMNO.txt", static_cast<std::uintmax_t>(c.cortarA));
    while (lector.siguiente() != nullptr) {
    }
    EXPECT_FALSE(lector.error());
    EXPECT_EQ(lector.sobrante(), c.sobrante);
    EXPECT_EQ(lector.cambiado(), c.cambiado);
  }
}

TEST(Verificar, AFileThatCannotBeReadIsNamedWithStatusTwo) {
  for (const std::string archivo : {"ALUMNO.txt", "CURSO.txt", "NOTAALUMNO.txt"}) {
    harness::ScratchDir dir;
    escribir(dir, limpios());
    std::filesystem::remove(dir.path() + "/" + archivo);
    std::filesystem::create_directory(dir.path() + "/" + archivo);
    const harness::Script s = correr(dir, {"verificar"});
    EXPECT_EQ(s.status, 2) << archivo;
    EXPECT_EQ(s.output, "") << archivo;
    EXPECT_EQ(s.errors,
              "alumnos-datos: No se puede leer el archivo " + archivo + " (es un directorio)\n");
  }
}

}  // namespace
