// The record files on Windows: what only this platform can show. Runs in a
// directory of its own, like the store's other tests.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

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
// system's to say (wine and older Windows refuse); either way the students
// are all there, old or new, and no scratch file is left.
TEST_F(Archivos, ADeletionBesideACopyHoldingTheFileOpenLosesNothing) {
  escribirArchivo("ALUMNO.txt", dosAlumnos());
  const HANDLE otra = abrirComoOtraCopia("ALUMNO.txt");
  ASSERT_NE(otra, INVALID_HANDLE_VALUE);
  const store::Resultado resultado = store::eliminarAlumnos("12345678A");
  ::CloseHandle(otra);
  if (resultado) {
    EXPECT_EQ(leerArchivo("ALUMNO.txt"), bytesDe(b_));
  } else {
    EXPECT_EQ(resultado.falla, store::Falla::renombrar);
    EXPECT_EQ(leerArchivo("ALUMNO.txt"), dosAlumnos());
  }
  EXPECT_FALSE(existe("TEMPORAL.txt"));
  // Once the other copy has closed it, the deletion goes through.
  ASSERT_TRUE(store::eliminarAlumnos("12345678A"));
  EXPECT_EQ(leerArchivo("ALUMNO.txt"), bytesDe(b_));
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
