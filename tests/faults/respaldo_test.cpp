// alumnos-datos respaldar on a folder that fails it: read-only, full, or a
// disk that fails one exact call of the backup. Each time it says why in one
// line with status 2, and nothing that looks like a backup is left.
#include <sys/mount.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "alumnos.hpp"
#include "comun.hpp"
#include "datos/motivo.hpp"
#include "files.hpp"
#include "terminal.hpp"
#include "traza.hpp"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> nombres(const std::string& carpeta) {
  std::vector<std::string> hay;
  for (const auto& entrada : fs::directory_iterator(carpeta))
    hay.push_back(entrada.path().filename().string());
  return hay;
}

std::string noSeRespalda(const std::string& carpeta, const std::string& motivo) {
  return "alumnos-datos: No se puede respaldar en " + carpeta + " (" + motivo + ")\n";
}

std::string noSeRespalda(const std::string& carpeta, int numeroError) {
  return noSeRespalda(carpeta, datos::motivo(numeroError, nullptr));
}

harness::Options respaldar(const std::string& carpeta) {
  harness::Options opciones;
  opciones.program = ALUMNOS_DATOS_BINARY;
  opciones.args = {"respaldar", carpeta};
  opciones.deadline = std::chrono::milliseconds(60'000);
  return opciones;
}

// A small file system of its own, mounted for the length of a test.
class Montaje {
 public:
  Montaje(const std::string& punto, unsigned long banderas, const char* opciones) : punto_(punto) {
    fs::create_directory(punto_);
    montado_ = ::mount("tmpfs", punto_.c_str(), "tmpfs", banderas, opciones) == 0;
  }
  ~Montaje() {
    if (montado_) ::umount2(punto_.c_str(), MNT_DETACH);
  }
  Montaje(const Montaje&) = delete;
  Montaje& operator=(const Montaje&) = delete;
  bool montado() const { return montado_; }

 private:
  std::string punto_;
  bool montado_ = false;
};

struct Disco {
  const char* nombre;
  friend void PrintTo(const Disco& c, std::ostream* os) { *os << c.nombre; }
  unsigned long banderas;
  int numeroError;
};

class DiscoQueNoSirve : public ::testing::TestWithParam<Disco> {};

// 2,000 students do not fit in 64 KiB.
TEST_P(DiscoQueNoSirve, RefusesTheBackupAndLeavesNothing) {
  harness::ScratchDir dir;
  harness::ScratchDir usb;
  const std::string alumnos = harness::muchosAlumnos(2000);
  dir.write("ALUMNO.txt", alumnos);
  const std::string punto = usb.path() + "/usb";
  const Montaje montaje(punto, GetParam().banderas, "size=64k");
  if (!montaje.montado()) GTEST_SKIP() << "no tmpfs can be mounted here";
  const harness::Script s = harness::runScript(dir.path(), "", respaldar(punto));
  EXPECT_EQ(s.status, 2);
  EXPECT_EQ(s.output, "");
  EXPECT_EQ(s.errors, noSeRespalda(punto, GetParam().numeroError));
  EXPECT_EQ(nombres(punto), std::vector<std::string>{});
  EXPECT_EQ(dir.read("ALUMNO.txt"), alumnos);
}

INSTANTIATE_TEST_SUITE_P(Tmpfs, DiscoQueNoSirve,
                         ::testing::Values(Disco{"ReadOnly", MS_RDONLY, EROFS},
                                           Disco{"Full", 0, ENOSPC}),
                         [](const auto& caso) { return std::string(caso.param.nombre); });

// One call of the backup failed, as a failing disk or a pulled stick fails
// it, at each step a read-only or full disk does not reach; the backup's
// files are ALUMNO.txt, CURSO.txt and TEMPORAL.txt.
struct Paso {
  const char* nombre;
  friend void PrintTo(const Paso& c, std::ostream* os) { *os << c.nombre; }
  std::function<bool(const fallos::Llamada&)> es;  // the first call that is
  std::string efecto;                              // what strace makes of it
  // The line on standard error, for the backup folder `carpeta`, when the
  // backup is refused.
  std::function<std::string(const std::string& carpeta)> mensaje;
  // The backup had its name when the call failed: it stays, whole.
  bool queda = false;
};

bool en(const fallos::Llamada& l, const char* nombre, const std::string& objetivo) {
  return l.nombre == nombre && l.objetivo.ends_with(objetivo);
}

std::function<std::string(const std::string&)> motivo(int numeroError) {
  return [numeroError](const std::string& carpeta) { return noSeRespalda(carpeta, numeroError); };
}

const Paso kPasos[] = {
    {"MakingACopy",
     [](const fallos::Llamada& l) {
       return en(l, "openat", "incompleto/CURSO.txt") &&
              l.linea.find("O_CREAT") != std::string::npos;
     },
     "error=EDQUOT", motivo(EDQUOT)},
    {"ReadingTheOriginal",
     [](const fallos::Llamada& l) { return l.nombre == "pread64" && l.objetivo == "CURSO.txt"; },
     "error=EIO",
     [](const std::string&) {
       return "alumnos-datos: No se puede leer el archivo CURSO.txt (" +
              datos::motivo(EIO, "CURSO.txt") + ")\n";
     }},
    {"FlushingACopy",
     [](const fallos::Llamada& l) { return en(l, "fsync", "incompleto/CURSO.txt"); }, "error=EIO",
     motivo(EIO)},
    {"ACopyReadBackShort",
     [](const fallos::Llamada& l) { return en(l, "pread64", "incompleto/ALUMNO.txt"); }, "retval=0",
     [](const std::string& carpeta) {
       return noSeRespalda(carpeta,
                           "la copia de ALUMNO.txt leida del disco no es igual al original");
     }},
    {"GivingTheName", [](const fallos::Llamada& l) { return l.nombre == "renameat2"; }, "error=EIO",
     motivo(EIO)},
    {"FlushingTheNameGiven",
     [](const fallos::Llamada& l) {
       return l.nombre == "fsync" && l.objetivo.find("respaldo-") == std::string::npos &&
              l.objetivo.starts_with("/");
     },
     "error=EIO", nullptr, true},
};

class PasoFallido : public ::testing::TestWithParam<Paso> {};

TEST_P(PasoFallido, RefusesTheBackupAndLeavesNothing) {
  std::string porQue;
  const std::optional<std::string> strace = fallos::straceOSaltar(porQue);
  if (!strace) GTEST_SKIP() << porQue;
  harness::ScratchDir dir;
  harness::ScratchDir usb;
  const std::string alumnos = harness::muchosAlumnos(3) + "xy";
  dir.write("ALUMNO.txt", alumnos);
  dir.write("CURSO.txt", fallos::curso("MA101A", "Matematica", 4));
  dir.write("TEMPORAL.txt", harness::muchosAlumnos(1));
  const std::vector<std::string> programa = {ALUMNOS_DATOS_BINARY, "respaldar", usb.path()};
  const std::vector<std::string> llamadas = {"-e",
                                             "trace=mkdir,openat,pread64,pwrite64,fsync,renameat2"};
  const fallos::Traza referencia = fallos::trazar(*strace, dir, "", llamadas, 64, programa);
  ASSERT_EQ(referencia.script.status, 0) << referencia.script.errors;
  const Paso& paso = GetParam();
  const auto llamada = std::find_if(referencia.llamadas.begin(), referencia.llamadas.end(),
                                    [&](const fallos::Llamada& l) { return paso.es(l); });
  ASSERT_NE(llamada, referencia.llamadas.end()) << "no such call";
  for (const auto& entrada : fs::directory_iterator(usb.path()))
    fs::remove_all(entrada.path());

  const std::string regla =
      "inject=" + llamada->nombre + ":" + paso.efecto + ":when=" + std::to_string(llamada->vez);
  const fallos::Traza traza = fallos::trazar(
      *strace, dir, "", {"-e", "trace=" + llamada->nombre, "-e", regla}, 64, programa);
  SCOPED_TRACE(fallos::describir(*llamada));
  EXPECT_EQ(traza.script.status, 2);
  EXPECT_EQ(traza.script.output, "");
  if (paso.queda) {
    const std::vector<std::string> hay = usb.names();
    ASSERT_EQ(hay.size(), 1u);
    EXPECT_FALSE(hay[0].ends_with(".incompleto"));
    EXPECT_EQ(traza.script.errors, "alumnos-datos: El respaldo quedo en " + usb.path() + "/" +
                                       hay[0] + ", pero su nombre puede no estar en el disco (" +
                                       datos::motivo(EIO, nullptr) + ")\n");
    EXPECT_EQ(usb.read(hay[0] + "/ALUMNO.txt"), alumnos);
  } else {
    EXPECT_EQ(traza.script.errors, paso.mensaje(usb.path()));
    EXPECT_EQ(usb.names(), std::vector<std::string>{});
  }
  EXPECT_EQ(dir.read("ALUMNO.txt"), alumnos);
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"ALUMNO.txt", "CURSO.txt", "TEMPORAL.txt"}));
}

INSTANTIATE_TEST_SUITE_P(Strace, PasoFallido, ::testing::ValuesIn(kPasos),
                         [](const auto& caso) { return std::string(caso.param.nombre); });

}  // namespace
