// The record files on Windows: what only this platform can show. Runs in a
// directory of its own, like the store's other tests.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "comun.hpp"
#include "store/archivos.hpp"

using namespace store::prueba;

namespace {

HANDLE abrirComoOtraCopia(const char* nombre) {
  return ::CreateFileA(nombre, GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Wine keeps byte-range locks for LockFileEx alone: its reads and writes do
// not honour them, as Windows' do.
bool bajoWine() {
  const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace

TEST_F(Archivos, RecordsAreRawBytesWithNoTextModeAnywhere) {
  // An age whose bytes are CR, LF, Ctrl+Z and a zero: a text mode would add,
  // drop or stop at them.
  const Alumno raro = alumno("12345678A", "Perez", 0x000A0D1A);
  store::Archivo<Alumno> archivo;
  ASSERT_TRUE(archivo.abrirParaAgregar());
  ASSERT_TRUE(archivo.agregar(raro));
  ASSERT_TRUE(archivo.agregar(b_));
  EXPECT_EQ(leerArchivo("ALUMNO.txt"), bytesDe(raro) + bytesDe(b_));
  EXPECT_EQ(bytesEscaneados(archivo), bytesDe(raro) + bytesDe(b_));
}

TEST_F(Archivos, AnAppendThatCannotWriteLeavesTheFileAndItsFragmentAsTheyWere) {
  // Another copy locks a byte where the record would go; Windows refuses
  // the write.
  if (bajoWine()) GTEST_SKIP() << "wine does not refuse a write into a locked range";
  for (const std::size_t fragmento : {0u, 2u}) {
    SCOPED_TRACE(fragmento);
    const std::string antes = dosAlumnos(fragmento);
    escribirArchivo("ALUMNO.txt", antes);
    const HANDLE otra = abrirComoOtraCopia("ALUMNO.txt");
    ASSERT_NE(otra, INVALID_HANDLE_VALUE);
    OVERLAPPED bloqueado{};
    bloqueado.Offset = 118 + 30;
    ASSERT_TRUE(::LockFileEx(otra, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                             &bloqueado));

    store::Archivo<Alumno> archivo;
    ASSERT_TRUE(archivo.abrirParaAgregar());
    const store::Resultado resultado = archivo.agregar(c_);
    EXPECT_EQ(resultado.falla, store::Falla::escritura);
    EXPECT_EQ(resultado.numeroError, ERROR_LOCK_VIOLATION);
    ::UnlockFileEx(otra, 0, 1, 0, &bloqueado);
    EXPECT_EQ(leerArchivo("ALUMNO.txt"), antes);

    // Unlocked, the same open file takes the record over the fragment.
    ASSERT_TRUE(archivo.agregar(c_));
    EXPECT_EQ(leerArchivo("ALUMNO.txt"), dosAlumnos() + bytesDe(c_));
    ::CloseHandle(otra);
    archivo.cerrar();
  }
}

// Whether a file another copy holds open can be replaced is the file
// system's to say (wine and older Windows refuse). Where it cannot, the
// deletion waits for the other copy to close it, as it waits for the lock:
// a copy that looks something up for a moment costs it nothing, and one that
// holds the file longer than it waits leaves everything as it was.
TEST_F(Archivos, ADeletionWaitsForACopyHoldingTheFileOpenForAMoment) {
  struct Caso {
    const char* nombre;
    DWORD milisegundos;  // how long the other copy keeps the file open
  };
  const Caso casos[] = {{"for a moment", 300}, {"longer than a deletion waits", 11'000}};
  for (const Caso& caso : casos) {
    SCOPED_TRACE(caso.nombre);
    escribirArchivo("ALUMNO.txt", dosAlumnos());
    const HANDLE otra = abrirComoOtraCopia("ALUMNO.txt");
    ASSERT_NE(otra, INVALID_HANDLE_VALUE);
    std::thread cerrar([&] {
      ::Sleep(caso.milisegundos);
      ::CloseHandle(otra);
    });
    const store::Resultado resultado = store::eliminarAlumnos("12345678A");
    cerrar.join();
    if (resultado) {
      EXPECT_EQ(leerArchivo("ALUMNO.txt"), bytesDe(b_));
    } else {
      EXPECT_GT(caso.milisegundos, 10'000u) << "a moment's reader made the deletion fail";
      EXPECT_EQ(resultado.falla, store::Falla::enUso);
      EXPECT_EQ(leerArchivo("ALUMNO.txt"), dosAlumnos());
    }
    EXPECT_FALSE(existe("TEMPORAL.txt"));
  }
}

// Where the deletion must let its lock go before the move, the scratch
// file's lock stands for it: an append that gets the old file's lock then
// waits, and goes to the new file once it has the name.
TEST_F(Archivos, AnAppendWaitsForAReplacementThatHoldsTheScratchFilesLock) {
  escribirArchivo("ALUMNO.txt", dosAlumnos());
  store::Archivo<Alumno> archivo;
  ASSERT_TRUE(archivo.abrirParaAgregar());
  archivo.cerrar();  // as a screen keeps it while its clerk types
  escribirArchivo("TEMPORAL.txt", bytesDe(b_));
  const HANDLE reemplazo = abrirComoOtraCopia("TEMPORAL.txt");
  ASSERT_NE(reemplazo, INVALID_HANDLE_VALUE);
  OVERLAPPED cerrojo{};
  cerrojo.OffsetHigh = 1u << 30;  // the far byte, 2^62
  ASSERT_TRUE(::LockFileEx(reemplazo, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                           &cerrojo));
  std::thread otraCopia([&] {
    ::Sleep(300);
    // The appender has the old file open only for moments.
    for (int intento = 0; intento < 5000; ++intento) {
      if (::MoveFileExA("TEMPORAL.txt", "ALUMNO.txt", MOVEFILE_REPLACE_EXISTING)) break;
      ::Sleep(1);
    }
    ::CloseHandle(reemplazo);
  });
  const store::Resultado agregado = archivo.agregar(c_);
  otraCopia.join();
  EXPECT_TRUE(agregado);
  EXPECT_EQ(leerArchivo("ALUMNO.txt"), bytesDe(b_) + bytesDe(c_));
  EXPECT_FALSE(existe("TEMPORAL.txt"));
}

TEST_F(Archivos, AStudentFileOpenInAnotherCopyCanStillBeAppendedAndScanned) {
  escribirArchivo("ALUMNO.txt", dosAlumnos());
  const HANDLE otra = abrirComoOtraCopia("ALUMNO.txt");
  ASSERT_NE(otra, INVALID_HANDLE_VALUE);
  store::Archivo<Alumno> archivo;
  ASSERT_TRUE(archivo.abrirParaAgregar());
  ASSERT_TRUE(archivo.agregar(c_));
  EXPECT_EQ(codigosEscaneados(archivo),
            (std::vector<std::string>{"12345678A", "87654321B", "11111111C"}));
  ::CloseHandle(otra);
}
