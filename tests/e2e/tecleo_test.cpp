// Keys at any speed: typed ahead, pasted, or arriving in one burst over a
// slow link, every key lands where it would typed one by one, and what is
// stored is what the screen showed.
#include <gtest/gtest.h>

#include <string>

#include "../faults/comun.hpp"
#include "comun.hpp"
#include "files.hpp"
#include "terminal.hpp"

namespace {

using harness::Position;
using harness::Terminal;

constexpr char kPideCodigo[] = " * Codigo del Alumno   : ";
constexpr char kPideApellido[] = " * Apellido del alumno : ";

std::string en(int columna, const std::string& texto) {
  return std::string(static_cast<std::size_t>(columna - 1), ' ') + texto;
}

struct Rafaga {
  const char* name;
  std::string rafaga;   // one write, at the student's code
  std::string despues;  // typed once the burst is taken
};

TEST(Tecleo, KeysTypedAheadOfTheSurnameAreEchoedEditedAndStoredAsShown) {
  const Rafaga rafagas[] = {
      {"a code and a surname in one burst", "12345678CPerez\r", ""},
      {"Backspace inside the burst", "12345678CPerezz\x7f\r", ""},
      {"a burst that ends mid-line, completed later", "12345678CPer", "ez\r"},
      {"Backspace typed later erases what came ahead", "12345678CPerx",
       "\x7f"
       "ez\r"},
  };
  for (const Rafaga& r : rafagas) {
    SCOPED_TRACE(r.name);
    harness::ScratchDir dir;
    Terminal t(dir.path());
    t.type("1\r");
    t.type(r.rafaga);
    if (!r.despues.empty()) t.type(r.despues);
    {
      SCOPED_TRACE(t.dump());
      EXPECT_EQ(t.row(8), en(18, kPideCodigo) + "12345678C");
      EXPECT_EQ(t.row(9), en(18, kPideApellido) + "Perez");
      EXPECT_EQ(t.cursor(), (Position{43, 10}));
    }
    t.type("Juan\r20\rnk");
    e2e::expectMenu(t);
    EXPECT_EQ(dir.read("ALUMNO.txt"), fallos::alumnoTecleado("12345678C", "Perez", "Juan", 20));
  }
}

// As a clerk pastes rows: code, surname, name, age, the answer and the
// closing key, two students in one write.
TEST(Tecleo, StudentsPastedAtTheCodePromptAreStoredWhole) {
  harness::ScratchDir dir;
  Terminal t(dir.path());
  t.type("1\r");
  t.type("12345678CPerez\rJuan\r20\rS87654321DGomez\rAna\r33\rN\r");
  e2e::expectMenu(t);
  EXPECT_EQ(dir.read("ALUMNO.txt"), fallos::alumnoTecleado("12345678C", "Perez", "Juan", 20) +
                                        fallos::alumnoTecleado("87654321D", "Gomez", "Ana", 33));
}

TEST(Tecleo, AKeyAndAnOptionInOneBurstAtAWaitAreTheKeyAndTheOption) {
  harness::ScratchDir dir;
  dir.write("ALUMNO.txt", fallos::alumnoTecleado("12345678A", "Perez", "Juan", 20));
  Terminal t(dir.path());
  t.type("4\r");
  t.type("x4\r");
  // The listing again, waiting where the first one's key was echoed.
  SCOPED_TRACE(t.dump());
  EXPECT_EQ(t.text(10, 10, 10), "12345678A ");
  EXPECT_EQ(t.text(56, 14, 1), " ");
  EXPECT_EQ(t.cursor(), (Position{56, 14}));
}

}  // namespace
