// A deletion or an import killed at each of its system calls in turn, as a
// crash or a power cut would stop it: the student file is always either
// every old student or exactly the ones kept, a file imported into holds
// its records or those and every row, and the next run works as usual.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "comun.hpp"
#include "files.hpp"
#include "terminal.hpp"
#include "traza.hpp"

namespace {

using fallos::Llamada;

const std::string kAlumnos = "ALUMNO.txt";
const std::string kTemporal = "TEMPORAL.txt";

bool esDeDatos(const Llamada& llamada) {
  return llamada.objetivo == "ALUMNO.txt" || llamada.objetivo == "CURSO.txt" ||
         llamada.objetivo == "NOTAALUMNO.txt" || llamada.objetivo == kTemporal;
}

bool esSalida(const Llamada& llamada) {
  return llamada.nombre == "write" && llamada.descriptor == 1;
}

// From the program's first look at any of its files to its exit. Nothing
// before that (loading libraries, setting up sanitizers) can touch a record.
std::vector<Llamada> desdeElPrimerArchivo(const std::vector<Llamada>& llamadas) {
  std::size_t i = 0;
  while (i < llamadas.size() && !esDeDatos(llamadas[i]))
    ++i;
  return {llamadas.begin() + static_cast<std::ptrdiff_t>(i), llamadas.end()};
}

// The replacement alone: from the first call after the confirmation's echo
// to the first thing drawn after the rename.
std::vector<Llamada> delReemplazo(const std::vector<Llamada>& llamadas) {
  std::size_t temporal = 0;
  while (temporal < llamadas.size() && llamadas[temporal].objetivo != kTemporal)
    ++temporal;
  std::size_t inicio = temporal;
  while (inicio > 0 && !esSalida(llamadas[inicio - 1]))
    --inicio;
  std::size_t fin = temporal;
  while (fin < llamadas.size() && llamadas[fin].nombre != "rename")
    ++fin;
  while (fin < llamadas.size() && !esSalida(llamadas[fin]))
    ++fin;
  return {llamadas.begin() + static_cast<std::ptrdiff_t>(inicio),
          llamadas.begin() + static_cast<std::ptrdiff_t>(std::min(fin + 1, llamadas.size()))};
}

struct Borrado {
  const char* name;
  std::string (*generar)();  // ALUMNO.txt before
  std::string codigo;        // deleted by the run that is killed
  std::string otro;          // deleted by the next run, or shown on its first page
  bool siguienteBorra;       // the next run deletes; otherwise it lists
  std::vector<Llamada> (*puntos)(const std::vector<Llamada>&);
};

void PrintTo(const Borrado& b, std::ostream* os) {
  *os << b.name;
}

std::string conGemelo(std::string alumnos, int posicion, const std::string& codigo) {
  alumnos.replace(static_cast<std::size_t>(posicion - 1) * 59, 9, codigo);
  return alumnos;
}

// Each case is its own test, so that CTest runs them side by side.
const Borrado kBorrados[] = {
    {"ThreeStudentsKilledAnywhereInTheRun",
     [] {
       return harness::registros({{"12345678A", "Perez", "Juan", 20},
                                  {"87654321B", "Lopez", "Ana", 19},
                                  {"11111111C", "Ruiz", "Luis", 33}});
     },
     "87654321B", "11111111C", true, &desdeElPrimerArchivo},
    // 4.4 MB: read and written a piece at a time, handed to the disk early
    // (sync_file_range), the two students that go in different pieces.
    {"TwinsFarApartIn75000StudentsKilledAnywhereInTheReplacement",
     [] { return conGemelo(harness::muchosAlumnos(75'000), 70'000, "00000002A"); }, "00000002A",
     "00000005A", false, &delReemplazo},
};

class DeletionKilled : public ::testing::TestWithParam<Borrado> {};

TEST_P(DeletionKilled, AtEverySystemCallTheStudentFileIsWhollyOldOrNewAndTheNextDeletionWorks) {
  std::string motivo;
  const std::optional<std::string> strace = fallos::straceOSaltar(motivo);
  if (!strace) GTEST_SKIP() << motivo;

  const Borrado& c = GetParam();
  const std::string viejo = c.generar();
  const std::string nuevo = fallos::sinCodigo(viejo, c.codigo);
  const std::string entrada = "5\n" + c.codigo + "\nSabc0\n";
  harness::ScratchDir dir;

  dir.write(kAlumnos, viejo);
  const fallos::Traza referencia = fallos::trazar(*strace, dir, entrada, {});
  ASSERT_EQ(referencia.script.status, 0) << referencia.script.errors;
  ASSERT_TRUE(fallos::muestra(referencia.script.output, fallos::kEliminado));
  ASSERT_EQ(dir.read(kAlumnos), nuevo);
  const std::vector<Llamada> puntos = c.puntos(referencia.llamadas);
  ASSERT_GT(puntos.size(), 10u);

  int viejos = 0;
  int nuevos = 0;
  for (const Llamada& punto : puntos) {
    SCOPED_TRACE("killed at " + fallos::describir(punto));
    fallos::vaciar(dir);
    dir.write(kAlumnos, viejo);
    const fallos::Traza muerte =
        fallos::trazar(*strace, dir, entrada, fallos::reglasPara(punto, "KILL"));
    ASSERT_EQ(muerte.script.status, harness::killedBy(SIGKILL))
        << "the run never reached that call: " << muerte.script.errors;
    ASSERT_TRUE(muerte.muerta && !muerte.llamadas.empty());
    EXPECT_EQ(muerte.llamadas.back().objetivo, punto.objetivo) << muerte.llamadas.back().linea;

    ASSERT_TRUE(dir.exists(kAlumnos)) << "no student file left";
    const std::string ahora = dir.read(kAlumnos);
    ASSERT_TRUE(ahora == viejo || ahora == nuevo)
        << "ALUMNO.txt has " << ahora.size() << " bytes; old " << viejo.size() << ", new "
        << nuevo.size();
    viejos += ahora == viejo;
    nuevos += ahora == nuevo;
    for (const std::string& nombre : dir.names()) {
      EXPECT_TRUE(nombre == kAlumnos || nombre == kTemporal) << nombre;
    }

    if (c.siguienteBorra) {
      // Whatever was left behind, a stale TEMPORAL.txt included, the clerk
      // deletes the next student as if nothing had happened.
      const harness::Script siguiente =
          harness::runScript(dir.path(), "5\n" + c.otro + "\nSabc0\n");
      EXPECT_EQ(siguiente.status, 0);
      EXPECT_EQ(siguiente.errors, "");
      EXPECT_TRUE(fallos::muestra(siguiente.output, fallos::kEliminado));
      EXPECT_EQ(dir.read(kAlumnos), fallos::sinCodigo(ahora, c.otro));
      EXPECT_EQ(dir.names(), std::vector<std::string>{kAlumnos});
    } else {
      // The listing's first page shows the file's first students.
      const std::vector<std::string> antes = dir.names();
      const harness::Script siguiente = harness::runScript(dir.path(), "4\n");
      EXPECT_EQ(siguiente.status, 0);
      EXPECT_EQ(siguiente.errors, "");
      EXPECT_TRUE(fallos::muestra(siguiente.output, c.otro)) << siguiente.output;
      EXPECT_EQ(dir.read(kAlumnos), ahora);
      EXPECT_EQ(dir.names(), antes);
    }
  }
  std::printf("%s: %zu kill points, %d left the old file, %d the new\n", c.name, puntos.size(),
              viejos, nuevos);
  EXPECT_GT(viejos, 0);
  EXPECT_GT(nuevos, 0);
}

INSTANTIATE_TEST_SUITE_P(Faults, DeletionKilled, ::testing::ValuesIn(kBorrados),
                         [](const auto& caso) { return std::string(caso.param.name); });

// ---------------------------------------------------------------------------
// An import killed at each of its system calls: the file holds either its
// records as they were or those followed by every row, never part of them;
// a scratch file left behind is named by verificar and goes with the next
// import.

struct Importacion {
  const char* name;
  std::string tema;
  std::string archivo;
  std::string temporal;
  std::string antes;  // the file's bytes before
  std::string csv;
  std::string filas;  // the rows as stored
  std::string aviso;  // verificar's line for the scratch file
};

void PrintTo(const Importacion& i, std::ostream* os) {
  *os << i.name;
}

const Importacion kImportaciones[] = {
    {"TwoStudentsAfterThreeAndAFragment", "alumnos", kAlumnos, kTemporal,
     harness::registros({{"12345678A", "Perez", "Juan", 20},
                         {"87654321B", "Lopez", "Ana", 19},
                         {"11111111C", "Ruiz", "Luis", 33}}) +
         "frag",
     "codigo,apellido,nombre,edad\n22222222D,Diaz,Eva,19\n33333333E,Soto,Leo,21\n",
     fallos::alumnoTecleado("22222222D", "Diaz", "Eva", 19) +
         fallos::alumnoTecleado("33333333E", "Soto", "Leo", 21),
     "aviso: TEMPORAL.txt: quedo de una eliminacion que no termino\n"},
    {"TwoCoursesAfterOne", "cursos", "CURSO.txt", "CURSO.txt.nuevo",
     fallos::curso("MA101A", "Matematica", 4),
     "codigo,nombre,creditos\nFI201B,Fisica,3\nQU301C,Quimica,2\n",
     fallos::curso("FI201B", "Fisica", 3) + fallos::curso("QU301C", "Quimica", 2),
     "aviso: CURSO.txt.nuevo: quedo de una importacion que no termino\n"},
};

harness::Script datos(const harness::ScratchDir& dir, std::vector<std::string> palabras) {
  harness::Options opciones;
  opciones.program = ALUMNOS_DATOS_BINARY;
  opciones.args = std::move(palabras);
  return harness::runScript(dir.path(), "", opciones);
}

class ImportKilled : public ::testing::TestWithParam<Importacion> {};

TEST_P(ImportKilled, AtEverySystemCallTheFileHoldsItsRecordsOrThemAndEveryRow) {
  std::string motivo;
  const std::optional<std::string> strace = fallos::straceOSaltar(motivo);
  if (!strace) GTEST_SKIP() << motivo;

  const Importacion& c = GetParam();
  const std::size_t tamano = c.tema == "alumnos" ? 59 : 50;
  const std::string nuevo = c.antes.substr(0, c.antes.size() / tamano * tamano) + c.filas;
  const std::vector<std::string> importar = {"importar", c.tema, "filas.csv"};
  std::vector<std::string> programa = {ALUMNOS_DATOS_BINARY};
  programa.insert(programa.end(), importar.begin(), importar.end());
  harness::ScratchDir dir;
  auto preparar = [&] {
    fallos::vaciar(dir);
    dir.write(c.archivo, c.antes);
    dir.write("filas.csv", c.csv);
  };

  preparar();
  const fallos::Traza referencia = fallos::trazar(*strace, dir, "", {}, 64, programa);
  ASSERT_EQ(referencia.script.status, 0) << referencia.script.errors;
  ASSERT_EQ(dir.read(c.archivo), nuevo);
  const std::vector<Llamada> puntos = desdeElPrimerArchivo(referencia.llamadas);
  ASSERT_GT(puntos.size(), 10u);

  int viejos = 0;
  int nuevos = 0;
  for (const Llamada& punto : puntos) {
    SCOPED_TRACE("killed at " + fallos::describir(punto));
    preparar();
    const fallos::Traza muerte =
        fallos::trazar(*strace, dir, "", fallos::reglasPara(punto, "KILL"), 64, programa);
    ASSERT_EQ(muerte.script.status, harness::killedBy(SIGKILL))
        << "the run never reached that call: " << muerte.script.errors;
    const std::string ahora = dir.read(c.archivo);
    ASSERT_TRUE(ahora == c.antes || ahora == nuevo)
        << c.archivo << " has " << ahora.size() << " bytes; old " << c.antes.size() << ", new "
        << nuevo.size();
    viejos += ahora == c.antes;
    nuevos += ahora == nuevo;
    for (const std::string& nombre : dir.names()) {
      EXPECT_TRUE(nombre == c.archivo || nombre == c.temporal || nombre == "filas.csv") << nombre;
    }
    if (dir.exists(c.temporal)) {
      EXPECT_NE(datos(dir, {"verificar"}).output.find(c.aviso), std::string::npos);
    }
    if (ahora == c.antes) {
      const harness::Script otra = datos(dir, importar);
      EXPECT_EQ(otra.status, 0) << otra.output << otra.errors;
      EXPECT_EQ(dir.read(c.archivo), nuevo);
      EXPECT_EQ(dir.names(), (std::vector<std::string>{c.archivo, "filas.csv"}));
    }
  }
  std::printf("%s: %zu kill points, %d left the old file, %d the new\n", c.name, puntos.size(),
              viejos, nuevos);
  EXPECT_GT(viejos, 0);
  EXPECT_GT(nuevos, 0);
}

INSTANTIATE_TEST_SUITE_P(Faults, ImportKilled, ::testing::ValuesIn(kImportaciones),
                         [](const auto& caso) { return std::string(caso.param.name); });

}  // namespace
