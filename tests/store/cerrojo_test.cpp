// The lock each copy takes on a record file and the check that a name still
// leads to a file open: what the store builds on to share files with other
// copies of the program. The same tests on every platform.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "comun.hpp"
#include "store/sistema.hpp"

namespace {

using namespace store::prueba;
using store::Apertura;
using store::Descriptor;
using store::sistema::Destino;
using store::sistema::Intento;

class Cerrojo : public Archivos {
 protected:
  void SetUp() override {
    Archivos::SetUp();
    escribirArchivo("ALUMNO.txt", "datos");
  }
  static Descriptor abrir(Apertura apertura = Apertura::escribir) {
    Descriptor descriptor;
    EXPECT_TRUE(store::sistema::abrir("ALUMNO.txt", apertura, descriptor));
    return descriptor;
  }
};

// Each open is its own holder, as two copies are: one process can stand in
// for both.
TEST_F(Cerrojo, OneOpenHoldsItTheOthersFindItTakenUntilItIsGivenBackOrClosed) {
  Descriptor una = abrir();
  Descriptor otra = abrir();
  EXPECT_EQ(store::sistema::intentarBloquear(una.numero()), Intento::tomado);
  EXPECT_EQ(store::sistema::intentarBloquear(otra.numero()), Intento::ocupado);
  // The locked byte lies far past the data: reading and writing go on.
  const unsigned char d = 'D';
  std::size_t hecho = 0;
  EXPECT_TRUE(store::sistema::escribirTodo(otra.numero(), &d, 1, 0, hecho));
  EXPECT_EQ(hecho, 1u);
  unsigned char leido = 0;
  EXPECT_TRUE(store::sistema::leerEn(otra.numero(), &leido, 1, 0, hecho));
  EXPECT_EQ(leido, 'D');
  EXPECT_TRUE(store::sistema::desbloquear(una.numero()));
  EXPECT_EQ(store::sistema::intentarBloquear(otra.numero()), Intento::tomado);
  EXPECT_EQ(store::sistema::intentarBloquear(una.numero()), Intento::ocupado);
  otra.cerrar();  // a copy that ends gives it back
  EXPECT_EQ(store::sistema::intentarBloquear(una.numero()), Intento::tomado);
}

// Readers share the lock; a writer and a reader exclude each other, in
// either order. The first open holds its lock while the second tries.
TEST_F(Cerrojo, ReadersShareItAndAWriterExcludesThem) {
  using store::sistema::Modo;
  struct Caso {
    Modo primero;
    Modo segundo;
    Intento esperado;
  };
  const Caso casos[] = {
      {Modo::compartido, Modo::compartido, Intento::tomado},
      {Modo::compartido, Modo::exclusivo, Intento::ocupado},
      {Modo::exclusivo, Modo::compartido, Intento::ocupado},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(testing::Message()
                 << static_cast<int>(c.primero) << " then " << static_cast<int>(c.segundo));
    Descriptor una = abrir();
    Descriptor otra = abrir();
    ASSERT_EQ(store::sistema::intentarBloquear(una.numero(), c.primero), Intento::tomado);
    EXPECT_EQ(store::sistema::intentarBloquear(otra.numero(), c.segundo), c.esperado);
  }
  // A reader's lock needs no more than a file open for reading.
  Descriptor lector = abrir(Apertura::leer);
  EXPECT_EQ(store::sistema::intentarBloquear(lector.numero(), Modo::compartido), Intento::tomado);
}

#ifndef _WIN32
// A POSIX write lock needs a file open for writing (Windows locks any handle).
TEST_F(Cerrojo, AFileOpenOnlyForReadingCannotBeLocked) {
  Descriptor soloLectura = abrir(Apertura::leer);
  EXPECT_EQ(store::sistema::intentarBloquear(soloLectura.numero()), Intento::fallido);
}
#endif

TEST_F(Cerrojo, TheNameIsCheckedAgainstTheOpenFile) {
  struct Caso {
    const char* que;
    bool (*cambiar)();  // false: this system cannot make the change with the file open
    Destino destino;
  };
  const Caso casos[] = {
      {"unchanged", [] { return true; }, Destino::esteArchivo},
      {"replaced by a rename",
       [] {
         escribirArchivo("TEMPORAL.txt", "nuevo");
         std::error_code error;
         fs::rename("TEMPORAL.txt", "ALUMNO.txt", error);
         return !error;
       },
       Destino::otroArchivo},
      {"rewritten in place",
       [] {
         escribirArchivo("ALUMNO.txt", "otro");
         return true;
       },
       Destino::esteArchivo},
      {"removed",
       [] {
         std::error_code error;
         fs::remove("ALUMNO.txt", error);
         return !error && !fs::exists("ALUMNO.txt");
       },
       Destino::ninguno},
  };
  for (const Caso& c : casos) {
    SCOPED_TRACE(c.que);
    escribirArchivo("ALUMNO.txt", "datos");
    Descriptor abierto = abrir();
    if (!c.cambiar()) continue;  // Windows keeps an open file's name
    EXPECT_EQ(store::sistema::adondeLleva("ALUMNO.txt", abierto.numero()), c.destino);
  }
  // A link in the name's place leads to the file it names.
  escribirArchivo("ALUMNO.txt", "datos");
  std::error_code error;
  fs::create_symlink("ALUMNO.txt", "enlace", error);
  if (error) return;  // a system (or a Windows account) that makes no links
  const Descriptor abierto = abrir();
  EXPECT_EQ(store::sistema::adondeLleva("enlace", abierto.numero()), Destino::esteArchivo);
}

}  // namespace
