// Start-up after a deletion that was cut off with the students only in
// TEMPORAL.txt.
#include <gtest/gtest.h>

#include <string>

#include "comun.hpp"
#include "files.hpp"
#include "store/registros.hpp"
#include "terminal.hpp"

namespace {

constexpr const char kBanner[] = " Se recupero ALUMNO.txt desde TEMPORAL.txt ...!!! ";

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

struct Arranque {
  const char* nombre;
  const char* alumnos;  // nullptr: no ALUMNO.txt
  std::string temporal;
};

TEST(Recuperacion, AnyOtherStateStartsAtTheMenuAndTouchesNoFile) {
  const std::string valido = estudiante("12345678A", "Perez", 20);
  const Arranque casos[] = {
      {"the student file is there", "", valido},
      {"a scratch file ending in a fragment", nullptr, valido + "xy"},
      {"a scratch file holding something else", nullptr, valido + estudiante("1234567", "P", 9)},
  };
  for (const Arranque& caso : casos) {
    SCOPED_TRACE(caso.nombre);
    harness::ScratchDir dir;
    if (caso.alumnos != nullptr) dir.write("ALUMNO.txt", caso.alumnos);
    dir.write("TEMPORAL.txt", caso.temporal);
    harness::Terminal t(dir.path());
    e2e::expectMenu(t);
    EXPECT_EQ(dir.read("TEMPORAL.txt"), caso.temporal);
    EXPECT_EQ(dir.exists("ALUMNO.txt"), caso.alumnos != nullptr);
  }
}

}  // namespace
