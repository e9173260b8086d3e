// A deletion killed at each of its system calls in turn, as a crash or a
// power cut would stop it: the student file is always either every old
// student or exactly the ones kept, and the next run deletes as usual.
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

}  // namespace
