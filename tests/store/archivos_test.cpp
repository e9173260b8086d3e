// Opening, scanning, appending and rewriting the record files, failures
// included. Each test runs in a directory of its own.
#include "store/archivos.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "comun.hpp"

namespace {

using namespace store::prueba;

// Runs `accion` with the file-size limit at `limite` bytes and SIGXFSZ
// ignored, as the program runs; both are put back afterwards.
template <class Accion>
store::Resultado conLimiteDeTamano(rlim_t limite, Accion accion) {
  struct sigaction ignorar {};
  struct sigaction anterior {};
  ignorar.sa_handler = SIG_IGN;
  EXPECT_EQ(::sigaction(SIGXFSZ, &ignorar, &anterior), 0);
  rlimit antes{};
  EXPECT_EQ(::getrlimit(RLIMIT_FSIZE, &antes), 0);
  rlimit durante = antes;
  durante.rlim_cur = limite;
  EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &durante), 0);
  const store::Resultado resultado = accion();
  EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &antes), 0);
  EXPECT_EQ(::sigaction(SIGXFSZ, &anterior, nullptr), 0);
  return resultado;
}

TEST_F(Archivos, OpeningForReadingTellsAMissingFileFromOneThatCannotBeOpened) {
  struct Caso {
    const char* nombreCaso;
    void (*preparar)();
    Falla esperada;
  };
  const Caso casos[] = {
      {"missing", [] {}, Falla::noExiste},
      {"empty file", [] { escribirArchivo("ALUMNO.txt", ""); }, Falla::ninguna},
      {"directory", [] { ASSERT_EQ(::mkdir("ALUMNO.txt", 0755), 0); }, Falla::noSeAbre},
      {"FIFO (must not hang)", [] { ASSERT_EQ(::mkfifo("ALUMNO.txt", 0644), 0); }, Falla::noSeAbre},
      {"link to a device", [] { ASSERT_EQ(::symlink("/dev/null", "ALUMNO.txt"), 0); },
       Falla::noSeAbre},
      {"dangling link", [] { ASSERT_EQ(::symlink("nowhere", "ALUMNO.txt"), 0); }, Falla::noExiste},
  };
  for (const Caso& caso : casos) {
    SCOPED_TRACE(caso.nombreCaso);
    fs::remove_all("ALUMNO.txt");
    caso.preparar();
    store::Archivo<Alumno> archivo;
    const store::Resultado resultado = archivo.abrirParaLeer();
    EXPECT_EQ(resultado.falla, caso.esperada);
    EXPECT_EQ(archivo.abierto(), caso.esperada == Falla::ninguna);
    if (caso.esperada != Falla::ninguna) {
      EXPECT_NE(resultado.numeroError, 0);
    }
  }
}

TEST_F(Archivos, OpeningToAppendCreatesAMissingFileAndRefusesAnythingButAFile) {
  struct Caso {
    const char* nombreCaso;
    void (*preparar)();
    Falla esperada;
    bool esArchivoDespues;
  };
  const Caso casos[] = {
      {"missing: created empty", [] {}, Falla::ninguna, true},
      {"existing file kept", [] { escribirArchivo("ALUMNO.txt", std::string(59, 'x')); },
       Falla::ninguna, true},
      {"directory", [] { ASSERT_EQ(::mkdir("ALUMNO.txt", 0755), 0); }, Falla::noSeAbre, false},
      {"FIFO (must not hang)", [] { ASSERT_EQ(::mkfifo("ALUMNO.txt", 0644), 0); }, Falla::noSeAbre,
       false},
      {"link to a device", [] { ASSERT_EQ(::symlink("/dev/null", "ALUMNO.txt"), 0); },
       Falla::noSeAbre, false},
  };
  for (const Caso& caso : casos) {
    SCOPED_TRACE(caso.nombreCaso);
    fs::remove_all("ALUMNO.txt");
    caso.preparar();
    const std::string antes = caso.esArchivoDespues ? leerArchivo("ALUMNO.txt") : "";
    store::Archivo<Alumno> archivo;
    const store::Resultado resultado = archivo.abrirParaAgregar();
    EXPECT_EQ(resultado.falla, caso.esperada);
    EXPECT_EQ(archivo.abierto(), caso.esperada == Falla::ninguna);
    EXPECT_EQ(fs::is_regular_file(fs::symlink_status("ALUMNO.txt")), caso.esArchivoDespues);
    if (caso.esArchivoDespues) {
      EXPECT_EQ(leerArchivo("ALUMNO.txt"), antes);
    }
  }
}

TEST_F(Archivos, ADirectoryInPlaceOfTheFileIsNeverTakenForAnEmptyFile) {
  ASSERT_EQ(::mkdir("ALUMNO.txt", 0755), 0);
  store::Archivo<Alumno> archivo;
  EXPECT_EQ(archivo.abrirParaLeer().falla, Falla::noSeAbre);
  EXPECT_EQ(archivo.abrirParaAgregar().falla, Falla::noSeAbre);

  store::Resultado estado;
  EXPECT_TRUE(codigosEscaneados(archivo, &estado).empty());
  EXPECT_EQ(estado.falla, Falla::lectura);
  EXPECT_EQ(store::buscarCodigo(archivo, "12345678A").resultado.falla, Falla::noSeAbre);

  const store::Resultado agregado = archivo.agregar(a_);
  EXPECT_EQ(agregado.falla, Falla::noSeAbre);

  const store::Resultado reescrito = store::eliminarAlumnos("00000000X");
  EXPECT_EQ(reescrito.falla, Falla::noSeAbre);
  EXPECT_TRUE(fs::is_directory("ALUMNO.txt"));
  EXPECT_TRUE(fs::is_empty("ALUMNO.txt"));
  EXPECT_FALSE(existe("TEMPORAL.txt"));
}

// --- scanning ---

TEST_F(Archivos, AReadErrorEndsTheScanButIsReportedAsSuch) {
  struct Caso {
    const char* nombreCaso;
    int descriptor;
    int numeroError;
  };
  const int directorio = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(directorio, 0);
  const Caso casos[] = {
      {"reading a directory", directorio, EISDIR},
      {"no file", -1, EBADF},
  };
  for (const Caso& caso : casos) {
    SCOPED_TRACE(caso.nombreCaso);
    store::LectorBloques lector(caso.descriptor, 59);
    EXPECT_EQ(lector.siguiente(), nullptr);
    EXPECT_EQ(lector.estado().falla, Falla::lectura);
    EXPECT_EQ(lector.estado().numeroError, caso.numeroError);
  }
  ::close(directorio);
}

// --- looking up a code ---

TEST_F(Archivos, AnAppendStoppedByTheFileSizeLimitLeavesTheFileAsItWas) {
  struct Caso {
    const char* nombreCaso;
    std::size_t fragmento;
    rlim_t limite;
  };
  const Caso casos[] = {
      {"nothing can be written", 0, 118},
      {"half a record written", 0, 148},
      {"all but one byte written", 0, 176},
      {"fragment partly overwritten", 2, 150},
      {"only the fragment's bytes overwritten", 40, 140},
      {"limit below the file's size", 40, 100},
  };
  for (const Caso& caso : casos) {
    SCOPED_TRACE(caso.nombreCaso);
    const std::string antes = dosAlumnos(caso.fragmento);
    escribirArchivo("ALUMNO.txt", antes);
    store::Archivo<Alumno> archivo;
    ASSERT_TRUE(archivo.abrirParaAgregar());

    const store::Resultado resultado =
        conLimiteDeTamano(caso.limite, [&] { return archivo.agregar(c_); });
    EXPECT_EQ(resultado.falla, Falla::escritura);
    EXPECT_EQ(resultado.numeroError, EFBIG);
    EXPECT_EQ(leerArchivo("ALUMNO.txt"), antes);

    // Without the limit the same open file takes the record.
    ASSERT_TRUE(archivo.agregar(c_));
    EXPECT_EQ(leerArchivo("ALUMNO.txt"), dosAlumnos() + bytesDe(c_));
  }
}

TEST_F(Archivos, RewriteStoppedByTheFileSizeLimitLeavesTheStudentsAlone) {
  escribirArchivo("ALUMNO.txt", bytesDe(a_) + bytesDe(b_) + bytesDe(c_));
  const store::Resultado resultado =
      conLimiteDeTamano(100, [] { return store::eliminarAlumnos("87654321B"); });
  EXPECT_EQ(resultado.falla, Falla::escritura);
  EXPECT_EQ(resultado.numeroError, EFBIG);
  EXPECT_EQ(leerArchivo("ALUMNO.txt"), bytesDe(a_) + bytesDe(b_) + bytesDe(c_));
  EXPECT_FALSE(existe("TEMPORAL.txt"));
}

TEST_F(Archivos, RewriteReplacesAStaleScratchFileWithoutWritingThroughIt) {
  struct Caso {
    const char* nombreCaso;
    void (*preparar)();
  };
  const Caso casos[] = {
      {"stale file larger than the result",
       [] { escribirArchivo("TEMPORAL.txt", std::string(1000, 'S')); }},
      {"link to another file", [] { ASSERT_EQ(::symlink("otro.dat", "TEMPORAL.txt"), 0); }},
      {"hard link to another file", [] { ASSERT_EQ(::link("otro.dat", "TEMPORAL.txt"), 0); }},
  };
  for (const Caso& caso : casos) {
    SCOPED_TRACE(caso.nombreCaso);
    escribirArchivo("otro.dat", "not student data");
    escribirArchivo("ALUMNO.txt", dosAlumnos());
    caso.preparar();
    const store::Resultado resultado = store::eliminarAlumnos("12345678A");
    EXPECT_TRUE(resultado) << resultado.numeroError;
    EXPECT_EQ(leerArchivo("ALUMNO.txt"), bytesDe(b_));
    EXPECT_FALSE(existe("TEMPORAL.txt"));
    EXPECT_EQ(leerArchivo("otro.dat"), "not student data");
  }
}

TEST_F(Archivos, RewriteKeepsTheStudentFilesPermissions) {
  escribirArchivo("ALUMNO.txt", dosAlumnos());
  ASSERT_EQ(::chmod("ALUMNO.txt", 0640), 0);
  ASSERT_TRUE(store::eliminarAlumnos("00000000X"));
  struct stat datos {};
  ASSERT_EQ(::stat("ALUMNO.txt", &datos), 0);
  EXPECT_EQ(datos.st_mode & 07777, 0640u);
  EXPECT_EQ(leerArchivo("ALUMNO.txt"), dosAlumnos());
}

}  // namespace

using namespace store::prueba;

TEST_F(Archivos, AStudentFileLinkedToAnotherFileSystemIsLeftAloneByADeletion) {
  // The scratch file lives beside the link; the file the link leads to is on
  // another file system, where TEMPORAL.txt cannot be renamed.
  std::string plantilla = "/dev/shm/alumnos-store-XXXXXX";
  if (::mkdtemp(plantilla.data()) == nullptr) GTEST_SKIP() << "no /dev/shm here";
  const fs::path lejos = fs::path(plantilla) / "alumnos.dat";
  struct stat aqui {};
  struct stat alla {};
  ASSERT_EQ(::stat(".", &aqui), 0);
  ASSERT_EQ(::stat(plantilla.c_str(), &alla), 0);
  if (aqui.st_dev == alla.st_dev) {
    fs::remove_all(plantilla);
    GTEST_SKIP() << "/dev/shm is on the same file system as " << fs::current_path();
  }
  escribirArchivo(lejos.c_str(), dosAlumnos());
  fs::create_symlink(lejos, store::kArchivoAlumnos);

  const store::Resultado resultado = store::eliminarAlumnos("12345678A");
  EXPECT_EQ(resultado.falla, Falla::renombrar);
  EXPECT_EQ(resultado.numeroError, EXDEV);
  EXPECT_EQ(leerArchivo(lejos.c_str()), dosAlumnos());
  EXPECT_TRUE(fs::is_symlink(store::kArchivoAlumnos));
  EXPECT_FALSE(existe(store::kArchivoTemporal));
  fs::remove_all(plantilla);
}
