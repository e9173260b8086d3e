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

namespace {

namespace fs = std::filesystem;
using store::Alumno;
using store::Curso;
using store::Falla;
using store::NotaAlumno;

std::string leerArchivo(const char* nombre) {
  std::ifstream entrada(nombre, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(entrada), {});
}

void escribirArchivo(const char* nombre, const std::string& bytes) {
  std::ofstream salida(nombre, std::ios::binary | std::ios::trunc);
  salida.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(salida.good());
}

template <class R>
std::string bytesDe(const R& registro) {
  const store::Bytes<R> bytes = store::codificar(registro);
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// A student whose code field carries junk after its zero, as records written
// by other programs may: a rewrite must keep such bytes as they are.
Alumno alumno(const std::string& codigo, const char* apellido, std::int32_t edad) {
  Alumno resultado;
  EXPECT_TRUE(store::copiarTexto(resultado.codigo, codigo));
  if (codigo.size() < 14) resultado.codigo[14] = static_cast<char>('a' + edad % 26);
  EXPECT_TRUE(store::copiarTexto(resultado.apellido, apellido));
  EXPECT_TRUE(store::copiarTexto(resultado.nombre, "Nombre"));
  resultado.edad = edad;
  return resultado;
}

std::string codigoDe(const Alumno& registro) {
  return registro.codigo;
}

std::vector<std::string> codigosEscaneados(const store::Archivo<Alumno>& archivo,
                                           store::Resultado* estado = nullptr) {
  std::vector<std::string> codigos;
  store::Recorrido recorrido(archivo);
  Alumno registro;
  while (recorrido.siguiente(registro))
    codigos.push_back(codigoDe(registro));
  if (estado != nullptr) *estado = recorrido.estado();
  return codigos;
}

bool existe(const char* nombre) {
  struct stat datos {};
  return ::lstat(nombre, &datos) == 0;
}

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

class Archivos : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string plantilla = (fs::temp_directory_path() / "alumnos-store-XXXXXX").string();
    ASSERT_NE(::mkdtemp(plantilla.data()), nullptr);
    directorio_ = plantilla;
    anterior_ = fs::current_path();
    fs::current_path(directorio_);
  }
  void TearDown() override {
    fs::current_path(anterior_);
    fs::remove_all(directorio_);
  }

  // Two students, then `fragmento` stray bytes.
  std::string dosAlumnos(std::size_t fragmento = 0) {
    return bytesDe(a_) + bytesDe(b_) + std::string(fragmento, 'F');
  }

  const Alumno a_ = alumno("12345678A", "Perez", 20);
  const Alumno b_ = alumno("87654321B", "Gomez", 26);
  const Alumno c_ = alumno("11111111C", "Ruiz", 10);

 private:
  fs::path directorio_;
  fs::path anterior_;
};

// --- file names ---

TEST_F(Archivos, EachRecordTypeLivesInItsOwnNamedFile) {
  ASSERT_STREQ(store::kArchivoAlumnos, "ALUMNO.txt");
  ASSERT_STREQ(store::kArchivoCursos, "CURSO.txt");
  ASSERT_STREQ(store::kArchivoNotas, "NOTAALUMNO.txt");
  ASSERT_STREQ(store::kArchivoTemporal, "TEMPORAL.txt");

  store::Archivo<Alumno> alumnos;
  store::Archivo<Curso> cursos;
  store::Archivo<NotaAlumno> notas;
  ASSERT_TRUE(alumnos.abrirParaAgregar());
  EXPECT_TRUE(existe("ALUMNO.txt"));
  EXPECT_FALSE(existe("CURSO.txt"));
  ASSERT_TRUE(cursos.abrirParaAgregar());
  EXPECT_TRUE(existe("CURSO.txt"));
  EXPECT_FALSE(existe("NOTAALUMNO.txt"));
  ASSERT_TRUE(notas.abrirParaAgregar());
  EXPECT_TRUE(existe("NOTAALUMNO.txt"));
  std::set<std::string> nombres;
  for (const auto& entrada : fs::directory_iterator(".")) {
    nombres.insert(entrada.path().filename().string());
  }
  EXPECT_EQ(nombres, (std::set<std::string>{"ALUMNO.txt", "CURSO.txt", "NOTAALUMNO.txt"}));
}

// --- opening ---

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
  EXPECT_EQ(store::buscarCodigo(archivo, "12345678A").resultado.falla, Falla::lectura);

  const store::Resultado agregado = archivo.agregar(a_);
  EXPECT_EQ(agregado.falla, Falla::escritura);

  const store::Resultado reescrito = store::eliminarAlumnos("00000000X");
  EXPECT_EQ(reescrito.falla, Falla::noSeAbre);
  EXPECT_TRUE(fs::is_directory("ALUMNO.txt"));
  EXPECT_TRUE(fs::is_empty("ALUMNO.txt"));
  EXPECT_FALSE(existe("TEMPORAL.txt"));
}

// --- scanning ---

TEST_F(Archivos, ScanShowsEveryWholeRecordAndNeverATrailingFragment) {
  struct Caso {
    std::size_t registros;
    std::size_t fragmento;
  };
  const Caso casos[] = {{0, 0}, {1, 0}, {2, 0}, {0, 58}, {1, 1}, {2, 2}, {2, 58}};
  const Alumno todos[] = {a_, b_};
  for (const Caso& caso : casos) {
    SCOPED_TRACE(std::to_string(caso.registros) + " records + " + std::to_string(caso.fragmento));
    std::string bytes;
    std::vector<std::string> esperados;
    for (std::size_t i = 0; i < caso.registros; ++i) {
      bytes += bytesDe(todos[i]);
      esperados.push_back(codigoDe(todos[i]));
    }
    bytes += std::string(caso.fragmento, '9');
    escribirArchivo("ALUMNO.txt", bytes);

    store::Archivo<Alumno> archivo;
    ASSERT_TRUE(archivo.abrirParaLeer());
    store::Resultado estado;
    EXPECT_EQ(codigosEscaneados(archivo, &estado), esperados);
    EXPECT_TRUE(estado);
  }
}

TEST_F(Archivos, ScanOfA118And120ByteFileShowsTwoStudentsWithAllTheirFields) {
  for (const std::size_t fragmento : {0u, 2u}) {
    SCOPED_TRACE(fragmento);
    escribirArchivo("ALUMNO.txt", dosAlumnos(fragmento));
    ASSERT_EQ(fs::file_size("ALUMNO.txt"), 118 + fragmento);
    store::Archivo<Alumno> archivo;
    ASSERT_TRUE(archivo.abrirParaLeer());
    store::Recorrido recorrido(archivo);
    Alumno leido;
    ASSERT_TRUE(recorrido.siguiente(leido));
    EXPECT_EQ(bytesDe(leido), bytesDe(a_));
    ASSERT_TRUE(recorrido.siguiente(leido));
    EXPECT_EQ(bytesDe(leido), bytesDe(b_));
    EXPECT_FALSE(recorrido.siguiente(leido));
    EXPECT_TRUE(recorrido.estado());
  }
}

TEST_F(Archivos, ScanOfAFileLargerThanTheBufferKeepsEveryRecordInOrder) {
  // 10,000 students: records straddle the reader's buffer boundaries.
  constexpr int kCantidad = 10000;
  std::string bytes;
  std::vector<std::string> esperados;
  for (int i = 0; i < kCantidad; ++i) {
    char codigo[16];
    std::snprintf(codigo, sizeof codigo, "%08dZ", i);
    bytes += bytesDe(alumno(codigo, "Apellido", i % 61));
    esperados.emplace_back(codigo);
  }
  escribirArchivo("ALUMNO.txt", bytes + "frag");
  ASSERT_GT(bytes.size(), 2 * store::detalle::LectorBloques::kCapacidad);

  store::Archivo<Alumno> archivo;
  ASSERT_TRUE(archivo.abrirParaLeer());
  store::Recorrido recorrido(archivo);
  Alumno leido;
  int i = 0;
  while (recorrido.siguiente(leido)) {
    ASSERT_LT(i, kCantidad);
    ASSERT_EQ(codigoDe(leido), esperados[static_cast<std::size_t>(i)]);
    ASSERT_EQ(leido.edad, i % 61);
    ++i;
  }
  EXPECT_EQ(i, kCantidad);
  EXPECT_TRUE(recorrido.estado());
  EXPECT_TRUE(store::buscarCodigo(archivo, esperados.back()).encontrado);
  EXPECT_TRUE(store::buscarCodigo(archivo, "00004443Z").encontrado);  // straddles 256 KiB
}

TEST_F(Archivos, ScanStartsFromTheFirstRecordAfterAnAppendOnTheSameOpenFile) {
  store::Archivo<Alumno> archivo;
  ASSERT_TRUE(archivo.abrirParaAgregar());
  EXPECT_TRUE(codigosEscaneados(archivo).empty());
  ASSERT_TRUE(archivo.agregar(a_));
  EXPECT_EQ(codigosEscaneados(archivo), (std::vector<std::string>{"12345678A"}));
  ASSERT_TRUE(archivo.agregar(b_));
  EXPECT_EQ(codigosEscaneados(archivo), (std::vector<std::string>{"12345678A", "87654321B"}));
  EXPECT_TRUE(store::buscarCodigo(archivo, "87654321B").encontrado);
}

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
    store::detalle::LectorBloques lector(caso.descriptor, 59);
    EXPECT_EQ(lector.siguiente(), nullptr);
    EXPECT_EQ(lector.estado().falla, Falla::lectura);
    EXPECT_EQ(lector.estado().numeroError, caso.numeroError);
  }
  ::close(directorio);
}

// --- looking up a code ---

TEST_F(Archivos, StudentCodeLookupMatchesExactlyAndIgnoresTheFragment) {
  const std::string fragmento = std::string("99999999X\0", 10) + "abc";
  escribirArchivo("ALUMNO.txt", dosAlumnos() + fragmento);
  store::Archivo<Alumno> archivo;
  ASSERT_TRUE(archivo.abrirParaLeer());
  struct Caso {
    const char* codigo;
    bool encontrado;
  };
  const Caso casos[] = {
      {"12345678A", true}, {"87654321B", true},  {"12345678a", false}, {"12345678A ", false},
      {"12345678", false}, {"99999999X", false}, {"", false},
  };
  for (const Caso& caso : casos) {
    SCOPED_TRACE(caso.codigo);
    const store::Busqueda busqueda = store::buscarCodigo(archivo, caso.codigo);
    EXPECT_EQ(busqueda.encontrado, caso.encontrado);
    EXPECT_TRUE(busqueda.resultado);
  }
}

TEST_F(Archivos, CourseCodeLookupComparesTheSixCharactersExactly) {
  Curso curso{};
  store::copiarCodigo(curso.codigo, "MA101A");
  ASSERT_TRUE(store::copiarTexto(curso.nombre, "Fisica"));
  curso.creditos = 4;
  store::Archivo<Curso> archivo;
  ASSERT_TRUE(archivo.abrirParaAgregar());
  EXPECT_FALSE(store::buscarCodigo(archivo, "MA101A").encontrado);
  ASSERT_TRUE(archivo.agregar(curso));
  struct Caso {
    const char* codigo;
    bool encontrado;
  };
  const Caso casos[] = {{"MA101A", true}, {"ma101a", false}, {"MA101", false}, {"MA101B", false}};
  for (const Caso& caso : casos) {
    SCOPED_TRACE(caso.codigo);
    EXPECT_EQ(store::buscarCodigo(archivo, caso.codigo).encontrado, caso.encontrado);
  }
}

// --- appending ---

TEST_F(Archivos, EachRecordTypeIsAppendedAsItsExactBytes) {
  Curso curso{};
  store::copiarCodigo(curso.codigo, "MA101A");
  ASSERT_TRUE(store::copiarTexto(curso.nombre, "Quimica"));
  curso.creditos = 5;
  NotaAlumno nota{};
  store::copiarCodigo(nota.codigoAlumno, "12345678A");
  store::copiarCodigo(nota.codigoCurso, "MA101A");
  nota.practica1 = 10;
  nota.practica2 = 11;
  nota.practica3 = 12;
  nota.examenParcial = 13;
  nota.examenFinal = 14;

  // Two visits each: the second appends after what the first left.
  for (int visita = 1; visita <= 2; ++visita) {
    store::Archivo<Alumno> alumnos;
    store::Archivo<Curso> cursos;
    store::Archivo<NotaAlumno> notas;
    ASSERT_TRUE(alumnos.abrirParaAgregar());
    ASSERT_TRUE(cursos.abrirParaAgregar());
    ASSERT_TRUE(notas.abrirParaAgregar());
    ASSERT_TRUE(alumnos.agregar(visita == 1 ? a_ : b_));
    ASSERT_TRUE(cursos.agregar(curso));
    ASSERT_TRUE(notas.agregar(nota));
  }
  EXPECT_EQ(leerArchivo("ALUMNO.txt"), bytesDe(a_) + bytesDe(b_));
  EXPECT_EQ(leerArchivo("CURSO.txt"), bytesDe(curso) + bytesDe(curso));
  EXPECT_EQ(leerArchivo("NOTAALUMNO.txt"), bytesDe(nota) + bytesDe(nota));
  EXPECT_EQ(fs::file_size("NOTAALUMNO.txt"), 70u);
}

TEST_F(Archivos, AppendOverwritesATrailingFragmentInsteadOfBuildingOnIt) {
  for (const std::size_t fragmento : {1u, 2u, 58u}) {
    SCOPED_TRACE(fragmento);
    escribirArchivo("ALUMNO.txt", dosAlumnos(fragmento));
    store::Archivo<Alumno> archivo;
    ASSERT_TRUE(archivo.abrirParaAgregar());
    ASSERT_TRUE(archivo.agregar(c_));
    EXPECT_EQ(leerArchivo("ALUMNO.txt"), dosAlumnos() + bytesDe(c_));
    EXPECT_EQ(codigosEscaneados(archivo),
              (std::vector<std::string>{"12345678A", "87654321B", "11111111C"}));
  }
}

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

TEST_F(Archivos, AppendToAFileOpenedForReadingFailsAndChangesNothing) {
  escribirArchivo("ALUMNO.txt", dosAlumnos());
  store::Archivo<Alumno> archivo;
  ASSERT_TRUE(archivo.abrirParaLeer());
  const store::Resultado resultado = archivo.agregar(c_);
  EXPECT_EQ(resultado.falla, Falla::escritura);
  EXPECT_EQ(resultado.numeroError, EBADF);
  EXPECT_EQ(leerArchivo("ALUMNO.txt"), dosAlumnos());
}

// --- rewriting the student file ---

TEST_F(Archivos, RewriteKeepsTheOtherStudentsInOrderByteForByte) {
  const Alumno a2 = alumno("12345678A", "Otra", 33);  // same code as a_
  struct Caso {
    const char* nombreCaso;
    std::vector<Alumno> antes;
    std::size_t fragmento;
    const char* borrar;
    std::vector<Alumno> despues;
  };
  const Caso casos[] = {
      {"middle of three", {a_, b_, c_}, 0, "87654321B", {a_, c_}},
      {"only student: empty file", {a_}, 0, "12345678A", {}},
      {"twins both go", {a_, b_, a2}, 0, "12345678A", {b_}},
      {"fragment dropped", {a_, b_}, 2, "12345678A", {b_}},
      {"fragment dropped even when nothing matches", {a_, b_}, 58, "00000000X", {a_, b_}},
      {"letter case counts", {a_}, 0, "12345678a", {a_}},
      {"trailing space counts", {a_}, 0, "12345678A ", {a_}},
      {"empty file stays empty", {}, 0, "12345678A", {}},
  };
  for (const Caso& caso : casos) {
    SCOPED_TRACE(caso.nombreCaso);
    std::string antes;
    for (const Alumno& registro : caso.antes)
      antes += bytesDe(registro);
    escribirArchivo("ALUMNO.txt", antes + std::string(caso.fragmento, 'F'));
    std::string esperado;
    for (const Alumno& registro : caso.despues)
      esperado += bytesDe(registro);

    const std::string clave = caso.borrar;
    const store::Resultado resultado = store::eliminarAlumnos(clave);
    EXPECT_TRUE(resultado) << resultado.numeroError;
    EXPECT_EQ(leerArchivo("ALUMNO.txt"), esperado);
    EXPECT_FALSE(existe("TEMPORAL.txt"));
  }
}

TEST_F(Archivos, RewriteOfAMissingStudentFileReportsItAndCreatesNothing) {
  const store::Resultado resultado = store::eliminarAlumnos("00000000X");
  EXPECT_EQ(resultado.falla, Falla::noExiste);
  EXPECT_EQ(resultado.numeroError, ENOENT);
  EXPECT_FALSE(existe("ALUMNO.txt"));
  EXPECT_FALSE(existe("TEMPORAL.txt"));
}

TEST_F(Archivos, RewriteThatCannotCreateTheScratchFileLeavesTheStudentsAlone) {
  escribirArchivo("ALUMNO.txt", dosAlumnos(2));
  ASSERT_EQ(::mkdir("TEMPORAL.txt", 0755), 0);
  const store::Resultado resultado = store::eliminarAlumnos("12345678A");
  EXPECT_EQ(resultado.falla, Falla::noSeCrea);
  EXPECT_EQ(leerArchivo("ALUMNO.txt"), dosAlumnos(2));
  EXPECT_TRUE(fs::is_directory("TEMPORAL.txt"));
  EXPECT_TRUE(fs::is_empty("TEMPORAL.txt"));
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

// --- start-up recovery ---

using store::Recuperacion;

// What stands at TEMPORAL.txt at start-up, and what the recovery does with it.
struct EstadoInicial {
  const char* nombre;
  bool alumnoExiste;  // ALUMNO.txt is there (its content: a_)
  // "archivo": a regular file holding `contenido`; "ninguno"; "carpeta";
  // "enlace" (to a file holding `contenido`); "colgante" (a link to nothing);
  // "duro" (a second name of a file holding `contenido`).
  std::string tipo;
  std::string contenido;
  Recuperacion esperado;
};

TEST_F(Archivos, AScratchFileLaidOutAsStudentsIsPutBackByteForByteAndAnythingElseIsLeft) {
  Alumno latin1 = alumno("12345678A", "MU\xD1OZ", 20);
  (void)store::copiarTexto(latin1.nombre, "Jos\xE9");
  const Alumno mayor = alumno("87654321B", "GARCIA", 99);
  const Alumno deOtroPrograma = alumno("0001", "de la Cruz", -3);
  Alumno codigoLleno = a_;
  std::memcpy(codigoLleno.codigo, "123456789012345", 15);
  Alumno apellidoLleno = a_;
  std::memset(apellidoLleno.apellido, 'x', sizeof apellidoLleno.apellido);
  const std::string texto =
      "Lista de alumnos del curso 2023\nGARCIA Juan 20\nMUNOZ Pedro 21\nRUIZ Ana 19\n";
  const auto R = Recuperacion::recuperado;
  const auto D = Recuperacion::dejado;
  const auto N = Recuperacion::nadaQueHacer;
  const EstadoInicial casos[] = {
      {"whole students", false, "archivo", dosAlumnos(), R},
      {"Latin-1 letters in the names", false, "archivo", bytesDe(latin1) + bytesDe(a_), R},
      {"an age of 99", false, "archivo", bytesDe(a_) + bytesDe(mayor), R},
      {"another program's codes, spaces and ages", false, "archivo", bytesDe(deOtroPrograma), R},
      {"a trailing fragment", false, "archivo", dosAlumnos(3), R},
      {"empty", false, "archivo", "", R},
      {"a fragment alone", false, "archivo", std::string(30, 'F'), D},
      {"plain text", false, "archivo", texto, D},
      {"a record without a zero in its code", false, "archivo", bytesDe(codigoLleno), D},
      {"a surname filling its field, after a student", false, "archivo",
       bytesDe(a_) + bytesDe(apellidoLleno), D},
      {"a directory", false, "carpeta", "", D},
      {"a link to students", false, "enlace", dosAlumnos(), D},
      {"a link to nothing", false, "colgante", "", D},
      {"students with a second name", false, "duro", dosAlumnos(), D},
      {"nothing there", false, "ninguno", "", N},
      {"the student file there too", true, "archivo", dosAlumnos(), N},
  };
  for (const EstadoInicial& caso : casos) {
    SCOPED_TRACE(caso.nombre);
    for (const char* nombre : {store::kArchivoAlumnos, store::kArchivoTemporal, "otro.txt"})
      fs::remove_all(nombre);
    if (caso.alumnoExiste) escribirArchivo(store::kArchivoAlumnos, bytesDe(a_));
    if (caso.tipo == "archivo") {
      escribirArchivo(store::kArchivoTemporal, caso.contenido);
    } else if (caso.tipo == "carpeta") {
      fs::create_directory(store::kArchivoTemporal);
    } else if (caso.tipo == "enlace") {
      escribirArchivo("otro.txt", caso.contenido);
      fs::create_symlink("otro.txt", store::kArchivoTemporal);
    } else if (caso.tipo == "colgante") {
      fs::create_symlink("perdido.txt", store::kArchivoTemporal);
    } else if (caso.tipo == "duro") {
      escribirArchivo("otro.txt", caso.contenido);
      fs::create_hard_link("otro.txt", store::kArchivoTemporal);
    }
    const fs::file_status antes = fs::symlink_status(store::kArchivoTemporal);

    EXPECT_EQ(store::recuperarAlumnos(), caso.esperado);
    if (caso.esperado == Recuperacion::recuperado) {
      EXPECT_FALSE(existe(store::kArchivoTemporal));
      EXPECT_EQ(leerArchivo(store::kArchivoAlumnos), caso.contenido);
      continue;
    }
    // Left: every name as it was, the scratch file's bytes too.
    EXPECT_EQ(existe(store::kArchivoAlumnos), caso.alumnoExiste);
    if (caso.alumnoExiste) {
      EXPECT_EQ(leerArchivo(store::kArchivoAlumnos), bytesDe(a_));
    }
    EXPECT_EQ(fs::symlink_status(store::kArchivoTemporal).type(), antes.type());
    if (caso.tipo != "ninguno" && caso.tipo != "carpeta" && caso.tipo != "colgante") {
      EXPECT_EQ(leerArchivo(store::kArchivoTemporal), caso.contenido);
    }
  }
}

// --- the code compared where it lies ---

TEST(CodigoBuscado, AgreesWithCodigoIgualOnEveryKindOfFieldAndCode) {
  // Fields and codes built from a few characters, so that prefixes, zeros,
  // full fields and near misses all come up many times.
  const char alfabeto[] = {'1', '2', 'A', 'a', '\0'};
  unsigned semilla = 12345;
  auto azar = [&](unsigned limite) {
    semilla = semilla * 1103515245u + 12345u;
    return (semilla >> 16) % limite;
  };
  std::size_t iguales = 0;
  for (int vuelta = 0; vuelta < 200000; ++vuelta) {
    char campo[15];
    const unsigned lleno = azar(16);
    for (unsigned i = 0; i < 15; ++i) {
      campo[i] = i < lleno ? alfabeto[azar(4)] : alfabeto[azar(5)];
    }
    if (lleno < 15) campo[lleno] = '\0';
    std::string codigo(azar(2) == 0 ? std::string(campo, ::strnlen(campo, 15)) : std::string());
    if (codigo.empty() || azar(3) == 0) {
      codigo.clear();
      const unsigned largo = azar(17);
      for (unsigned i = 0; i < largo; ++i)
        codigo += alfabeto[azar(azar(8) == 0 ? 5 : 4)];
    }
    const store::detalle::CodigoBuscado buscado(codigo, sizeof campo);
    const bool esperado = store::codigoIgual(campo, codigo);
    ASSERT_EQ(buscado.en(reinterpret_cast<const unsigned char*>(campo)), esperado)
        << "field '" << std::string(campo, 15) << "' code '" << codigo << "'";
    iguales += esperado;
  }
  EXPECT_GT(iguales, 10000u);  // the two agree on matches, not only on misses
}

TEST_F(Archivos, RewriteOfAFileLargerThanTheBufferRemovesEveryTwinAndKeepsTheRest) {
  std::string antes;
  std::string esperado;
  for (int i = 0; i < 10000; ++i) {
    const bool gemelo = i % 997 == 0 || i == 4443 || i == 4444;
    const Alumno registro = gemelo ? alumno("55555555E", "Gemelo", i % 61)
                                   : alumno(std::to_string(10000000 + i) + "Z", "Otro", i % 61);
    antes += bytesDe(registro);
    if (!gemelo) esperado += bytesDe(registro);
  }
  escribirArchivo("ALUMNO.txt", antes);
  ASSERT_TRUE(store::eliminarAlumnos("55555555E"));
  EXPECT_EQ(leerArchivo("ALUMNO.txt"), esperado);
}

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
