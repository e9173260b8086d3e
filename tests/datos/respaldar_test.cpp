// alumnos-datos respaldar: the school's files copied byte for byte into a new
// folder named by the minute, a report of what was copied, and a folder that
// cannot hold a backup refused with nothing left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "datos.hpp"
#include "datos/motivo.hpp"

namespace {

using datos_test::alumno;
using datos_test::correr;
using datos_test::curso;

// The backup folder's name for the minute it is now.
std::string minuto() {
  const std::time_t ahora = std::time(nullptr);
  char nombre[32];
  std::strftime(nombre, sizeof nombre, "respaldo-%Y-%m-%d-%H%M", std::localtime(&ahora));
  return nombre;
}

// Every file in `carpeta` and its bytes.
std::map<std::string, std::string> contenido(const std::string& carpeta) {
  std::map<std::string, std::string> archivos;
  for (const auto& entrada : std::filesystem::directory_iterator(carpeta)) {
    std::ifstream archivo(entrada.path(), std::ios::binary);
    archivos[entrada.path().filename().string()] =
        std::string(std::istreambuf_iterator<char>(archivo), {});
  }
  return archivos;
}

// Runs a backup into `usb` and returns its folder's name, which must be the
// minute it started (or the next, when one went by meanwhile) with `sufijo`.
std::string respaldar(const harness::ScratchDir& dir, const harness::ScratchDir& usb,
                      harness::Script& s, const std::string& sufijo = "") {
  const std::string antes = minuto();
  const std::vector<std::string> habia = usb.names();
  s = correr(dir, {"respaldar", usb.path()});
  std::vector<std::string> nuevos;
  for (const std::string& nombre : usb.names()) {
    if (std::find(habia.begin(), habia.end(), nombre) == habia.end()) nuevos.push_back(nombre);
  }
  if (nuevos.size() != 1) {
    ADD_FAILURE() << "one new folder expected, " << nuevos.size() << " found";
    return "";
  }
  EXPECT_TRUE(nuevos[0] == antes + sufijo || nuevos[0] == minuto() + sufijo) << nuevos[0];
  return nuevos[0];
}

TEST(Respaldar, CopiesEveryFileByteForByteWithItsFragmentAndTheScratchFile) {
  harness::ScratchDir dir;
  harness::ScratchDir usb;
  datos_test::escribirEscuela(dir);
  dir.write("TEMPORAL.txt", alumno("12345678A", "Perez", "Jose", 20) + "xy");
  const std::map<std::string, std::string> escuela = contenido(dir.path());
  harness::Script s;
  const std::string nombre = respaldar(dir, usb, s);
  ASSERT_EQ(s.status, 0) << s.errors;
  EXPECT_EQ(s.errors, "");
  EXPECT_EQ(s.output, "Respaldo en " + usb.path() + "/" + nombre +
                          "\n"
                          "  ALUMNO.txt       3 alumnos y 5 bytes de un registro incompleto (182 "
                          "bytes)\n"
                          "  CURSO.txt        3 cursos (150 bytes)\n"
                          "  NOTAALUMNO.txt   4 notas y 3 bytes de un registro incompleto (143 "
                          "bytes)\n"
                          "  TEMPORAL.txt     1 alumno y 2 bytes de un registro incompleto (61 "
                          "bytes)\n");
  EXPECT_EQ(contenido(usb.path() + "/" + nombre), escuela);
  EXPECT_EQ(contenido(dir.path()), escuela) << "the school's files are only read";
}

// No file is made up, neither in the backup nor in the school's folder: the
// scratch file is copied as it is, not put back as the student file.
TEST(Respaldar, AFileThatIsNotThereIsNamedAndNotMadeUp) {
  harness::ScratchDir dir;
  harness::ScratchDir usb;
  dir.write("CURSO.txt", curso("MA101A", "Matematica", 4));
  dir.write("NOTAALUMNO.txt", "");
  dir.write("TEMPORAL.txt",
            alumno("12345678A", "Perez", "Jose", 20) + alumno("87654321B", "Ruiz", "Ana", 18));
  const std::map<std::string, std::string> escuela = contenido(dir.path());
  harness::Script s;
  const std::string nombre = respaldar(dir, usb, s);
  ASSERT_EQ(s.status, 0) << s.errors;
  EXPECT_EQ(s.output, "Respaldo en " + usb.path() + "/" + nombre +
                          "\n"
                          "  ALUMNO.txt       no estaba en esta carpeta\n"
                          "  CURSO.txt        1 curso (50 bytes)\n"
                          "  NOTAALUMNO.txt   0 notas (0 bytes)\n"
                          "  TEMPORAL.txt     2 alumnos (118 bytes)\n");
  EXPECT_EQ(contenido(usb.path() + "/" + nombre), escuela);
  EXPECT_EQ(contenido(dir.path()), escuela);
}

// Another backup of the same minute has the name, a file has the next one,
// and a backup still under way the working name of the one after.
TEST(Respaldar, ABackupOfTheSameMinuteGetsTheFirstNameNoneHas) {
  harness::ScratchDir dir;
  harness::ScratchDir usb;
  dir.write("ALUMNO.txt", alumno("12345678A", "Perez", "Jose", 20));
  for (int intento = 0; intento < 3; ++intento) {
    harness::Script s;
    const std::string primero = respaldar(dir, usb, s);
    ASSERT_EQ(s.status, 0) << s.errors;
    usb.write(primero + "-2", "");
    std::filesystem::create_directory(usb.path() + "/" + primero + "-3.incompleto");
    const std::string segundo = respaldar(dir, usb, s, "-4");
    ASSERT_EQ(s.status, 0) << s.errors;
    if (segundo.substr(0, primero.size()) != primero) {
      for (const auto& entrada : std::filesystem::directory_iterator(usb.path()))
        std::filesystem::remove_all(entrada.path());
      continue;  // a minute went by between the two
    }
    EXPECT_EQ(segundo, primero + "-4");
    EXPECT_EQ(contenido(usb.path() + "/" + segundo), contenido(dir.path()));
    EXPECT_EQ(usb.names(), (std::vector<std::string>{primero, primero + "-2",
                                                     primero + "-3.incompleto", segundo}));
    return;
  }
  ADD_FAILURE() << "every try crossed a minute";
}

struct Destino {
  const char* nombre;
  friend void PrintTo(const Destino& c, std::ostream* os) { *os << c.nombre; }
  std::string carpeta;  // inside the scratch folder
  int numeroError;
};

class DestinoInutil : public ::testing::TestWithParam<Destino> {};

TEST_P(DestinoInutil, IsRefusedInOneLineWithStatusTwoAndNothingMade) {
  harness::ScratchDir dir;
  harness::ScratchDir usb;
  datos_test::escribirEscuela(dir);
  usb.write("archivo", "x");
  const std::string carpeta = usb.path() + "/" + GetParam().carpeta;
  const harness::Script s = correr(dir, {"respaldar", carpeta});
  EXPECT_EQ(s.status, 2);
  EXPECT_EQ(s.output, "");
  EXPECT_EQ(s.errors, "alumnos-datos: No se puede respaldar en " + carpeta + " (" +
                          datos::motivo(GetParam().numeroError, nullptr) + ")\n");
  EXPECT_EQ(usb.names(), std::vector<std::string>{"archivo"});
}

INSTANTIATE_TEST_SUITE_P(Carpetas, DestinoInutil,
                         ::testing::Values(Destino{"Missing", "no/esta", ENOENT},
                                           Destino{"AFileInsteadOfAFolder", "archivo", ENOTDIR},
                                           Destino{"InsideAFile", "archivo/usb", ENOTDIR}),
                         datos_test::PorNombre());

// A clerk in the wrong folder is told so, rather than given an empty backup.
TEST(Respaldar, AFolderWithoutTheSchoolsFilesIsTold) {
  harness::ScratchDir dir;
  harness::ScratchDir usb;
  dir.write("notas.csv", "codigo\n");
  const harness::Script s = correr(dir, {"respaldar", usb.path()});
  EXPECT_EQ(s.status, 2);
  EXPECT_EQ(s.output, "");
  EXPECT_EQ(s.errors, "alumnos-datos: no hay archivos de datos en esta carpeta\n");
  EXPECT_EQ(usb.names(), std::vector<std::string>{});
}

}  // namespace
