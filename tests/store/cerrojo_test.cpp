// The lock each copy takes on a record file and the check that a name still
// leads to a file open: what the store builds on to share files with other
// copies of the program.
#include "store/cerrojo.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;
using store::detalle::Destino;
using store::detalle::Intento;

class Cerrojo : public ::testing::Test {
 protected:
  void SetUp() override {
    directorio_ = fs::temp_directory_path() / ("alumnos-cerrojo-" + std::to_string(::getpid()));
    fs::create_directories(directorio_);
    archivo_ = (directorio_ / "ALUMNO.txt").string();
    escribir(archivo_, "datos");
  }
  void TearDown() override { fs::remove_all(directorio_); }

  static void escribir(const std::string& nombre, const std::string& bytes) {
    FILE* f = std::fopen(nombre.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs(bytes.c_str(), f);
    std::fclose(f);
  }
  int abrir(int modo = O_RDWR) const { return ::open(archivo_.c_str(), modo | O_CLOEXEC); }

  fs::path directorio_;
  std::string archivo_;
};

// Each open is its own holder, as two copies are: one process can stand in
// for both.
TEST_F(Cerrojo, OneOpenHoldsItTheOthersFindItTakenUntilItIsGivenBackOrClosed) {
  const int una = abrir();
  const int otra = abrir();
  EXPECT_EQ(store::detalle::intentarBloquear(una), Intento::tomado);
  EXPECT_EQ(store::detalle::intentarBloquear(otra), Intento::ocupado);
  // The locked byte lies far past the data: reading and writing go on.
  EXPECT_EQ(::pwrite(otra, "D", 1, 0), 1);
  char leido = 0;
  EXPECT_EQ(::pread(otra, &leido, 1, 0), 1);
  EXPECT_TRUE(store::detalle::desbloquear(una));
  EXPECT_EQ(store::detalle::intentarBloquear(otra), Intento::tomado);
  EXPECT_EQ(store::detalle::intentarBloquear(una), Intento::ocupado);
  ::close(otra);  // a copy that ends gives it back
  EXPECT_EQ(store::detalle::intentarBloquear(una), Intento::tomado);
  ::close(una);

  const int soloLectura = abrir(O_RDONLY);
  EXPECT_EQ(store::detalle::intentarBloquear(soloLectura), Intento::fallido);
  ::close(soloLectura);
}

TEST_F(Cerrojo, TheNameIsCheckedAgainstTheOpenFile) {
  struct Caso {
    const char* que;
    void (*cambiar)(const fs::path& directorio, const std::string& archivo);
    Destino destino;
  };
  const Caso casos[] = {
      {"unchanged", [](const fs::path&, const std::string&) {}, Destino::esteArchivo},
      {"replaced by a rename",
       [](const fs::path& d, const std::string& a) {
         escribir((d / "TEMPORAL.txt").string(), "nuevo");
         fs::rename(d / "TEMPORAL.txt", a);
       },
       Destino::otroArchivo},
      {"rewritten in place", [](const fs::path&, const std::string& a) { escribir(a, "otro"); },
       Destino::esteArchivo},
      {"removed", [](const fs::path&, const std::string& a) { fs::remove(a); }, Destino::ninguno},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.que);
    escribir(archivo_, "datos");
    const int abierto = abrir();
    c.cambiar(directorio_, archivo_);
    EXPECT_EQ(store::detalle::adondeLleva(archivo_.c_str(), abierto), c.destino);
    ::close(abierto);
  }
  // A link in the name's place leads to the file it names.
  escribir(archivo_, "datos");
  fs::create_symlink(archivo_, directorio_ / "enlace");
  const int abierto = abrir();
  EXPECT_EQ(store::detalle::adondeLleva((directorio_ / "enlace").c_str(), abierto),
            Destino::esteArchivo);
  ::close(abierto);
}

}  // namespace
