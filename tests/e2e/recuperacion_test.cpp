// Start-up after a deletion that was cut off with the students only in
// TEMPORAL.txt.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "comun.hpp"
#include "files.hpp"
#include "store/registros.hpp"
#include "terminal.hpp"

namespace {

constexpr const char kBanner[] = " Se recupero ALUMNO.txt desde TEMPORAL.txt ...!!! ";
constexpr const char kNoRecuperado[] = " No se recupero TEMPORAL.txt: no contiene alumnos ...!!! ";

std::string estudiante(const char* codigo, const char* apellido, std::int32_t edad) {
  store::Alumno alumno{};
  store::copiarTexto(alumno.codigo, codigo);
  store::copiarTexto(alumno.apellido, apellido);
  store::copiarTexto(alumno.nombre, "Ana");
  alumno.edad = edad;
  const store::Bytes<store::Alumno> bytes = store::codificar(alumno);
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

TEST(Recuperacion, TheStudentsLeftInTheScratchFileComeBackWithABannerAndOneKey) {
  harness::ScratchDir dir;
  const std::string dos = estudiante("12345678A", "Perez", 20) + estudiante("87654321b", "Ruiz", 0);
  dir.write("TEMPORAL.txt", dos);
  harness::Terminal t(dir.path());
  {
    SCOPED_TRACE(t.dump());
    EXPECT_EQ(t.text(10, 12, 50), kBanner);
    EXPECT_EQ(t.row(19), "");
    EXPECT_EQ(t.cursor(), (harness::Position{60, 12}));
  }
  EXPECT_EQ(dir.read("ALUMNO.txt"), dos);
  EXPECT_FALSE(dir.exists("TEMPORAL.txt"));
  t.type("x");
  e2e::expectMenu(t);
}

// Another program's cut-off replacement: its students, written with its own
// letters and ages, are recovered whole, and the listing shows them.
TEST(Recuperacion, AnotherProgramsStudentsComeBackWhateverTheirLettersAndAges) {
  harness::ScratchDir dir;
  const std::string alumnos = estudiante("12345678A", "GARCIA", 20) +
                              estudiante("87654321B", "MU\xD1OZ", 99) + "\x01\x02\x03";
  dir.write("TEMPORAL.txt", alumnos);
  harness::Terminal t(dir.path());
  EXPECT_EQ(t.text(10, 12, 50), kBanner) << t.dump();
  EXPECT_EQ(dir.read("ALUMNO.txt"), alumnos);
  EXPECT_FALSE(dir.exists("TEMPORAL.txt"));
  t.key(harness::Key::PageDown);  // one key press, whole
  e2e::expectMenu(t);
  t.type("4\r");
  SCOPED_TRACE(t.dump());
  EXPECT_EQ(t.text(27, 10, 6), "GARCIA");
  EXPECT_EQ(t.text(27, 11, 5), "MU\u00D1OZ");
  EXPECT_EQ(t.text(62, 11, 2), "99");
  EXPECT_EQ(t.row(12), "      " + std::string(56, '_'));
}

struct Arranque {
  const char* nombre;
  const char* alumnos;  // nullptr: no ALUMNO.txt
  std::string temporal;
  bool avisa;  // the notice that TEMPORAL.txt was left, and one key
};

TEST(Recuperacion, AScratchFileLeftWhereItIsIsSaidAndNothingIsTouched) {
  const std::string valido = estudiante("12345678A", "Perez", 20);
  const std::string texto = "Notas del curso de 2023: GARCIA 14, MUNOZ 17, RUIZ 9, PEREZ 12.\n";
  const Arranque casos[] = {
      {"plain text", nullptr, texto, true},
      {"a record without a zero in its code", nullptr, std::string(59, 'B'), true},
      {"a student, then a name filling its field", nullptr,
       valido + "12345678A" + std::string(50, 'x'), true},
      {"the student file is there", "", valido, false},
  };
  for (const Arranque& caso : casos) {
    SCOPED_TRACE(caso.nombre);
    harness::ScratchDir dir;
    if (caso.alumnos != nullptr) dir.write("ALUMNO.txt", caso.alumnos);
    dir.write("TEMPORAL.txt", caso.temporal);
    harness::Terminal t(dir.path());
    if (caso.avisa) {
      SCOPED_TRACE(t.dump());
      EXPECT_EQ(t.text(10, 12, static_cast<int>(std::strlen(kNoRecuperado))), kNoRecuperado);
      EXPECT_EQ(t.row(19), "");
      EXPECT_EQ(t.cursor(),
                (harness::Position{10 + static_cast<int>(std::strlen(kNoRecuperado)), 12}));
      t.key(harness::Key::Delete);  // one key press, whole
    }
    e2e::expectMenu(t);
    EXPECT_EQ(dir.read("TEMPORAL.txt"), caso.temporal);
    EXPECT_EQ(dir.exists("ALUMNO.txt"), caso.alumnos != nullptr);
  }
}

// A copy already at its menu when the student file goes missing, the
// students only in TEMPORAL.txt: the first screen that would make a new
// student file puts them back first, with the start-up's notice, and goes on
// with them; a scratch file that is no students is said and left, and the
// screen goes on with a new, empty student file.
TEST(Recuperacion, AScreenThatFindsNoStudentFileRecoversItFirstAsStartUpDoes) {
  const std::string dos =
      estudiante("12345678A", "Perez", 20) + estudiante("87654321B", "Ruiz", 30);
  const std::string texto = "Notas del curso de 2023: GARCIA 14, MUNOZ 17.\n";
  struct Caso {
    const char* nombre;
    std::string temporal;
    std::string opcion;
    const char* aviso;
    int fila;             // where the screen, drawn after the notice, asks first
    std::string pedido;   // what it asks there, from column 1
    std::string teclas;   // the rest of the visit
    std::string alumnos;  // ALUMNO.txt afterwards
  };
  const Caso casos[] = {
      {"student screen", dos, "1\r", kBanner, 8, std::string(17, ' ') + " * Codigo del Alumno   :",
       "11111111CLuz\rAna\r41\rNx", dos + estudiante("11111111C", "Luz", 41)},
      {"deletion screen", dos, "5\r", kBanner, 8, std::string(9, ' ') + " Ingrese codigo=",
       "12345678A\rSabc", estudiante("87654321B", "Ruiz", 30)},
      {"student screen, no students in it", texto, "1\r", kNoRecuperado, 8,
       std::string(17, ' ') + " * Codigo del Alumno   :", "11111111CLuz\rAna\r41\rNx",
       estudiante("11111111C", "Luz", 41)},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.nombre);
    harness::ScratchDir dir;
    harness::Terminal t(dir.path());
    e2e::expectMenu(t);
    dir.write("TEMPORAL.txt", c.temporal);
    t.type(c.opcion);
    {
      SCOPED_TRACE(t.dump());
      EXPECT_EQ(t.text(10, 12, static_cast<int>(std::strlen(c.aviso))), c.aviso);
      EXPECT_EQ(t.row(c.fila), "");
    }
    t.type("x");
    EXPECT_EQ(t.row(c.fila), c.pedido) << t.dump();
    t.typeByteByByte(c.teclas);
    e2e::expectMenu(t);
    EXPECT_EQ(dir.read("ALUMNO.txt"), c.alumnos);
    EXPECT_EQ(dir.exists("TEMPORAL.txt"), c.aviso == kNoRecuperado);
  }
}

}  // namespace
