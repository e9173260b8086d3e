// Deleting a student (menu option 5): what the clerk sees, the keys it takes,
// and the student file afterwards, whatever goes wrong on the way.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "alumnos.hpp"
#include "comun.hpp"
#include "files.hpp"
#include "strace.hpp"
#include "terminal.hpp"

namespace {

using harness::Estudiante;
using harness::Position;
using harness::Terminal;

const std::string kTitulo = " ELIMINAR REGISTROS DE ALUMNOS :  ";
const std::string kPregunta = "..SEGURO que desea BORRARLO ...? [S/N] : ";
const std::string kEliminado = " Registro eliminado....!!! ";
const std::string kNoSeElimino = " No se pudo eliminar el registro ...!!! ";
const std::string kNoEsta = " No se encuentra ese alumno...!!! ";
const std::string kNoSeAbre = " No se puede abrir el archivo ALUMNO.txt ...!!! ";

const Estudiante kJuan{"12345678A", "Perez", "Juan", 20};
const Estudiante kAna{"87654321B", "Lopez", "Ana", 19};
const Estudiante kLuis{"11111111C", "Ruiz", "Luis", 33};
const Estudiante kJuanBis{"12345678A", "Gomez", "Juana", 41};  // same code as kJuan

std::string bytes(const std::vector<Estudiante>& estudiantes) {
  return harness::registros(estudiantes);
}

void expectEncabezado(const Terminal& t) {
  EXPECT_EQ(t.text(10, 4, static_cast<int>(kTitulo.size())), kTitulo);
  EXPECT_EQ(t.foreground(11, 4), e2e::kBrightWhite);
  EXPECT_EQ(t.foreground(40, 4), e2e::kBrightWhite);
  EXPECT_EQ(t.row(5), "          " + std::string(30, '_'));
  EXPECT_EQ(t.foreground(11, 5), e2e::kDefault);
}

void expectPregunta(const Terminal& t) {
  SCOPED_TRACE(t.dump());
  EXPECT_EQ(t.row(10), "         " + kPregunta.substr(0, kPregunta.size() - 1));
  EXPECT_EQ(t.cursor(), (Position{51, 10}));
}

class Eliminar : public ::testing::Test {
 protected:
  harness::ScratchDir dir;

  // The screen up to its question about `codigo`, or up to the message
  // that it is not there.
  void pedir(Terminal& t, const std::string& codigo) {
    t.type("5\r");
    {
      SCOPED_TRACE(t.dump());
      expectEncabezado(t);
      EXPECT_EQ(t.row(8), "          Ingrese codigo=");
      EXPECT_EQ(t.cursor(), (Position{27, 8}));
    }
    t.type(codigo + "\r");
  }
};

TEST_F(Eliminar, AsksForTheCodeUnderItsTitle) {
  dir.write("ALUMNO.txt", bytes({kJuan}));
  Terminal t(dir.path());
  pedir(t, "12345678A");
  SCOPED_TRACE(t.dump());
  EXPECT_EQ(t.row(8), "          Ingrese codigo= 12345678A");
  expectPregunta(t);
}

TEST_F(Eliminar, IsOptionFiveHoweverItIsWritten) {
  for (const char* opcion : {"5\r", "05\r", "005\r"}) {
    Terminal t(dir.path());
    t.type(opcion);
    SCOPED_TRACE(t.dump());
    expectEncabezado(t);
    EXPECT_EQ(t.cursor(), (Position{27, 8})) << opcion;
  }
}

struct Borrado {
  const char* name;
  std::optional<std::string> antes;  // no file when empty
  std::string codigo;
  std::string respuesta;  // "" when the code is not found
  std::string despues;
};

TEST_F(Eliminar, RemovesEveryStudentWithExactlyThatCodeAndKeepsTheRestInOrder) {
  const std::string fragmento(20, 'F');
  const Borrado cases[] = {
      {"the only student", bytes({kJuan}), "12345678A", "S", ""},
      {"the middle of three", bytes({kJuan, kAna, kLuis}), "87654321B", "s", bytes({kJuan, kLuis})},
      {"the last of three", bytes({kJuan, kAna, kLuis}), "11111111C", "S", bytes({kJuan, kAna})},
      {"twins", bytes({kJuan, kAna, kJuanBis}), "12345678A", "S", bytes({kAna})},
      {"a fragment is dropped", bytes({kJuan, kAna}) + fragmento, "12345678A", "s", bytes({kAna})},
      {"answered N", bytes({kJuan, kAna, kLuis}), "87654321B", "N", bytes({kJuan, kAna, kLuis})},
      {"answered n, fragment kept", bytes({kJuan}) + fragmento, "12345678A", "n",
       bytes({kJuan}) + fragmento},
      {"lower-case letter", bytes({kJuan}), "12345678a", "", bytes({kJuan})},
      {"trailing space", bytes({kJuan}), "12345678A ", "", bytes({kJuan})},
      {"trailing NUL", bytes({kJuan}), std::string("12345678A\0", 10), "", bytes({kJuan})},
      {"leading space", bytes({kJuan}), " 12345678A", "", bytes({kJuan})},
      {"the code's first eight characters", bytes({kJuan}), "12345678", "", bytes({kJuan})},
      {"an empty line", bytes({kJuan, kAna}), "", "", bytes({kJuan, kAna})},
      {"an empty file", "", "12345678A", "", ""},
      {"no file: an empty one is left", std::nullopt, "12345678A", "", ""},
  };
  for (const Borrado& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(dir.path() + "/ALUMNO.txt");
    if (c.antes) dir.write("ALUMNO.txt", *c.antes);
    Terminal t(dir.path());
    pedir(t, c.codigo);
    if (c.respuesta.empty()) {
      SCOPED_TRACE(t.dump());
      EXPECT_EQ(t.row(10), "");
      EXPECT_EQ(t.text(10, 12, static_cast<int>(kNoEsta.size())), kNoEsta);
      t.type("k");
    } else {
      expectPregunta(t);
      t.type(c.respuesta);
      EXPECT_EQ(t.text(51, 10, 1), c.respuesta);  // echoed as typed
      if (c.respuesta == "S" || c.respuesta == "s") {
        t.type("a");
        EXPECT_EQ(t.text(10, 13, static_cast<int>(kEliminado.size())), kEliminado) << t.dump();
        t.type("b");
      }
      EXPECT_EQ(t.row(12), "");
      t.type("c");
    }
    e2e::expectMenu(t);
    EXPECT_EQ(dir.names(), std::vector<std::string>{"ALUMNO.txt"});
    EXPECT_EQ(dir.read("ALUMNO.txt"), c.despues);
  }
}

struct Teclas {
  const char* name;
  std::string codigo;
  std::string respuesta;
  int teclasDespues;  // keys the screen waits for after the answer
};

TEST_F(Eliminar, WaitsForThreeKeysAfterYesAndOneAfterNoOrANotFoundCode) {
  const Teclas cases[] = {
      {"yes", "12345678A", "S", 3},
      {"no", "12345678A", "N", 1},
      {"not found", "99999999Z", "", 1},
  };
  for (const Teclas& c : cases) {
    SCOPED_TRACE(c.name);
    dir.write("ALUMNO.txt", bytes({kJuan, kAna}));
    Terminal t(dir.path());
    pedir(t, c.codigo);
    if (!c.respuesta.empty()) t.type(c.respuesta);
    for (int tecla = 1; tecla < c.teclasDespues; ++tecla) {
      t.type("x");
      SCOPED_TRACE(t.dump());
      ASSERT_FALSE(t.exited());
      expectEncabezado(t);
    }
    t.type("x");
    e2e::expectMenu(t);
  }
}

TEST_F(Eliminar, EchoesEachKeyOfTheConfirmationWhereItWasTyped) {
  dir.write("ALUMNO.txt", bytes({kJuan}));
  Terminal t(dir.path());
  pedir(t, "12345678A");
  t.type("s");
  EXPECT_EQ(t.text(51, 10, 1), "s");
  EXPECT_EQ(t.cursor(), (Position{52, 10}));
  // The rewrite's wait has no prompt; its key is echoed after the answer.
  t.type("1");
  SCOPED_TRACE(t.dump());
  EXPECT_EQ(t.text(51, 10, 2), "s1");
  EXPECT_EQ(t.text(10, 13, static_cast<int>(kEliminado.size())), kEliminado);
  EXPECT_EQ(t.cursor(), (Position{37, 13}));
  t.type("2");
  EXPECT_EQ(t.text(37, 13, 1), "2");
  EXPECT_EQ(t.cursor(), (Position{38, 13}));
}

TEST_F(Eliminar, AnyOtherKeyAtTheQuestionIsEchoedAndTheQuestionAskedAgain) {
  const std::string antes = bytes({kJuan, kAna});
  dir.write("ALUMNO.txt", antes);
  Terminal t(dir.path());
  pedir(t, "12345678A");
  t.type("x");
  expectPregunta(t);
  t.key(harness::Key::Up);  // an extended key: two codes, both refused
  expectPregunta(t);
  t.key(harness::Key::Enter);
  expectPregunta(t);
  ASSERT_FALSE(t.exited());
  t.type("n");
  EXPECT_EQ(t.text(51, 10, 1), "n");
  t.type("k");
  e2e::expectMenu(t);
  EXPECT_EQ(dir.read("ALUMNO.txt"), antes);

  // The echo of a refused key is drawn before the question wipes it.
  const harness::Script s = harness::runScript(dir.path(), "5\n12345678A\nxzN\n0\n");
  EXPECT_EQ(s.status, 0);
  std::vector<std::size_t> preguntas;
  for (std::size_t p = s.output.find(kPregunta); p != std::string::npos;
       p = s.output.find(kPregunta, p + 1)) {
    preguntas.push_back(p);
  }
  ASSERT_EQ(preguntas.size(), 3u) << s.output;
  EXPECT_NE(s.output.substr(preguntas[0], preguntas[1] - preguntas[0]).find('x'),
            std::string::npos);
  EXPECT_NE(s.output.substr(preguntas[1], preguntas[2] - preguntas[1]).find('z'),
            std::string::npos);
}

// Special keys at the question: each is one key press, and none is an answer.
TEST_F(Eliminar, NoSpecialKeyAnswersTheQuestion) {
  const std::string antes = bytes({kJuan, kAna});
  dir.write("ALUMNO.txt", antes);
  Terminal t(dir.path());
  pedir(t, "12345678A");
  const std::pair<const char*, std::string> teclas[] = {
      {"Delete (0, 83: S)", harness::keyBytes(harness::Key::Delete)},
      {"Shift+Delete (0, 83)", "\x1b[3;2~"},
      {"Ctrl+Left (0, 115: s)", "\x1b[1;5D"},
      {"Keypad . with Ctrl (0, 83)", "\x1b[3;5~"},
      {"Alt+N (0, 49)", "\x1bn"},
      {"Page Down (0, 81)", harness::keyBytes(harness::Key::PageDown)},
      {"Enter", "\r"},
  };
  for (const auto& [nombre, tecla] : teclas) {
    SCOPED_TRACE(nombre);
    t.type(tecla);
    ASSERT_FALSE(t.exited());
    expectPregunta(t);
    EXPECT_EQ(t.row(13), "");
    EXPECT_EQ(dir.read("ALUMNO.txt"), antes);
  }
  t.type("S");
  t.type("a");
  EXPECT_EQ(t.text(10, 13, static_cast<int>(kEliminado.size())), kEliminado) << t.dump();
  EXPECT_EQ(dir.read("ALUMNO.txt"), bytes({kAna}));
}

// A special key pressed at any wait is taken whole there: nothing of it is
// left to answer the next question.
struct EsperaPrevia {
  const char* name;
  std::string hastaLaEspera;  // from the menu to a wait for a key
  std::string despues;        // from the wait's key back to the menu
};

TEST_F(Eliminar, AKeyPressedAtAnEarlierWaitNeverAnswersTheQuestion) {
  const EsperaPrevia esperas[] = {
      {"the listing's PRESIONE ENTER", "4\r", ""},
      {"the deletion screen's, after a code not found", "5\r99999999Z\r", ""},
      {"after N on the student screen", "1\r11111111CRuiz\rLuis\r33\rn", ""},
      {"after a course is registered", "2\rAB123CQuimica\r4\r", "n"},
      {"after a grade record", "3\r12345678A\rAB123C\r1\r2\r3\r4\r5\r", "n"},
  };
  const std::string teclas[] = {harness::keyBytes(harness::Key::Delete), "\x1b[3;2~", "\x1b[1;5D"};
  for (const EsperaPrevia& espera : esperas) {
    for (const std::string& tecla : teclas) {
      SCOPED_TRACE(std::string(espera.name) + ", key " + tecla.substr(1));
      harness::ScratchDir propio;
      propio.write("ALUMNO.txt", bytes({kJuan, kAna}));
      Terminal t(propio.path());
      for (char c : espera.hastaLaEspera) {
        t.type(std::string(1, c));  // codes are read key by key
      }
      ASSERT_FALSE(t.exited());
      t.type(tecla);
      t.type(espera.despues);
      e2e::expectMenu(t);
      const std::string antes = propio.read("ALUMNO.txt");
      t.type("5\r12345678A\r");
      expectPregunta(t);
      EXPECT_EQ(propio.read("ALUMNO.txt"), antes);
      t.type("n");
      t.type("k");
      e2e::expectMenu(t);
      EXPECT_EQ(propio.read("ALUMNO.txt"), antes);
    }
  }
}

struct FallaAlReemplazar {
  const char* name;
  void (*preparar)(const harness::ScratchDir& dir);
  rlim_t limiteDeArchivo;  // RLIM_INFINITY for none
};

TEST_F(Eliminar, AFailedReplacementLeavesTheFileAsItWasAndSaysSo) {
  const FallaAlReemplazar cases[] = {
      {"TEMPORAL.txt cannot be created",
       [](const harness::ScratchDir& d) {
         std::filesystem::create_directory(d.path() + "/TEMPORAL.txt");
       },
       RLIM_INFINITY},
      {"TEMPORAL.txt cannot be written whole", nullptr, 100},
  };
  const std::string antes = bytes({kJuan, kAna, kLuis});
  for (const FallaAlReemplazar& c : cases) {
    SCOPED_TRACE(c.name);
    harness::ScratchDir d;
    d.write("ALUMNO.txt", antes);
    if (c.preparar != nullptr) c.preparar(d);
    const std::vector<std::string> nombres = d.names();
    Terminal t(d.path());
    if (c.limiteDeArchivo != RLIM_INFINITY) {
      const rlimit limite{c.limiteDeArchivo, c.limiteDeArchivo};
      ASSERT_EQ(::prlimit(t.pid(), RLIMIT_FSIZE, &limite, nullptr), 0);
    }
    t.type("5\r12345678A\r");
    expectPregunta(t);
    t.type("S");
    t.type("a");
    {
      SCOPED_TRACE(t.dump());
      EXPECT_EQ(t.text(10, 13, static_cast<int>(kNoSeElimino.size())), kNoSeElimino);
      EXPECT_EQ(t.cursor(), (Position{10 + static_cast<int>(kNoSeElimino.size()), 13}));
    }
    t.type("b");
    ASSERT_FALSE(t.exited());
    t.type("c");
    e2e::expectMenu(t);
    EXPECT_EQ(d.read("ALUMNO.txt"), antes);
    EXPECT_EQ(d.names(), nombres);
  }
}

TEST_F(Eliminar, AStudentFileThatIsADirectoryIsReportedBeforeAnyCodeIsAsked) {
  std::filesystem::create_directory(dir.path() + "/ALUMNO.txt");
  Terminal t(dir.path());
  t.type("5\r");
  {
    SCOPED_TRACE(t.dump());
    expectEncabezado(t);
    EXPECT_EQ(t.row(8), "");
    EXPECT_EQ(t.text(10, 20, static_cast<int>(kNoSeAbre.size())), kNoSeAbre);
  }
  t.type("x");
  e2e::expectMenu(t);
  EXPECT_EQ(dir.names(), std::vector<std::string>{"ALUMNO.txt"});
}

// Failures made by strace on ALUMNO.txt alone, its calls counted from the
// program's start. The scan for the code, then the rewrite's, each read the
// small file whole in one pread64 and find its end in the next (a scan that
// meets the code stops there); the screen opens the file first, the scan
// second and the rewrite third.
struct FallaInyectada {
  const char* name;
  std::string regla;
  std::string entrada;  // ends at the key the message waits for, ending the program
  std::string mensaje;
  int fila;
  std::string inicioDeFila;  // columns 1 to 9 of the message's row
};

TEST_F(Eliminar, AFileThatFailsUnderTheScreenIsNeitherTakenForEmptyNorReportedDeleted) {
  const std::optional<std::string> strace = harness::straceUtilizable();
  if (!strace) GTEST_SKIP() << "strace is missing or cannot trace here";
  const FallaInyectada cases[] = {
      {"a read error looking for a code that is not there", "pread64:error=EIO:when=2",
       "5\n99999999Z\n", kNoSeAbre, 20, "         "},
      {"a read error rewriting the file", "pread64:error=EIO:when=3", "5\n12345678A\nSa",
       kNoSeElimino, 13, "         "},
      // The rewrite says so where the cursor stood, on row 13, and waits for a
      // key that it does not echo; the screen's message then covers the end
      // of its own.
      {"gone when the rewrite opens it", "openat:error=ENOENT:when=3", "5\n12345678A\nSa",
       kNoSeElimino, 13, "No existe"},
  };
  const std::string antes = bytes({kJuan, kAna, kLuis});
  for (const FallaInyectada& c : cases) {
    SCOPED_TRACE(c.name);
    dir.write("ALUMNO.txt", antes);
    const harness::Script s = harness::runScript(
        dir.path(), c.entrada,
        harness::bajoStrace(*strace, {"-P", "ALUMNO.txt", "-e", "inject=" + c.regla}));
    EXPECT_EQ(s.status, 0);
    harness::Screen pantalla(80, 25);
    pantalla.feed(s.output);
    SCOPED_TRACE(pantalla.dump());
    EXPECT_EQ(pantalla.text(10, c.fila, static_cast<int>(c.mensaje.size())), c.mensaje);
    EXPECT_EQ(pantalla.text(1, c.fila, 9), c.inicioDeFila);
    EXPECT_EQ(pantalla.row(c.fila + 1), "");
    EXPECT_EQ(pantalla.row(12), "");
    EXPECT_EQ(dir.read("ALUMNO.txt"), antes);
    EXPECT_EQ(dir.names(), std::vector<std::string>{"ALUMNO.txt"});
  }
}

// The second fsync of a deletion is the directory's, after the rename: the
// new file is in place whatever it says.
TEST_F(Eliminar, ADirectoryThatCannotBeFlushedStillMeansTheStudentWasDeleted) {
  const std::optional<std::string> strace = harness::straceUtilizable();
  if (!strace) GTEST_SKIP() << "strace is missing or cannot trace here";
  dir.write("ALUMNO.txt", bytes({kJuan, kAna, kLuis}));
  const harness::Script s =
      harness::runScript(dir.path(), "5\n87654321B\nSa",
                         harness::bajoStrace(*strace, {"-e", "inject=fsync:error=EIO:when=2"}));
  EXPECT_EQ(s.status, 0);
  harness::Screen pantalla(80, 25);
  pantalla.feed(s.output);
  SCOPED_TRACE(pantalla.dump());
  EXPECT_EQ(pantalla.text(10, 13, static_cast<int>(kEliminado.size())), kEliminado);
  EXPECT_EQ(dir.read("ALUMNO.txt"), bytes({kJuan, kLuis}));
  EXPECT_EQ(dir.names(), std::vector<std::string>{"ALUMNO.txt"});
}

// --- Killed in the middle ---------------------------------------------------
//
// Whenever the program dies during a deletion, ALUMNO.txt must hold either
// every old student or exactly the students kept. Here the kills are timed,
// which works wherever signals do; tests/faults kills the program at each of
// its system calls in turn where strace may trace.

// A whole file in one read: these are megabytes, read after every kill.
// Nothing when there is no such file.
std::optional<std::string> leerArchivo(const std::string& nombre) {
  std::ifstream entrada(nombre, std::ios::binary | std::ios::ate);
  if (!entrada) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(entrada.tellg()), '\0');
  entrada.seekg(0);
  entrada.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

class EliminarInterrumpido : public ::testing::Test {
 protected:
  harness::ScratchDir dir;

  // Whether ALUMNO.txt now holds `viejo` or `nuevo`, whole; reports which.
  std::string expectEnteroViejoONuevo(const std::string& viejo, const std::string& nuevo,
                                      const std::string& momento) {
    const std::optional<std::string> ahora = leerArchivo(dir.path() + "/ALUMNO.txt");
    if (!ahora) {
      ADD_FAILURE() << momento << ": there is no ALUMNO.txt";
      return "none";
    }
    EXPECT_TRUE(ahora == viejo || ahora == nuevo)
        << momento << ": ALUMNO.txt has " << ahora->size() << " bytes; old " << viejo.size()
        << ", new " << nuevo.size();
    return ahora == viejo ? "old" : ahora == nuevo ? "new" : "neither";
  }
};

TEST_F(EliminarInterrumpido, KilledAtAnyMomentTheFileIsWhollyOldOrWhollyNew) {
  constexpr int kAlumnos = 200'000;
  const std::string viejo = harness::muchosAlumnos(kAlumnos);
  // The first student goes, so the search is instant and the rewrite is all
  // there is to interrupt.
  const std::string nuevo = viejo.substr(59);
  using Reloj = std::chrono::steady_clock;

  // How long a whole deletion takes here, from the answer to the next wait.
  dir.write("ALUMNO.txt", viejo);
  Reloj::duration duracion;
  {
    Terminal t(dir.path());
    t.type("5\r00000001A\r");
    expectPregunta(t);
    const Reloj::time_point inicio = Reloj::now();
    t.type("S");
    duracion = Reloj::now() - inicio;
    ASSERT_EQ(leerArchivo(dir.path() + "/ALUMNO.txt"), std::optional(nuevo));
  }

  constexpr int kIntentos = 12;
  int viejos = 0;
  int nuevos = 0;
  for (int intento = 0; intento < kIntentos; ++intento) {
    // Spread over the whole deletion, and as long again after it.
    const auto espera = duracion * intento * 2 / (kIntentos - 1);
    dir.write("ALUMNO.txt", viejo);
    Terminal t(dir.path());
    t.type("5\r00000001A\r");
    t.send("S");
    std::this_thread::sleep_for(espera);
    ASSERT_EQ(::kill(t.pid(), SIGKILL), 0);
    EXPECT_EQ(t.waitExit(), harness::killedBy(SIGKILL));
    const std::string cual = expectEnteroViejoONuevo(
        viejo, nuevo, "killed " + std::to_string(intento) + "/" + std::to_string(kIntentos));
    viejos += cual == "old";
    nuevos += cual == "new";
  }
  std::printf(
      "deletion of one of %d students took %.1f ms; %d kills left the old file, %d the new\n",
      kAlumnos, std::chrono::duration<double, std::milli>(duracion).count(), viejos, nuevos);
  // The kills did land on both sides of the replacement.
  EXPECT_GT(viejos, 0);
  EXPECT_GT(nuevos, 0);
}

}  // namespace
