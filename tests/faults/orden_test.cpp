// The order in which the program hands its records to the disk, read from
// strace's log: a record the clerk has been told about is on the disk, a
// power cut during a deletion leaves a student file that was flushed whole,
// and every change is made under the file's lock.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "comun.hpp"
#include "files.hpp"
#include "traza.hpp"

namespace {

using fallos::Llamada;

// Every call that moves bytes or names towards the disk, and the screen.
const std::vector<std::string> kTrazar = {
    "-e",
    "trace=openat,close,write,pwrite64,fsync,fdatasync,sync_file_range,rename,renameat,"
    "renameat2,ftruncate,unlink,fcntl"};
// Large enough for a whole block of the deletion's copy.
constexpr int kLargoCadenas = 300 * 1024;

bool esSalida(const Llamada& llamada) {
  return llamada.nombre == "write" && llamada.descriptor == 1;
}

// What the program wrote to standard output before call `hasta`.
std::string salidaAntesDe(const std::vector<Llamada>& llamadas, std::size_t hasta) {
  std::string salida;
  for (std::size_t i = 0; i < hasta && i < llamadas.size(); ++i) {
    if (esSalida(llamadas[i])) salida += llamadas[i].datos;
  }
  return salida;
}

std::size_t veces(const std::string& texto, const std::string& buscado) {
  std::size_t n = 0;
  for (std::size_t p = texto.find(buscado); p != std::string::npos; p = texto.find(buscado, p + 1))
    ++n;
  return n;
}

bool esDeDatos(const Llamada& llamada) {
  return llamada.objetivo == "ALUMNO.txt" || llamada.objetivo == "CURSO.txt" ||
         llamada.objetivo == "NOTAALUMNO.txt" || llamada.objetivo == "TEMPORAL.txt";
}

// Every change to a record file (a write, a cut, the scratch file's removal,
// the replacement) is made while the program holds a lock on one. (That no
// lock is held while the clerk types is seen in a terminal: the end-to-end
// tests take the lock themselves at each prompt.)
void expectCambiosBajoCerrojo(const std::vector<Llamada>& llamadas) {
  std::set<int> bloqueados;  // descriptors holding a lock
  int cambios = 0;
  for (const Llamada& l : llamadas) {
    if (l.nombre == "fcntl" && esDeDatos(l) && l.linea.find("F_WRLCK") != std::string::npos &&
        l.resultado == "0") {
      bloqueados.insert(l.descriptor);
    } else if ((l.nombre == "fcntl" && l.linea.find("F_UNLCK") != std::string::npos) ||
               l.nombre == "close") {
      bloqueados.erase(l.descriptor);
    } else if ((l.nombre == "pwrite64" || l.nombre == "ftruncate" || l.nombre == "rename" ||
                l.nombre == "unlink") &&
               esDeDatos(l)) {
      EXPECT_FALSE(bloqueados.empty()) << "changed without the lock: " << l.linea;
      ++cambios;
    }
  }
  EXPECT_GT(cambios, 0);
}

std::string describir(const std::vector<Llamada>& llamadas) {
  std::string texto;
  for (const Llamada& l : llamadas) {
    if (!esSalida(l) && !l.objetivo.empty() && l.objetivo.front() != '/')
      texto += fallos::describir(l) + "\n";
  }
  return texto;
}

struct Alta {
  const char* name;
  std::string archivo;                 // the file appended to
  std::optional<std::string> antes;    // its bytes before; none: no file
  std::string entrada;                 // a whole visit, ended by the input's end
  std::vector<std::string> registros;  // the records appended, in order
  std::string siguiente;               // the next screen's text after each record
};

class DurableAppend : public ::testing::TestWithParam<Alta> {};

void PrintTo(const Alta& alta, std::ostream* os) {
  *os << alta.name;
}

TEST_P(DurableAppend, EachRecordIsOnTheDiskBeforeTheScreenMovesOn) {
  std::string motivo;
  const std::optional<std::string> strace = fallos::straceOSaltar(motivo);
  if (!strace) GTEST_SKIP() << motivo;
  const Alta& c = GetParam();
  harness::ScratchDir dir;
  if (c.antes) dir.write(c.archivo, *c.antes);
  const fallos::Traza traza = fallos::trazar(*strace, dir, c.entrada, kTrazar, kLargoCadenas);
  ASSERT_EQ(traza.script.status, 0) << traza.script.errors;
  const std::vector<Llamada>& llamadas = traza.llamadas;
  SCOPED_TRACE(describir(llamadas));
  expectCambiosBajoCerrojo(llamadas);

  // A file the program makes is a name in the directory: flushed before the
  // first record goes into it.
  std::optional<std::size_t> creado;
  for (std::size_t i = 0; i < llamadas.size(); ++i) {
    if (llamadas[i].nombre == "openat" && llamadas[i].objetivo == c.archivo &&
        llamadas[i].linea.find("O_CREAT") != std::string::npos &&
        llamadas[i].resultado.find("-1") != 0) {
      creado = i;
    }
  }
  EXPECT_EQ(creado.has_value(), !c.antes.has_value());

  const std::size_t tamano = c.registros.front().size();
  const std::size_t frontera = c.antes ? c.antes->size() / tamano * tamano : 0;
  std::size_t i = 0;
  for (std::size_t r = 0; r < c.registros.size(); ++r) {
    SCOPED_TRACE("record " + std::to_string(r + 1));
    while (i < llamadas.size() &&
           !(llamadas[i].nombre == "pwrite64" && llamadas[i].objetivo == c.archivo))
      ++i;
    ASSERT_LT(i, llamadas.size()) << "the record was never written";
    const std::size_t escritura = i;
    EXPECT_EQ(llamadas[escritura].datos, c.registros[r]);
    EXPECT_EQ(llamadas[escritura].desplazamiento, static_cast<std::int64_t>(frontera + r * tamano));
    if (creado && r == 0) {
      bool directorio = false;
      for (std::size_t j = *creado; j < escritura; ++j)
        directorio |= llamadas[j].nombre == "fsync" && llamadas[j].objetivo == ".";
      EXPECT_TRUE(directorio) << "the new file's name was not flushed before its first record";
    }

    // Nothing reaches the screen between the record and its fsync.
    ++i;
    while (i < llamadas.size() &&
           !(llamadas[i].nombre == "fsync" && llamadas[i].objetivo == c.archivo)) {
      EXPECT_FALSE(esSalida(llamadas[i]))
          << "drawn before the record was flushed: " << llamadas[i].linea;
      EXPECT_FALSE(llamadas[i].nombre == "pwrite64") << llamadas[i].linea;
      ++i;
    }
    ASSERT_LT(i, llamadas.size()) << "the record was never flushed";
    const std::size_t sincronizado = i;
    // The next screen comes after the flush, before the next record.
    std::size_t siguienteRegistro = sincronizado + 1;
    while (siguienteRegistro < llamadas.size() && llamadas[siguienteRegistro].nombre != "pwrite64")
      ++siguienteRegistro;
    EXPECT_EQ(veces(salidaAntesDe(llamadas, sincronizado), c.siguiente), r);
    EXPECT_GE(veces(salidaAntesDe(llamadas, siguienteRegistro), c.siguiente), r + 1);
  }
  std::string despues = c.antes ? c.antes->substr(0, frontera) : "";
  for (const std::string& registro : c.registros)
    despues += registro;
  EXPECT_EQ(dir.read(c.archivo), despues);
}

const std::string kJuan = harness::registro({"12345678A", "Perez", "Juan", 20});
const std::string kAna = harness::registro({"87654321B", "Lopez", "Ana", 19});

const Alta kAltas[] = {
    {"TwoStudentsIntoANewFile",
     "ALUMNO.txt",
     std::nullopt,
     "1\n12345678APerez\nJuan\n20\nS87654321BLopez\nAna\n19\nNx",
     {fallos::alumnoTecleado("12345678A", "Perez", "Juan", 20),
      fallos::alumnoTecleado("87654321B", "Lopez", "Ana", 19)},
     fallos::kOtroAlumno},
    {"AStudentOverATrailingFragment",
     "ALUMNO.txt",
     kJuan + kAna + std::string(20, 'F'),
     "1\n11111111CRuiz\nLuis\n33\nNx",
     {fallos::alumnoTecleado("11111111C", "Ruiz", "Luis", 33)},
     fallos::kOtroAlumno},
    {"TwoCoursesIntoANewFile",
     "CURSO.txt",
     std::nullopt,
     "2\nAB123CQuimica\n3\nxSCD456EFisica\n4\nxN",
     {fallos::curso("AB123C", "Quimica", 3), fallos::curso("CD456E", "Fisica", 4)},
     fallos::kCursoRegistrado},
    {"ACourseAfterOthers",
     "CURSO.txt",
     fallos::curso("ZZ999Z", "Arte", 1),
     "2\nAB123CQuimica\n3\nxN",
     {fallos::curso("AB123C", "Quimica", 3)},
     fallos::kCursoRegistrado},
    {"TwoGradeRecordsIntoANewFile",
     "NOTAALUMNO.txt",
     std::nullopt,
     "3\n12345678A\nAB123C\n1\n2\n3\n4\n5\nxS87654321B\nCD456E\n20\n19\n18\n17\n16\nxN",
     {fallos::nota("12345678A", "AB123C", {1, 2, 3, 4, 5}),
      fallos::nota("87654321B", "CD456E", {20, 19, 18, 17, 16})},
     fallos::kOtraNota},
    {"AGradeRecordOverATrailingFragment",
     "NOTAALUMNO.txt",
     fallos::nota("1", "2", {0, 0, 0, 0, 0}) + "xyz",
     "3\nA\nB\n0\n0\n0\n0\n20\nxN",
     {fallos::nota("A", "B", {0, 0, 0, 0, 20})},
     fallos::kOtraNota},
};

INSTANTIATE_TEST_SUITE_P(Faults, DurableAppend, ::testing::ValuesIn(kAltas),
                         [](const auto& caso) { return std::string(caso.param.name); });

struct Borrado {
  const char* name;
  std::string (*generar)();
  std::string codigo;
};

class DurableDeletion : public ::testing::TestWithParam<Borrado> {};

void PrintTo(const Borrado& borrado, std::ostream* os) {
  *os << borrado.name;
}

TEST_P(DurableDeletion, TheNewFileIsFlushedBeforeItsRenameAndTheRenameBeforeTheClerkIsTold) {
  std::string motivo;
  const std::optional<std::string> strace = fallos::straceOSaltar(motivo);
  if (!strace) GTEST_SKIP() << motivo;
  const Borrado& c = GetParam();
  const std::string viejo = c.generar();
  const std::string nuevo = fallos::sinCodigo(viejo, c.codigo);
  harness::ScratchDir dir;
  dir.write("ALUMNO.txt", viejo);
  const fallos::Traza traza =
      fallos::trazar(*strace, dir, "5\n" + c.codigo + "\nSabc", kTrazar, kLargoCadenas);
  ASSERT_EQ(traza.script.status, 0) << traza.script.errors;
  const std::vector<Llamada>& llamadas = traza.llamadas;
  SCOPED_TRACE(describir(llamadas));
  expectCambiosBajoCerrojo(llamadas);

  // The kept students, put together from the writes to TEMPORAL.txt.
  std::string escrito;
  std::optional<std::size_t> ultimaEscritura, sincronizado, renombrado, directorio;
  for (std::size_t i = 0; i < llamadas.size(); ++i) {
    const Llamada& l = llamadas[i];
    EXPECT_FALSE(l.objetivo == "ALUMNO.txt" &&
                 (l.nombre == "pwrite64" || l.nombre == "write" || l.nombre == "ftruncate" ||
                  l.linea.find("O_TRUNC") != std::string::npos))
        << "the old student file is changed in place: " << l.linea;
    if (l.objetivo == "TEMPORAL.txt" && l.nombre == "pwrite64") {
      EXPECT_FALSE(sincronizado) << "written after its fsync: " << l.linea;
      const auto desde = static_cast<std::size_t>(l.desplazamiento);
      if (escrito.size() < desde + l.datos.size()) escrito.resize(desde + l.datos.size());
      escrito.replace(desde, l.datos.size(), l.datos);
      ultimaEscritura = i;
    }
    if (l.objetivo == "TEMPORAL.txt" && l.nombre == "fsync" && !sincronizado) sincronizado = i;
    if (l.nombre == "rename" && l.objetivo == "TEMPORAL.txt") renombrado = i;
    if (renombrado && !directorio && l.nombre == "fsync" && l.objetivo == ".") directorio = i;
  }
  EXPECT_EQ(escrito, nuevo);
  ASSERT_TRUE(ultimaEscritura && sincronizado && renombrado && directorio)
      << "write " << ultimaEscritura.has_value() << ", fsync " << sincronizado.has_value()
      << ", rename " << renombrado.has_value() << ", directory " << directorio.has_value();
  EXPECT_LT(*ultimaEscritura, *sincronizado);
  EXPECT_LT(*sincronizado, *renombrado);
  EXPECT_LT(*renombrado, *directorio);
  EXPECT_FALSE(fallos::muestra(salidaAntesDe(llamadas, *directorio), fallos::kEliminado));
  EXPECT_TRUE(fallos::muestra(salidaAntesDe(llamadas, llamadas.size()), fallos::kEliminado));
  EXPECT_EQ(dir.read("ALUMNO.txt"), nuevo);
}

const Borrado kBorrados[] = {
    {"TheMiddleOneOfThreeStudents",
     [] {
       return harness::registros({{"12345678A", "Perez", "Juan", 20},
                                  {"87654321B", "Lopez", "Ana", 19},
                                  {"11111111C", "Ruiz", "Luis", 33}});
     },
     "87654321B"},
    {"TwinsFarApartIn75000Students",
     [] {
       std::string alumnos = harness::muchosAlumnos(75'000);
       alumnos.replace(69'999u * 59, 9, "00000002A");
       return alumnos;
     },
     "00000002A"},
};

INSTANTIATE_TEST_SUITE_P(Faults, DurableDeletion, ::testing::ValuesIn(kBorrados),
                         [](const auto& caso) { return std::string(caso.param.name); });

}  // namespace
