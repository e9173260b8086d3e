// The record files as every platform keeps them: scanning, appending after a
// fragment, rewriting through TEMPORAL.txt and the start-up recovery. Each
// test runs in a directory of its own.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "comun.hpp"
#include "modelo.hpp"
#include "store/archivos.hpp"
#include "store/sistema.hpp"

using namespace store::prueba;

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
    store::Resultado estado;
    EXPECT_EQ(bytesEscaneados(archivo, &estado), bytesDe(a_) + bytesDe(b_));
    EXPECT_TRUE(estado);
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
  ASSERT_GT(bytes.size(), 2 * store::LectorBloques::kCapacidad);

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

TEST_F(Archivos, AppendToAFileOpenedForReadingFailsAndChangesNothing) {
  escribirArchivo("ALUMNO.txt", dosAlumnos());
  store::Archivo<Alumno> archivo;
  ASSERT_TRUE(archivo.abrirParaLeer());
  const store::Resultado resultado = archivo.agregar(c_);
  EXPECT_EQ(resultado.falla, Falla::escritura);
  EXPECT_NE(resultado.numeroError, 0);
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
  EXPECT_NE(resultado.numeroError, 0);
  EXPECT_FALSE(existe("ALUMNO.txt"));
  EXPECT_FALSE(existe("TEMPORAL.txt"));
}

TEST_F(Archivos, RewriteThatCannotCreateTheScratchFileLeavesTheStudentsAlone) {
  escribirArchivo("ALUMNO.txt", dosAlumnos(2));
  ASSERT_TRUE(fs::create_directory("TEMPORAL.txt"));
  const store::Resultado resultado = store::eliminarAlumnos("12345678A");
  EXPECT_EQ(resultado.falla, Falla::noSeCrea);
  EXPECT_EQ(leerArchivo("ALUMNO.txt"), dosAlumnos(2));
  EXPECT_TRUE(fs::is_directory("TEMPORAL.txt"));
  EXPECT_TRUE(fs::is_empty("TEMPORAL.txt"));
}

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
    } else {
      // Links: some systems (and some Windows accounts) make none, and the
      // case has nothing to try there.
      std::error_code error;
      if (caso.tipo == "enlace") {
        escribirArchivo("otro.txt", caso.contenido);
        fs::create_symlink("otro.txt", store::kArchivoTemporal, error);
      } else if (caso.tipo == "colgante") {
        fs::create_symlink("perdido.txt", store::kArchivoTemporal, error);
      } else if (caso.tipo == "duro") {
        escribirArchivo("otro.txt", caso.contenido);
        fs::create_hard_link("otro.txt", store::kArchivoTemporal, error);
      }
      if (error) continue;
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
    std::string codigo(azar(2) == 0
                           ? std::string(campo, std::strlen(std::string(campo, 15).c_str()))
                           : std::string());
    if (codigo.empty() || azar(3) == 0) {
      codigo.clear();
      const unsigned largo = azar(17);
      for (unsigned i = 0; i < largo; ++i)
        codigo += alfabeto[azar(azar(8) == 0 ? 5 : 4)];
    }
    const store::CodigoBuscado buscado(codigo, sizeof campo);
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

// A copy that starts while another is recovering, or makes the first
// student file, must never have its new ALUMNO.txt replaced by the
// recovered one.
TEST_F(Archivos, ScratchFileNeverTakesTheNameOfAStudentFileMadeMeanwhile) {
  escribirArchivo(store::kArchivoTemporal, dosAlumnos());
  escribirArchivo(store::kArchivoAlumnos, bytesDe(b_));
  const store::Resultado ocupado =
      store::sistema::renombrarSinPisar(store::kArchivoTemporal, store::kArchivoAlumnos);
  EXPECT_EQ(ocupado.falla, store::Falla::renombrar);
  EXPECT_EQ(leerArchivo(store::kArchivoAlumnos), bytesDe(b_));
  EXPECT_EQ(leerArchivo(store::kArchivoTemporal), dosAlumnos());

  fs::remove(store::kArchivoAlumnos);
  ASSERT_TRUE(store::sistema::renombrarSinPisar(store::kArchivoTemporal, store::kArchivoAlumnos));
  EXPECT_EQ(leerArchivo(store::kArchivoAlumnos), dosAlumnos());
  EXPECT_FALSE(existe(store::kArchivoTemporal));
}

// The listing's reading holds the file open only while it reads a block: the
// file can be changed between two blocks, even where an open file cannot be
// replaced, and a reading that needs the next block says when the file it
// began on is not there any more.
TEST_F(Archivos, AReadingGoesOnAfterAppendsAndStopsAtAFileReplacedBetweenTwoBlocks) {
  std::string viejo;
  for (int i = 0; i < 6000; ++i)
    viejo += bytesDe(alumno(std::to_string(10000000 + i) + "Z", "Otro", i % 61));
  const std::string otro = dosAlumnos();
  struct Caso {
    const char* nombre;
    void (*cambiar)(const std::string& otro);
    Falla falla;
    std::size_t leidos;  // bytes delivered in all
  };
  const Caso casos[] = {
      {"nothing changes", [](const std::string&) {}, Falla::ninguna, 6000 * 59},
      {"a student appended",
       [](const std::string&) {
         store::Archivo<Alumno> archivo;
         ASSERT_TRUE(archivo.abrirParaAgregar());
         ASSERT_TRUE(archivo.agregar(alumno("99999999Z", "X", 1)));
       },
       Falla::ninguna, 6001 * 59},
      {"replaced by another file",
       [](const std::string& nuevo) {
         escribirArchivo("nuevo.txt", nuevo);
         fs::rename("nuevo.txt", "ALUMNO.txt");
       },
       Falla::reemplazado, 0},
      {"removed", [](const std::string&) { fs::remove("ALUMNO.txt"); }, Falla::reemplazado, 0},
  };
  for (const Caso& caso : casos) {
    SCOPED_TRACE(caso.nombre);
    escribirArchivo("ALUMNO.txt", viejo);
    store::Lectura<Alumno> lectura;
    ASSERT_TRUE(lectura.abrir());
    std::string leido;
    Alumno registro;
    for (int i = 0; i < 100 && lectura.siguiente(registro); ++i)
      leido += bytesDe(registro);
    caso.cambiar(otro);
    while (lectura.siguiente(registro))
      leido += bytesDe(registro);
    EXPECT_EQ(lectura.estado().falla, caso.falla);
    if (caso.falla == Falla::ninguna) {
      EXPECT_EQ(leido.size(), caso.leidos);
      EXPECT_EQ(leido.substr(0, viejo.size()), viejo);
    } else {
      // What one block held, all from the file first read, and no more.
      EXPECT_GT(leido.size(), 100u * 59);
      EXPECT_LT(leido.size(), viejo.size());
      EXPECT_EQ(leido, viejo.substr(0, leido.size()));
    }
  }
  store::Lectura<Alumno> ninguna;
  EXPECT_EQ(ninguna.abrir().falla, Falla::noExiste);
}
