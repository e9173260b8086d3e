// A full disk, a failing disk, a file grown past its limit: each system call
// that an append or a deletion makes on the program's files is failed in turn
// with ENOSPC, EIO and EFBIG. The files keep whole records, the clerk is told
// exactly when something was not stored, and the program goes on.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "comun.hpp"
#include "files.hpp"
#include "traza.hpp"

namespace {

using fallos::Llamada;

using Archivos = std::map<std::string, std::string>;

const char* const kErrores[] = {"ENOSPC", "EIO", "EFBIG"};

// What the clerk must see when one call fails.
enum class Desenlace {
  kSigue,      // nothing: the program recovers or the failure does not matter
  kNoSeAbre,   // the screen's file cannot be opened or read: nothing is asked or stored
  kNoSeGraba,  // the record is not stored (the student is not deleted)
};

const char* nombre(Desenlace d) {
  switch (d) {
    case Desenlace::kSigue:
      return "stored as usual";
    case Desenlace::kNoSeAbre:
      return "cannot open";
    case Desenlace::kNoSeGraba:
      return "not stored";
  }
  return "?";
}

// One call an operation makes on its files, in the order it makes them.
struct Paso {
  const char* llamada;
  const char* objetivo;  // "." is the directory
  Desenlace desenlace;
};

struct Operacion {
  const char* name;
  std::string archivo;  // the file the operation changes
  Archivos antes;       // every file in the directory before
  std::string entrada;
  std::string despues;    // `archivo` after success
  std::string exito;      // shown only on success
  std::string noSeAbre;   // shown when the file cannot be opened or read
  std::string noSeGraba;  // shown when the record is not stored
  std::vector<Paso> pasos;
};

void PrintTo(const Operacion& o, std::ostream* os) {
  *os << o.name;
}

Archivos instantanea(const harness::ScratchDir& dir) {
  Archivos archivos;
  for (const std::string& nombreArchivo : dir.names())
    archivos[nombreArchivo] = dir.read(nombreArchivo);
  return archivos;
}

void preparar(const harness::ScratchDir& dir, const Archivos& archivos) {
  fallos::vaciar(dir);
  for (const auto& [nombreArchivo, bytes] : archivos)
    dir.write(nombreArchivo, bytes);
}

bool esDeLosArchivos(const Llamada& llamada) {
  return llamada.objetivo == "ALUMNO.txt" || llamada.objetivo == "CURSO.txt" ||
         llamada.objetivo == "NOTAALUMNO.txt" || llamada.objetivo == "TEMPORAL.txt" ||
         llamada.objetivo == ".";
}

std::string listar(const std::vector<Llamada>& llamadas) {
  std::string texto;
  for (const Llamada& l : llamadas)
    texto += "  {\"" + l.nombre + "\", \"" + l.objetivo + "\", ...},\n";
  return texto;
}

// The directory after an operation that ended as `desenlace`.
void expectArchivos(const Operacion& o, Desenlace desenlace, const Archivos& ahora) {
  Archivos esperados = o.antes;
  if (desenlace == Desenlace::kSigue) {
    esperados[o.archivo] = o.despues;
  } else if (!o.antes.contains(o.archivo) && ahora.contains(o.archivo)) {
    // A file the screen made for the record may stay behind, empty.
    EXPECT_EQ(ahora.at(o.archivo), "") << o.archivo << " was made and not left empty";
    esperados[o.archivo] = "";
  }
  EXPECT_EQ(ahora, esperados);
}

void expectPantalla(const Operacion& o, Desenlace desenlace, const harness::Script& s) {
  EXPECT_EQ(s.status, 0);
  EXPECT_EQ(s.errors, "");
  EXPECT_EQ(fallos::muestra(s.output, o.exito), desenlace == Desenlace::kSigue)
      << "success shown: " << o.exito;
  EXPECT_EQ(fallos::muestra(s.output, o.noSeAbre), desenlace == Desenlace::kNoSeAbre)
      << "shown: " << o.noSeAbre;
  EXPECT_EQ(fallos::muestra(s.output, o.noSeGraba), desenlace == Desenlace::kNoSeGraba)
      << "shown: " << o.noSeGraba;
}

class FailingDisk : public ::testing::TestWithParam<Operacion> {};

TEST_P(FailingDisk, EveryCallOnTheFilesFailedInTurnLeavesWholeRecordsAndTheClerkIsToldTheTruth) {
  std::string motivo;
  const std::optional<std::string> strace = fallos::straceOSaltar(motivo);
  if (!strace) GTEST_SKIP() << motivo;
  const Operacion& o = GetParam();
  harness::ScratchDir dir;

  // The calls on the files, as the program makes them when nothing fails.
  preparar(dir, o.antes);
  const fallos::Traza referencia = fallos::trazar(*strace, dir, o.entrada, {});
  expectPantalla(o, Desenlace::kSigue, referencia.script);
  expectArchivos(o, Desenlace::kSigue, instantanea(dir));
  std::vector<Llamada> llamadas;
  for (const Llamada& l : referencia.llamadas) {
    if (esDeLosArchivos(l)) llamadas.push_back(l);
  }
  bool iguales = llamadas.size() == o.pasos.size();
  for (std::size_t i = 0; iguales && i < llamadas.size(); ++i) {
    iguales =
        llamadas[i].nombre == o.pasos[i].llamada && llamadas[i].objetivo == o.pasos[i].objetivo;
  }
  ASSERT_TRUE(iguales) << "the program now makes these calls on its files; say what each "
                          "failure must show:\n"
                       << listar(llamadas);

  int corridas = 0;
  for (std::size_t i = 0; i < llamadas.size(); ++i) {
    const Llamada& llamada = llamadas[i];
    for (const char* error : kErrores) {
      SCOPED_TRACE(fallos::describir(llamada) + " fails with " + error + ": " +
                   nombre(o.pasos[i].desenlace));
      preparar(dir, o.antes);
      const fallos::Traza traza =
          fallos::trazar(*strace, dir, o.entrada, fallos::reglasPara(llamada, error));
      int inyectadas = 0;
      for (const Llamada& l : traza.llamadas) {
        if (!l.inyectada) continue;
        ++inyectadas;
        EXPECT_EQ(l.objetivo, llamada.objetivo) << l.linea;
        EXPECT_NE(l.resultado.find(error), std::string::npos) << l.linea;
      }
      EXPECT_EQ(inyectadas, 1);
      expectPantalla(o, o.pasos[i].desenlace, traza.script);
      expectArchivos(o, o.pasos[i].desenlace, instantanea(dir));
      ++corridas;
    }
  }
  std::printf("%s: %zu calls x %zu errors = %d failed runs\n", o.name, llamadas.size(),
              std::size(kErrores), corridas);
}

using D = Desenlace;

const std::string kJuan = harness::registro({"12345678A", "Perez", "Juan", 20});
const std::string kAna = harness::registro({"87654321B", "Lopez", "Ana", 19});
const std::string kLuis = harness::registro({"11111111C", "Ruiz", "Luis", 33});
const std::string kLuisTecleado = fallos::alumnoTecleado("11111111C", "Ruiz", "Luis", 33);
const std::string kFragmento(20, 'F');
const std::string kArte = fallos::curso("ZZ999Z", "Arte", 1);
const std::string kQuimica = fallos::curso("AB123C", "Quimica", 4);
const std::string kNotas = fallos::nota("12345678A", "AB123C", {12, 13, 14, 15, 16});
const std::string kOtrasNotas = fallos::nota("87654321B", "ZZ999Z", {20, 0, 10, 5, 15});

// The input is chosen so that what is left of it after a failure (the
// screen returns to the menu) opens no screen that stores anything: no line
// of it is 1, 2, 3 or 5 on its own.
//
// At start-up the program looks for a deletion cut off before its rename
// (ALUMNO.txt missing, TEMPORAL.txt there), and again before it makes a
// student file: failing that look changes nothing. The student screen opens
// its file a second time when the first open fails, so a single failure
// there goes unnoticed. A screen opens its file for each lookup and append.
const Operacion kOperaciones[] = {
    {"TheFirstStudentEver",
     "ALUMNO.txt",
     {},
     "1\n11111111CRuiz\nLuis\n33\nNx",
     kLuisTecleado,
     fallos::kOtroAlumno,
     fallos::noSeAbre("ALUMNO.txt"),
     fallos::noSeGraba("ALUMNO.txt"),
     {
         {"newfstatat", "ALUMNO.txt", D::kSigue},
         {"openat", "TEMPORAL.txt", D::kSigue},
         {"newfstatat", "ALUMNO.txt", D::kSigue},  // made only once TEMPORAL.txt is looked at
         {"openat", "TEMPORAL.txt", D::kSigue},
         {"openat", "ALUMNO.txt", D::kSigue},
         {"openat", "ALUMNO.txt", D::kSigue},
         {"openat", ".", D::kSigue},
         {"fsync", ".", D::kSigue},  // the file stays, and the second open finds it
         {"close", ".", D::kSigue},
         {"close", "ALUMNO.txt", D::kSigue},      // nothing held while the clerk types
         {"openat", "ALUMNO.txt", D::kNoSeAbre},  // the code looked up
         {"newfstatat", "ALUMNO.txt", D::kNoSeAbre},
         {"pread64", "ALUMNO.txt", D::kNoSeAbre},
         {"close", "ALUMNO.txt", D::kSigue},
         {"newfstatat", "ALUMNO.txt", D::kSigue},
         {"openat", "ALUMNO.txt", D::kNoSeGraba},
         {"newfstatat", "ALUMNO.txt", D::kNoSeGraba},
         {"fcntl", "ALUMNO.txt", D::kNoSeGraba},  // the lock
         {"newfstatat", "ALUMNO.txt", D::kNoSeGraba},
         {"newfstatat", "ALUMNO.txt", D::kNoSeGraba},
         {"pread64", "ALUMNO.txt", D::kNoSeGraba},  // the code looked up again
         {"newfstatat", "ALUMNO.txt", D::kNoSeGraba},
         {"pwrite64", "ALUMNO.txt", D::kNoSeGraba},
         {"fsync", "ALUMNO.txt", D::kNoSeGraba},
         // A lock the system will not give back is given back by closing the file.
         {"fcntl", "ALUMNO.txt", D::kSigue},
         {"close", "ALUMNO.txt", D::kSigue},
     }},
    {"AStudentAfterTwoAndAFragment",
     "ALUMNO.txt",
     {{"ALUMNO.txt", kJuan + kAna + kFragmento}, {"CURSO.txt", kArte}},
     "1\n11111111CRuiz\nLuis\n33\nNx",
     kJuan + kAna + kLuisTecleado,
     fallos::kOtroAlumno,
     fallos::noSeAbre("ALUMNO.txt"),
     fallos::noSeGraba("ALUMNO.txt"),
     {
         {"newfstatat", "ALUMNO.txt", D::kSigue},
         {"newfstatat", "ALUMNO.txt", D::kSigue},
         {"openat", "ALUMNO.txt", D::kSigue},
         {"newfstatat", "ALUMNO.txt", D::kSigue},
         {"close", "ALUMNO.txt", D::kSigue},
         {"openat", "ALUMNO.txt", D::kNoSeAbre},
         {"newfstatat", "ALUMNO.txt", D::kNoSeAbre},
         {"pread64", "ALUMNO.txt", D::kNoSeAbre},
         {"pread64", "ALUMNO.txt", D::kNoSeAbre},
         {"close", "ALUMNO.txt", D::kSigue},
         {"newfstatat", "ALUMNO.txt", D::kSigue},
         {"openat", "ALUMNO.txt", D::kNoSeGraba},
         {"newfstatat", "ALUMNO.txt", D::kNoSeGraba},
         {"fcntl", "ALUMNO.txt", D::kNoSeGraba},
         {"newfstatat", "ALUMNO.txt", D::kNoSeGraba},
         {"newfstatat", "ALUMNO.txt", D::kNoSeGraba},
         {"pread64", "ALUMNO.txt", D::kNoSeGraba},
         {"pread64", "ALUMNO.txt", D::kNoSeGraba},
         {"newfstatat", "ALUMNO.txt", D::kNoSeGraba},
         {"pread64", "ALUMNO.txt", D::kNoSeGraba},  // the fragment, kept to put back
         {"pwrite64", "ALUMNO.txt", D::kNoSeGraba},
         {"fsync", "ALUMNO.txt", D::kNoSeGraba},
         {"fcntl", "ALUMNO.txt", D::kSigue},
         {"close", "ALUMNO.txt", D::kSigue},
     }},
    {"TheFirstCourseEver",
     "CURSO.txt",
     {{"ALUMNO.txt", kJuan}},
     "2\nAB123CQuimica\n4\nxN",
     kQuimica,
     fallos::kCursoRegistrado,
     fallos::noSeAbre("CURSO.txt"),
     fallos::noSeGraba("CURSO.txt"),
     {
         {"newfstatat", "ALUMNO.txt", D::kSigue},
         {"openat", "CURSO.txt", D::kNoSeAbre},
         {"openat", "CURSO.txt", D::kNoSeAbre},
         {"openat", ".", D::kNoSeAbre},
         {"fsync", ".", D::kNoSeAbre},
         {"close", ".", D::kSigue},
         {"close", "CURSO.txt", D::kSigue},
         {"openat", "CURSO.txt", D::kNoSeAbre},
         {"newfstatat", "CURSO.txt", D::kNoSeAbre},
         {"pread64", "CURSO.txt", D::kNoSeAbre},
         {"close", "CURSO.txt", D::kSigue},
         {"openat", "CURSO.txt", D::kNoSeGraba},
         {"newfstatat", "CURSO.txt", D::kNoSeGraba},
         {"fcntl", "CURSO.txt", D::kNoSeGraba},
         {"newfstatat", "CURSO.txt", D::kNoSeGraba},
         {"newfstatat", "CURSO.txt", D::kNoSeGraba},
         {"pread64", "CURSO.txt", D::kNoSeGraba},
         {"newfstatat", "CURSO.txt", D::kNoSeGraba},
         {"pwrite64", "CURSO.txt", D::kNoSeGraba},
         {"fsync", "CURSO.txt", D::kNoSeGraba},
         {"fcntl", "CURSO.txt", D::kSigue},
         {"close", "CURSO.txt", D::kSigue},
     }},
    {"ACourseAfterAnotherAndAFragment",
     "CURSO.txt",
     {{"ALUMNO.txt", kJuan}, {"CURSO.txt", kArte + "QQQQQQQ"}},
     "2\nAB123CQuimica\n4\nxN",
     kArte + kQuimica,
     fallos::kCursoRegistrado,
     fallos::noSeAbre("CURSO.txt"),
     fallos::noSeGraba("CURSO.txt"),
     {
         {"newfstatat", "ALUMNO.txt", D::kSigue},    {"openat", "CURSO.txt", D::kNoSeAbre},
         {"newfstatat", "CURSO.txt", D::kNoSeAbre},  {"close", "CURSO.txt", D::kSigue},
         {"openat", "CURSO.txt", D::kNoSeAbre},      {"newfstatat", "CURSO.txt", D::kNoSeAbre},
         {"pread64", "CURSO.txt", D::kNoSeAbre},     {"pread64", "CURSO.txt", D::kNoSeAbre},
         {"close", "CURSO.txt", D::kSigue},          {"openat", "CURSO.txt", D::kNoSeGraba},
         {"newfstatat", "CURSO.txt", D::kNoSeGraba}, {"fcntl", "CURSO.txt", D::kNoSeGraba},
         {"newfstatat", "CURSO.txt", D::kNoSeGraba}, {"newfstatat", "CURSO.txt", D::kNoSeGraba},
         {"pread64", "CURSO.txt", D::kNoSeGraba},    {"pread64", "CURSO.txt", D::kNoSeGraba},
         {"newfstatat", "CURSO.txt", D::kNoSeGraba}, {"pread64", "CURSO.txt", D::kNoSeGraba},
         {"pwrite64", "CURSO.txt", D::kNoSeGraba},   {"fsync", "CURSO.txt", D::kNoSeGraba},
         {"fcntl", "CURSO.txt", D::kSigue},          {"close", "CURSO.txt", D::kSigue},
     }},
    {"TheFirstGradesEver",
     "NOTAALUMNO.txt",
     {{"ALUMNO.txt", kJuan}},
     "3\n12345678A\nAB123C\n12\n13\n14\n15\n16\nxN",
     kNotas,
     fallos::kOtraNota,
     fallos::kCrearArchivo,
     fallos::noSeGraba("NOTAALUMNO.txt"),
     {
         {"newfstatat", "ALUMNO.txt", D::kSigue},
         {"openat", "NOTAALUMNO.txt", D::kNoSeAbre},
         {"openat", "NOTAALUMNO.txt", D::kNoSeAbre},
         {"openat", ".", D::kNoSeAbre},
         {"fsync", ".", D::kNoSeAbre},
         {"close", ".", D::kSigue},
         {"close", "NOTAALUMNO.txt", D::kSigue},
         {"openat", "NOTAALUMNO.txt", D::kNoSeGraba},
         {"newfstatat", "NOTAALUMNO.txt", D::kNoSeGraba},
         {"fcntl", "NOTAALUMNO.txt", D::kNoSeGraba},
         {"newfstatat", "NOTAALUMNO.txt", D::kNoSeGraba},
         {"newfstatat", "NOTAALUMNO.txt", D::kNoSeGraba},
         {"newfstatat", "NOTAALUMNO.txt", D::kNoSeGraba},
         {"pwrite64", "NOTAALUMNO.txt", D::kNoSeGraba},
         {"fsync", "NOTAALUMNO.txt", D::kNoSeGraba},
         {"fcntl", "NOTAALUMNO.txt", D::kSigue},
         {"close", "NOTAALUMNO.txt", D::kSigue},
     }},
    {"GradesAfterOthersAndAFragment",
     "NOTAALUMNO.txt",
     {{"ALUMNO.txt", kJuan}, {"NOTAALUMNO.txt", kOtrasNotas + "QQ"}},
     "3\n12345678A\nAB123C\n12\n13\n14\n15\n16\nxN",
     kOtrasNotas + kNotas,
     fallos::kOtraNota,
     fallos::kCrearArchivo,
     fallos::noSeGraba("NOTAALUMNO.txt"),
     {
         {"newfstatat", "ALUMNO.txt", D::kSigue},
         {"openat", "NOTAALUMNO.txt", D::kNoSeAbre},
         {"newfstatat", "NOTAALUMNO.txt", D::kNoSeAbre},
         {"close", "NOTAALUMNO.txt", D::kSigue},
         {"openat", "NOTAALUMNO.txt", D::kNoSeGraba},
         {"newfstatat", "NOTAALUMNO.txt", D::kNoSeGraba},
         {"fcntl", "NOTAALUMNO.txt", D::kNoSeGraba},
         {"newfstatat", "NOTAALUMNO.txt", D::kNoSeGraba},
         {"newfstatat", "NOTAALUMNO.txt", D::kNoSeGraba},
         {"newfstatat", "NOTAALUMNO.txt", D::kNoSeGraba},
         {"pread64", "NOTAALUMNO.txt", D::kNoSeGraba},
         {"pwrite64", "NOTAALUMNO.txt", D::kNoSeGraba},
         {"fsync", "NOTAALUMNO.txt", D::kNoSeGraba},
         {"fcntl", "NOTAALUMNO.txt", D::kSigue},
         {"close", "NOTAALUMNO.txt", D::kSigue},
     }},
    // Once the new file has taken the old one's place, only the directory's
    // flush is left: the student is gone whatever it says.
    {"DeletingTheMiddleOneOfThreeStudents",
     "ALUMNO.txt",
     {{"ALUMNO.txt", kJuan + kAna + kLuis}, {"CURSO.txt", kArte}},
     "5\n87654321B\nSabc",
     kJuan + kLuis,
     fallos::kEliminado,
     fallos::noSeAbre("ALUMNO.txt"),
     fallos::kNoSeElimino,
     {
         {"newfstatat", "ALUMNO.txt", D::kSigue},
         {"newfstatat", "ALUMNO.txt", D::kSigue},
         {"openat", "ALUMNO.txt", D::kNoSeAbre},
         {"newfstatat", "ALUMNO.txt", D::kNoSeAbre},
         {"close", "ALUMNO.txt", D::kSigue},
         {"openat", "ALUMNO.txt", D::kNoSeAbre},
         {"newfstatat", "ALUMNO.txt", D::kNoSeAbre},
         {"pread64", "ALUMNO.txt", D::kNoSeAbre},
         {"close", "ALUMNO.txt", D::kSigue},
         {"openat", "ALUMNO.txt", D::kNoSeGraba},
         {"newfstatat", "ALUMNO.txt", D::kNoSeGraba},
         {"fcntl", "ALUMNO.txt", D::kNoSeGraba},  // the lock, held to the end
         {"newfstatat", "ALUMNO.txt", D::kNoSeGraba},
         {"newfstatat", "ALUMNO.txt", D::kNoSeGraba},
         {"newfstatat", "ALUMNO.txt", D::kNoSeGraba},
         {"unlink", "TEMPORAL.txt", D::kNoSeGraba},
         {"openat", "TEMPORAL.txt", D::kNoSeGraba},
         {"fchmod", "TEMPORAL.txt", D::kNoSeGraba},
         {"pread64", "ALUMNO.txt", D::kNoSeGraba},
         {"pwrite64", "TEMPORAL.txt", D::kNoSeGraba},
         {"pwrite64", "TEMPORAL.txt", D::kNoSeGraba},
         {"pread64", "ALUMNO.txt", D::kNoSeGraba},
         {"fsync", "TEMPORAL.txt", D::kNoSeGraba},
         // Is ALUMNO.txt a link? Not knowing, the name itself is replaced.
         {"newfstatat", "ALUMNO.txt", D::kSigue},
         {"close", "TEMPORAL.txt", D::kNoSeGraba},
         {"rename", "TEMPORAL.txt", D::kNoSeGraba},
         {"openat", ".", D::kSigue},
         {"fsync", ".", D::kSigue},
         {"close", ".", D::kSigue},
         {"close", "ALUMNO.txt", D::kSigue},  // the lock given back
     }},
};

INSTANTIATE_TEST_SUITE_P(Faults, FailingDisk, ::testing::ValuesIn(kOperaciones),
                         [](const auto& caso) { return std::string(caso.param.name); });

// Two failures in one operation: the undoing of a failed append fails too,
// or the scratch file of a failed deletion cannot be removed. The records
// stay whole all the same.
struct DobleFalla {
  const char* name;
  Archivos antes;
  std::string entrada;
  std::vector<std::string> reglas;
  std::string mensaje;  // shown
  std::string exito;    // never shown
  Archivos despues;
};

void PrintTo(const DobleFalla& d, std::ostream* os) {
  *os << d.name;
}

class FailingDiskTwice : public ::testing::TestWithParam<DobleFalla> {};

TEST_P(FailingDiskTwice, TheRecordsStayWholeAndTheClerkIsToldItWasNotStored) {
  std::string motivo;
  const std::optional<std::string> strace = fallos::straceOSaltar(motivo);
  if (!strace) GTEST_SKIP() << motivo;
  const DobleFalla& c = GetParam();
  harness::ScratchDir dir;
  preparar(dir, c.antes);
  const fallos::Traza traza = fallos::trazar(*strace, dir, c.entrada, c.reglas);
  int inyectadas = 0;
  for (const Llamada& l : traza.llamadas)
    inyectadas += l.inyectada;
  EXPECT_EQ(inyectadas, 2);
  EXPECT_EQ(traza.script.status, 0);
  EXPECT_EQ(traza.script.errors, "");
  EXPECT_TRUE(fallos::muestra(traza.script.output, c.mensaje));
  EXPECT_FALSE(fallos::muestra(traza.script.output, c.exito));
  EXPECT_EQ(instantanea(dir), c.despues);
}

std::vector<std::string> dosFallas(const std::string& primera, int vezPrimera,
                                   const std::string& segunda, int vezSegunda) {
  return {"-e", "trace=" + primera + "," + segunda,
          "-e", "inject=" + primera + ":error=EIO:when=" + std::to_string(vezPrimera),
          "-e", "inject=" + segunda + ":error=EIO:when=" + std::to_string(vezSegunda)};
}

// The calls are counted from the program's start: the append's fsync is the
// run's first on a file that already exists, its ftruncate and the pwrite64
// that puts the fragment back come only after a failure; the deletion's
// unlink of TEMPORAL.txt is its second, after the one that clears the way.
const DobleFalla kDoblesFallas[] = {
    // The record stays although the clerk is told it was not stored: the
    // file is the old one plus exactly the new record, never a part of one.
    {"TheFlushOfAStudentAndItsUndoingBothFail",
     {{"ALUMNO.txt", kJuan + kAna + kFragmento}},
     "1\n11111111CRuiz\nLuis\n33\nNx",
     dosFallas("fsync", 1, "ftruncate", 1),
     fallos::noSeGraba("ALUMNO.txt"),
     fallos::kOtroAlumno,
     {{"ALUMNO.txt", kJuan + kAna + kLuisTecleado}}},
    // The file is cut back to its old size; only the fragment's bytes, which
    // hold no record, are the new record's first ones.
    {"TheFlushOfAStudentFailsAndTheFragmentCannotBePutBack",
     {{"ALUMNO.txt", kJuan + kAna + kFragmento}},
     "1\n11111111CRuiz\nLuis\n33\nNx",
     dosFallas("fsync", 1, "pwrite64", 2),
     fallos::noSeGraba("ALUMNO.txt"),
     fallos::kOtroAlumno,
     {{"ALUMNO.txt", kJuan + kAna + kLuisTecleado.substr(0, kFragmento.size())}}},
    {"TheWriteOfACourseAndItsUndoingBothFail",
     {{"CURSO.txt", kArte}},
     "2\nAB123CQuimica\n4\nxN",
     dosFallas("pwrite64", 1, "ftruncate", 1),
     fallos::noSeGraba("CURSO.txt"),
     fallos::kCursoRegistrado,
     {{"CURSO.txt", kArte}}},
    {"TheFlushOfGradesAndItsUndoingBothFail",
     {{"NOTAALUMNO.txt", kOtrasNotas}},
     "3\n12345678A\nAB123C\n12\n13\n14\n15\n16\nxN",
     dosFallas("fsync", 1, "ftruncate", 1),
     fallos::noSeGraba("NOTAALUMNO.txt"),
     fallos::kOtraNota,
     {{"NOTAALUMNO.txt", kOtrasNotas + kNotas}}},
    // A scratch file that cannot be removed stays behind; the student file
    // is untouched (the next deletion clears it: see the kill tests).
    {"TheFlushOfADeletionAndTheRemovalOfItsScratchFileBothFail",
     {{"ALUMNO.txt", kJuan + kAna + kLuis}},
     "5\n87654321B\nSabc",
     dosFallas("fsync", 1, "unlink", 2),
     fallos::kNoSeElimino,
     fallos::kEliminado,
     {{"ALUMNO.txt", kJuan + kAna + kLuis}, {"TEMPORAL.txt", kJuan + kLuis}}},
};

INSTANTIATE_TEST_SUITE_P(Faults, FailingDiskTwice, ::testing::ValuesIn(kDoblesFallas),
                         [](const auto& caso) { return std::string(caso.param.name); });

// Handing the first megabytes of a long copy to the disk early is only a
// hint: its failure changes nothing, the final fsync decides.
TEST(FailingDiskOnce, AFailedEarlyHandOffOfALongDeletionChangesNothing) {
  std::string motivo;
  const std::optional<std::string> strace = fallos::straceOSaltar(motivo);
  if (!strace) GTEST_SKIP() << motivo;
  const std::string viejo = harness::muchosAlumnos(75'000);
  for (const char* error : kErrores) {
    SCOPED_TRACE(error);
    harness::ScratchDir dir;
    dir.write("ALUMNO.txt", viejo);
    const fallos::Traza traza =
        fallos::trazar(*strace, dir, "5\n00000002A\nSabc",
                       {"-e", "trace=sync_file_range", "-e",
                        std::string("inject=sync_file_range:error=") + error});
    ASSERT_FALSE(traza.llamadas.empty()) << "the copy was never handed to the disk early";
    for (const Llamada& l : traza.llamadas)
      EXPECT_TRUE(l.inyectada) << l.linea;
    EXPECT_EQ(traza.script.status, 0);
    EXPECT_TRUE(fallos::muestra(traza.script.output, fallos::kEliminado));
    EXPECT_EQ(dir.read("ALUMNO.txt"), fallos::sinCodigo(viejo, "00000002A"));
    EXPECT_EQ(dir.names(), std::vector<std::string>{"ALUMNO.txt"});
  }
}

}  // namespace
