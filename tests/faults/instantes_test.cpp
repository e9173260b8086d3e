// One copy held by strace at one exact system call while another copy, or
// the test, does what a second clerk could do in that moment: the moments a
// review found records lost in, each with the sound result.
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "alumnos.hpp"
#include "comun.hpp"
#include "files.hpp"
#include "strace.hpp"
#include "terminal.hpp"
#include "traza.hpp"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Reloj = std::chrono::steady_clock;

// The program itself (not strace) running in `dir`, once it is there.
pid_t programaEn(const harness::ScratchDir& dir) {
  const fs::path directorio = fs::canonical(dir.path());
  const fs::path programa = fs::canonical(ALUMNOS_BINARY);
  const Reloj::time_point limite = Reloj::now() + 20s;
  while (Reloj::now() < limite) {
    for (const fs::directory_entry& proceso : fs::directory_iterator("/proc")) {
      const std::string nombre = proceso.path().filename();
      if (nombre.find_first_not_of("0123456789") != std::string::npos) continue;
      std::error_code error;
      if (fs::read_symlink(proceso.path() / "cwd", error) == directorio && !error &&
          fs::read_symlink(proceso.path() / "exe", error) == programa && !error) {
        return std::stoi(nombre);
      }
    }
    std::this_thread::sleep_for(5ms);
  }
  ADD_FAILURE() << "the program never started in " << dir.path();
  return -1;
}

// Polls `condicion` until it holds.
template <class Condicion>
void esperarQue(const char* que, Condicion condicion) {
  const Reloj::time_point limite = Reloj::now() + 20s;
  while (!condicion()) {
    ASSERT_LT(Reloj::now(), limite) << "never came to pass: " << que;
    std::this_thread::sleep_for(1ms);
  }
}

// The program run in `dir` on `entrada` under strace with `reglas`, in a
// thread of its own, so that the test can act while strace holds it.
std::future<harness::Script> retenida(const std::string& strace, const harness::ScratchDir& dir,
                                      std::string entrada, std::vector<std::string> reglas) {
  return std::async(std::launch::async, [&strace, &dir, entrada, reglas] {
    return harness::runScript(dir.path(), entrada, harness::bajoStrace(strace, reglas));
  });
}

// The folder's flush after a copy made a record file fails (a failing disk,
// some network file systems) while a second copy has already opened the new
// file and stored a record in it: the file and that record stay.
TEST(Instantes, AFolderFlushFailingAfterMakingAFileKeepsWhatAnotherCopyStoredInIt) {
  std::string motivo;
  const std::optional<std::string> strace = fallos::straceOSaltar(motivo);
  if (!strace) GTEST_SKIP() << motivo;
  struct Caso {
    const char* nombre;
    std::string archivo;
    std::string retenida;  // its first fsync is the folder's, held, then failed
    std::string otra;
    std::string retenidaMuestra;
    std::string otraMuestra;
    std::string despues;
  };
  const Caso casos[] = {
      // The student screen opens its file again and goes on.
      {"students", "ALUMNO.txt", "1\n11111111CRuiz\nLuis\n33\nNx0\n",
       "1\n87654321BLopez\nAna\n19\nNx0\n", fallos::kOtroAlumno, fallos::kOtroAlumno,
       fallos::alumnoTecleado("87654321B", "Lopez", "Ana", 19) +
           fallos::alumnoTecleado("11111111C", "Ruiz", "Luis", 33)},
      {"courses", "CURSO.txt", "2\nx0\n", "2\nAB123CQuimica\n4\nxN0\n",
       fallos::noSeAbre("CURSO.txt"), fallos::kCursoRegistrado,
       fallos::curso("AB123C", "Quimica", 4)},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.nombre);
    harness::ScratchDir dir;
    auto primera =
        retenida(*strace, dir, c.retenida,
                 {"-e", "trace=fsync", "-e", "inject=fsync:error=EIO:delay_enter=2000000:when=1"});
    // The folder's flush comes right after the file is made, and is held.
    esperarQue("the file made", [&] { return dir.exists(c.archivo); });
    const harness::Script otra = harness::runScript(dir.path(), c.otra);
    EXPECT_TRUE(fallos::muestra(otra.output, c.otraMuestra));
    EXPECT_TRUE(fallos::muestra(primera.get().output, c.retenidaMuestra));
    ASSERT_TRUE(dir.exists(c.archivo)) << "the file was taken away";
    EXPECT_EQ(dir.read(c.archivo), c.despues);
  }
}

// Students left only in TEMPORAL.txt; the start-up recovery is held at its
// rename while another program makes a new ALUMNO.txt. The new file is kept,
// the scratch file is left as it is, and the clerk is told which.
TEST(Instantes, AStartUpRecoveryThatFindsTheNameTakenMeanwhileSaysSo) {
  std::string motivo;
  const std::optional<std::string> strace = fallos::straceOSaltar(motivo);
  if (!strace) GTEST_SKIP() << motivo;
  const std::string recuperables = harness::registros(harness::numerados(1, 3));
  const std::string nuevo = harness::registro(harness::numerado(7));
  harness::ScratchDir dir;
  dir.write("TEMPORAL.txt", recuperables);
  // The scratch file is flushed (held a moment, to be seen open), closed and
  // renamed (held long).
  auto arranque =
      retenida(*strace, dir, "x0\n",
               {"-e", "trace=fsync,renameat2", "-e", "inject=fsync:delay_enter=300000:when=1", "-e",
                "inject=renameat2:delay_enter=2000000:when=1"});
  const pid_t pid = programaEn(dir);
  esperarQue("TEMPORAL.txt open", [&] { return fallos::tieneAbierto(pid, "TEMPORAL.txt"); });
  esperarQue("TEMPORAL.txt closed", [&] { return !fallos::tieneAbierto(pid, "TEMPORAL.txt"); });
  dir.write("ALUMNO.txt", nuevo);
  const harness::Script s = arranque.get();
  EXPECT_EQ(s.status, 0);
  EXPECT_TRUE(
      fallos::muestra(s.output, " No se recupero TEMPORAL.txt: ya existe ALUMNO.txt ...!!! "))
      << s.output;
  EXPECT_EQ(dir.read("ALUMNO.txt"), nuevo);
  EXPECT_EQ(dir.read("TEMPORAL.txt"), recuperables);
}

}  // namespace

// A signal that ends the program (a window closed, a shutdown, kill, Ctrl+C
// or Ctrl+\) comes in the middle of a deletion, sent by strace as the
// program enters one of its calls: it is acted on only once the new file
// has the name and that is on the disk, and no scratch file is left.
TEST(Instantes, ASignalThatEndsTheProgramWaitsForTheDeletionToEnd) {
  std::string motivo;
  const std::optional<std::string> strace = fallos::straceOSaltar(motivo);
  if (!strace) GTEST_SKIP() << motivo;
  // SIGQUIT's default action would leave a core file among the records.
  const rlimit sinCore{0, 0};
  ASSERT_EQ(::setrlimit(RLIMIT_CORE, &sinCore), 0);
  struct Caso {
    const char* nombre;
    int senal;
    std::string llamada;  // strace's name for it
    int vez;              // counted from the program's start
  };
  const Caso casos[] = {
      {"SIGTERM at the scratch file's first write", SIGTERM, "pwrite64", 1},
      {"SIGHUP at the scratch file's flush", SIGHUP, "fsync", 1},
      {"SIGINT at the rename", SIGINT, "rename", 1},
      {"SIGQUIT at the folder's flush", SIGQUIT, "fsync", 2},
  };
  const std::string viejo = harness::registros(harness::numerados(1, 3));
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.nombre);
    harness::ScratchDir dir;
    dir.write("ALUMNO.txt", viejo);
    const fallos::Traza traza =
        fallos::trazar(*strace, dir, "5\n00000002A\nSabc0\n",
                       {"-e", "trace=pwrite64,fsync,rename", "-e",
                        "inject=" + c.llamada + ":signal=" + std::to_string(c.senal) +
                            ":when=" + std::to_string(c.vez)});
    EXPECT_EQ(traza.script.status, harness::killedBy(c.senal));
    // Acted on after the folder's flush, the deletion's last call.
    ASSERT_FALSE(traza.llamadas.empty());
    EXPECT_EQ(fallos::describir(traza.llamadas.back()), "fsync #2 on .");
    EXPECT_EQ(dir.read("ALUMNO.txt"), fallos::sinCodigo(viejo, "00000002A"));
    EXPECT_EQ(dir.names(), std::vector<std::string>{"ALUMNO.txt"});
  }
}
