// What a school installs: the .deb and the Windows zip, made by CPack from
// this build and from the Windows build as ./paquetes.sh makes them, opened
// and checked file by file, and their programs run from where they unpack:
// the .deb's from a scratch root (dpkg -x), the zip's under wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "datos.hpp"
#include "files.hpp"
#include "terminal.hpp"
#include "wine.hpp"

namespace {

namespace fs = std::filesystem;

const std::string kVersion = ALUMNOS_VERSION;

// A command found on the PATH (status 127 if it is not there).
harness::Script correr(const std::string& directory, std::vector<std::string> palabras,
                       std::vector<std::string> entorno = {}) {
  harness::Options opciones;
  opciones.program = "/usr/bin/env";
  opciones.args = std::move(palabras);
  opciones.env = std::move(entorno);
  opciones.deadline = std::chrono::milliseconds(120'000);
  return harness::runScript(directory, "", opciones);
}

// ASCII text as Windows keeps it in a program's resources.
std::string utf16(const std::string& texto) {
  std::string bytes;
  for (const char c : texto) {
    bytes += c;
    bytes += '\0';
  }
  return bytes;
}

// Every file (not folder) under `raiz`, by its path from there, sorted.
std::vector<std::string> archivos(const std::string& raiz) {
  std::vector<std::string> lista;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(raiz))
    if (!e.is_directory()) lista.push_back(fs::relative(e.path(), raiz).string());
  std::sort(lista.begin(), lista.end());
  return lista;
}

// One student entered, the listing seen, the program ended: as a clerk's
// first session, with the record it leaves.
const char kSesion[] = "1\n12345678APerez\nAna\n20\nN4\nk0\n";
const std::string kRegistro = datos_test::alumno("12345678A", "Perez", "Ana", 20);

// A package made by the CPack of a build into a scratch folder.
class Paquete : public ::testing::Test {
 protected:
  // Sets paquete_ to the package of the build in `build`; leaves it empty,
  // the test skipped or failed, where it cannot be made here.
  void empaquetar(const std::string& build) {
    if (std::string(ALUMNOS_MANUAL).empty()) GTEST_SKIP() << "pandoc is not installed: no manual";
    if (build == PROJECT_BINARY_DIR &&
        correr(trabajo_.path(), {"dpkg-shlibdeps", "--version"}).status == 127)
      GTEST_SKIP() << "dpkg-shlibdeps (dpkg-dev) is not installed";
    if (!fs::exists(build + "/CPackConfig.cmake")) GTEST_SKIP() << build << " is not configured";
    const harness::Script cpack =
        correr(trabajo_.path(),
               {CPACK_COMMAND, "--config", build + "/CPackConfig.cmake", "-B", trabajo_.path()});
    ASSERT_EQ(cpack.status, 0) << cpack.output << cpack.errors;
    for (const fs::directory_entry& entrada : fs::directory_iterator(trabajo_.path())) {
      const std::string nombre = entrada.path().filename().string();
      if (nombre.ends_with(".deb") || nombre.ends_with(".zip")) paquete_ = entrada.path().string();
    }
    ASSERT_NE(paquete_, "") << "cpack made no package: " << cpack.output;
  }
  harness::ScratchDir trabajo_;
  std::string paquete_;
};

// ---------------------------------------------------------------------------
// The .deb

class Deb : public Paquete {
 protected:
  void SetUp() override {
    empaquetar(PROJECT_BINARY_DIR);
    if (paquete_.empty()) return;
    raiz_ = trabajo_.path() + "/raiz";
    ASSERT_EQ(correr(trabajo_.path(), {"dpkg-deb", "-x", paquete_, raiz_}).status, 0);
  }
  std::string campo(const std::string& nombre) {
    std::string valor = correr(trabajo_.path(), {"dpkg-deb", "-f", paquete_, nombre}).output;
    while (!valor.empty() && valor.back() == '\n')
      valor.pop_back();
    return valor;
  }
  std::string raiz_;
};

TEST_F(Deb, HoldsTheProgramsTheirPagesTheManualAndTheCopyright) {
  EXPECT_EQ(fs::path(paquete_).filename(), "alumnos_" + kVersion + "_amd64.deb");
  EXPECT_EQ(archivos(raiz_), (std::vector<std::string>{
                                 "usr/bin/alumnos",
                                 "usr/bin/alumnos-datos",
                                 "usr/share/doc/alumnos/changelog.gz",
                                 "usr/share/doc/alumnos/copyright",
                                 "usr/share/doc/alumnos/manual.txt.gz",
                                 "usr/share/man/man1/alumnos-datos.1.gz",
                                 "usr/share/man/man1/alumnos.1.gz",
                             }));
  const std::pair<const char*, std::string> campos[] = {
      {"Package", "alumnos"},   {"Version", kVersion},    {"Architecture", "amd64"},
      {"Section", "education"}, {"Priority", "optional"},
  };
  for (const auto& [nombre, valor] : campos)
    EXPECT_EQ(campo(nombre), valor) << nombre;
  EXPECT_NE(campo("Maintainer").find('<'), std::string::npos);
  // Computed from the programs: what they link, at the versions they need.
  for (const char* biblioteca : {"libc6 (>= ", "libstdc++6"})
    EXPECT_NE(campo("Depends").find(biblioteca), std::string::npos) << campo("Depends");
  for (const char* texto : {"students, courses and grades", "alumnos, cursos y notas"})
    EXPECT_NE(campo("Description").find(texto), std::string::npos) << texto;
  // The changelog has an entry for the version being packaged.
  const std::string cambios =
      correr(trabajo_.path(), {"gzip", "-dc", raiz_ + "/usr/share/doc/alumnos/changelog.gz"})
          .output;
  EXPECT_EQ(cambios.substr(0, cambios.find('\n')).find("alumnos (" + kVersion + ")"), 0u)
      << cambios;
}

TEST_F(Deb, ItsManualPagesRenderWithoutAWarning) {
  for (const char* programa : {"alumnos", "alumnos-datos"}) {
    SCOPED_TRACE(programa);
    const std::string pagina = raiz_ + "/usr/share/man/man1/" + programa + ".1.gz";
    const harness::Script man =
        correr(trabajo_.path(), {"man", "--warnings", "-E", "UTF-8", "-l", pagina},
               {"MANWIDTH=80", "MAN_DISABLE_SECCOMP=1"});
    EXPECT_EQ(man.status, 0);
    EXPECT_EQ(man.errors, "");
    EXPECT_NE(man.output.find("NOMBRE"), std::string::npos) << man.output;
    std::string titulo = programa;
    std::transform(titulo.begin(), titulo.end(), titulo.begin(), ::toupper);
    EXPECT_EQ(man.output.find(titulo + "(1)"), 0u);
    EXPECT_NE(man.output.find("alumnos " + kVersion), std::string::npos);
  }
}

TEST_F(Deb, LintianFindsNoError) {
  const harness::Script lintian =
      correr(trabajo_.path(), {"lintian", "--fail-on", "error", paquete_});
  if (lintian.status == 127) GTEST_SKIP() << "skipped: lintian is not installed";
  EXPECT_EQ(lintian.status, 0) << lintian.output << lintian.errors;
}

TEST_F(Deb, ItsProgramsRunFromWhereTheyInstall) {
  harness::ScratchDir escuela;
  harness::Options opciones;
  opciones.program = raiz_ + "/usr/bin/alumnos";
  const harness::Script sesion = harness::runScript(escuela.path(), kSesion, opciones);
  EXPECT_EQ(sesion.status, 0) << sesion.errors;
  EXPECT_NE(sesion.output.find("BASE DE DATOS DE ALUMNOS"), std::string::npos);
  EXPECT_EQ(escuela.read("ALUMNO.txt"), kRegistro);
  const std::string datos = raiz_ + "/usr/bin/alumnos-datos";
  EXPECT_EQ(correr(escuela.path(), {datos, "--version"}).output,
            "alumnos-datos " + kVersion + "\n");
  EXPECT_EQ(correr(escuela.path(), {datos, "exportar", "alumnos"}).output,
            "codigo,apellido,nombre,edad\r\n12345678A,Perez,Ana,20\r\n");
}

// ---------------------------------------------------------------------------
// The Windows zip

class Zip : public Paquete {
 protected:
  void SetUp() override {
    empaquetar(wine::kWindowsBuild);
    if (paquete_.empty()) return;
    carpeta_ = trabajo_.path() + "/alumnos";
    fs::create_directory(carpeta_);
    ASSERT_EQ(correr(carpeta_, {CMAKE_COMMAND, "-E", "tar", "xf", paquete_}).status, 0);
  }
  std::string carpeta_;
};

TEST_F(Zip, HoldsTheTwoProgramsAndAManualForNotepad) {
  EXPECT_EQ(fs::path(paquete_).filename(), "alumnos-" + kVersion + "-windows-x64.zip");
  EXPECT_EQ(archivos(carpeta_),
            (std::vector<std::string>{"LEEME.txt", "alumnos-datos.exe", "alumnos.exe"}));
  // Each program's Properties show the version: its value follows its key,
  // aligned to four bytes.
  for (const char* exe : {"alumnos.exe", "alumnos-datos.exe"}) {
    const std::string bytes = trabajo_.read(std::string("alumnos/") + exe);
    const std::size_t clave = bytes.find(utf16("ProductVersion"));
    ASSERT_NE(clave, std::string::npos) << exe;
    EXPECT_LE(bytes.find(utf16(kVersion + '\0'), clave) - clave, 36u) << exe;
  }
  const std::string leeme = trabajo_.read("alumnos/LEEME.txt");
  // UTF-8 marked as such, every line ended by CR LF and no wider than the
  // window of a console.
  ASSERT_EQ(leeme.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_TRUE(leeme.substr(0, leeme.find('\r')).ends_with(" " + kVersion)) << leeme.substr(0, 80);
  std::size_t linea = 1;
  for (std::size_t inicio = 3, fin; inicio < leeme.size(); inicio = fin + 1, ++linea) {
    fin = leeme.find('\n', inicio);
    ASSERT_NE(fin, std::string::npos) << "line " << linea << " has no end";
    ASSERT_GT(fin, inicio) << "line " << linea << " ends in a bare LF";
    EXPECT_EQ(leeme[fin - 1], '\r') << "line " << linea << " ends in a bare LF";
    std::size_t columnas = 0;
    for (std::size_t i = inicio; i + 1 < fin; ++i)
      columnas += (static_cast<unsigned char>(leeme[i]) & 0xC0) != 0x80;
    EXPECT_LE(columnas, 79u) << "line " << linea;
  }
}

TEST_F(Zip, ItsProgramsRunUnderWineFromTheUnpackedFolder) {
  const std::string wine = wine::wineOrWhyNot();
  if (wine::isSkip(wine)) GTEST_SKIP() << wine;
  wine::startWine(wine);
  const harness::Script sesion =
      harness::runScript(carpeta_, kSesion, wine::underWine(wine, {carpeta_ + "/alumnos.exe"}));
  EXPECT_EQ(sesion.status, 0) << sesion.errors;
  EXPECT_EQ(trabajo_.read("alumnos/ALUMNO.txt"), kRegistro);
  const harness::Script version = harness::runScript(
      carpeta_, "", wine::underWine(wine, {carpeta_ + "/alumnos-datos.exe", "--version"}));
  EXPECT_EQ(version.output, "alumnos-datos " + kVersion + "\n");
}

}  // namespace
