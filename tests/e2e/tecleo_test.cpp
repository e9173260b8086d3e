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

struct Pregunta {
  const char* name;
  std::string hasta;  // from the menu to the question
  std::string texto;
  Position donde;
  std::string respuesta;  // N, and what it takes back to the menu
};

// Delete is 0 then 83, an 'S': nothing of it may stand beside a question
// where a clerk would read it as the answer.
TEST(Tecleo, AnExtendedKeyAtAQuestionLeavesTheAnswersPlaceBlank) {
  const Pregunta preguntas[] = {
      {"another student", "1\r12345678CPerez\rJuan\r20\r", fallos::kOtroAlumno, {15, 8}, "nk"},
      {"another course", "2\rAB123CQuimica\r4\rk", fallos::kOtroCurso, {10, 8}, "n"},
      {"another grade", "3\r12345678A\rAB123C\r1\r2\r3\r4\r5\rk", fallos::kOtraNota, {15, 8}, "n"},
      {"the deletion",
       "5\r12345678A\r",
       "..SEGURO que desea BORRARLO ...? [S/N] : ",
       {10, 10},
       "nk"},
  };
  const std::string alumnos = fallos::alumnoTecleado("12345678A", "Perez", "Juan", 20);
  for (const Pregunta& p : preguntas) {
    SCOPED_TRACE(p.name);
    harness::ScratchDir dir;
    dir.write("ALUMNO.txt", alumnos);
    Terminal t(dir.path());
    t.type(p.hasta);
    const std::string antes = dir.read("ALUMNO.txt");
    const Position respuesta{p.donde.column + static_cast<int>(p.texto.size()), p.donde.row};
    // An ordinary key first, echoed as ever, then Delete.
    t.type("x");
    t.key(harness::Key::Delete);
    {
      SCOPED_TRACE(t.dump());
      EXPECT_EQ(t.row(p.donde.row), en(p.donde.column, p.texto.substr(0, p.texto.size() - 1)));
      EXPECT_EQ(t.cursor(), respuesta);
    }
    EXPECT_EQ(dir.read("ALUMNO.txt"), antes);
    t.type(p.respuesta);
    e2e::expectMenu(t);
  }
}

}  // namespace
