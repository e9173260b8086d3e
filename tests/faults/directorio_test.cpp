// Odd things where the program's files should be: a directory, a symbolic
// link (to nothing, to a file elsewhere, to /dev/null), a FIFO, a scratch
// file left behind, hard links. Each screen reports or works; it never
// hangs, never crashes, never writes through a link into a file that is not
// its own and never loses a record.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "comun.hpp"
#include "files.hpp"
#include "terminal.hpp"

namespace {

namespace fs = std::filesystem;

// One entry of a directory, links not followed.
struct Entrada {
  char tipo;              // 'f' file, 'd' directory, 'l' symbolic link, 'p' FIFO
  std::string contenido;  // a file's bytes, a link's target, a directory's names

  bool operator==(const Entrada&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Entrada& e) {
  os << e.tipo << ':';
  if (e.tipo == 'f') return os << e.contenido.size() << " bytes";
  return os << e.contenido;
}

using Arbol = std::map<std::string, Entrada>;

Arbol leerArbol(const std::string& ruta) {
  Arbol arbol;
  for (const auto& entrada : fs::directory_iterator(ruta)) {
    const std::string nombre = entrada.path().filename().string();
    const fs::file_status estado = fs::symlink_status(entrada.path());
    if (fs::is_symlink(estado)) {
      arbol[nombre] = {'l', fs::read_symlink(entrada.path()).string()};
    } else if (fs::is_directory(estado)) {
      std::string nombres;
      for (const auto& dentro : fs::directory_iterator(entrada.path()))
        nombres += dentro.path().filename().string() + " ";
      arbol[nombre] = {'d', nombres};
    } else if (fs::is_fifo(estado)) {
      arbol[nombre] = {'p', ""};
    } else {
      std::string bytes;
      const int fd = ::open(entrada.path().c_str(), O_RDONLY | O_CLOEXEC);
      char buffer[65536];
      for (ssize_t n; fd >= 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, static_cast<std::size_t>(n));
      if (fd >= 0) ::close(fd);
      arbol[nombre] = {'f', bytes};
    }
  }
  return arbol;
}

// The program's directory and another one, where links lead.
struct Lugar {
  harness::ScratchDir dir;
  harness::ScratchDir fuera;

  std::string aqui(const std::string& nombre) const { return dir.path() + "/" + nombre; }
  std::string alla(const std::string& nombre) const { return fuera.path() + "/" + nombre; }
  void enlace(const std::string& nombre, const std::string& destino) const {
    fs::create_symlink(destino, aqui(nombre));
  }
  void carpeta(const std::string& nombre) const { fs::create_directory(aqui(nombre)); }
  void fifo(const std::string& nombre) const { ASSERT_EQ(::mkfifo(aqui(nombre).c_str(), 0644), 0); }
  void enlaceDuro(const std::string& nombre, const std::string& existente) const {
    fs::create_hard_link(aqui(existente), aqui(nombre));
  }
};

const std::string kJuan = harness::registro({"12345678A", "Perez", "Juan", 20});
const std::string kAna = harness::registro({"87654321B", "Lopez", "Ana", 19});
const std::string kLuis = fallos::alumnoTecleado("11111111C", "Ruiz", "Luis", 33);
const std::string kArte = fallos::curso("ZZ999Z", "Arte", 1);
const std::string kQuimica = fallos::curso("AB123C", "Quimica", 4);
const std::string kNotas = fallos::nota("12345678A", "AB123C", {12, 13, 14, 15, 16});

// One visit to each screen. What is left of the input after a screen gives
// up opens no other screen that stores anything.
const std::string kAlta = "1\n11111111CRuiz\nLuis\n33\nNx";
const std::string kCurso = "2\nAB123CQuimica\n4\nxN";
const std::string kNota = "3\n12345678A\nAB123C\n12\n13\n14\n15\n16\nxN";
const std::string kListado = "4\nx";
const std::string kBorrado = "5\n12345678A\nSabc";

const std::string kRecuperado = " Se recupero ALUMNO.txt desde TEMPORAL.txt ...!!! ";
const std::string kNoRecuperado = " No se recupero TEMPORAL.txt: no contiene alumnos ...!!! ";

struct Rareza {
  const char* name;
  void (*preparar)(const Lugar&);
  std::string entrada;
  std::vector<std::string> muestra;    // shown
  std::vector<std::string> noMuestra;  // never shown
  // How the two directories change; nullptr: not at all.
  void (*cambios)(Arbol& aqui, Arbol& alla);
};

void PrintTo(const Rareza& r, std::ostream* os) {
  *os << r.name;
}

class OddDirectory : public ::testing::TestWithParam<Rareza> {};

TEST_P(OddDirectory, TheScreenReportsOrWorksAndNoRecordIsLostOrWrittenElsewhere) {
  const Rareza& c = GetParam();
  Lugar lugar;
  c.preparar(lugar);
  Arbol aqui = leerArbol(lugar.dir.path());
  Arbol alla = leerArbol(lugar.fuera.path());
  if (c.cambios != nullptr) c.cambios(aqui, alla);

  harness::Options opciones;
  opciones.deadline = std::chrono::seconds(5);
  const harness::Script s = harness::runScript(lugar.dir.path(), c.entrada, opciones);
  EXPECT_EQ(s.status, 0);
  EXPECT_EQ(s.errors, "");
  for (const std::string& texto : c.muestra)
    EXPECT_TRUE(fallos::muestra(s.output, texto)) << "not shown: " << texto;
  for (const std::string& texto : c.noMuestra)
    EXPECT_FALSE(fallos::muestra(s.output, texto)) << "shown: " << texto;
  EXPECT_EQ(leerArbol(lugar.dir.path()), aqui) << "in the program's directory";
  EXPECT_EQ(leerArbol(lugar.fuera.path()), alla) << "in the directory the links lead to";
}

const std::string kNoSeAbreAlumnos = fallos::noSeAbre("ALUMNO.txt");

const Rareza kRarezas[] = {
    // --- A directory in a file's place: reported, never taken for empty.
    {"StudentFileIsADirectoryWhenAddingAStudent",
     [](const Lugar& l) { l.carpeta("ALUMNO.txt"); },
     kAlta,
     {kNoSeAbreAlumnos},
     {fallos::kOtroAlumno},
     nullptr},
    {"StudentFileIsADirectoryWhenListing",
     [](const Lugar& l) { l.carpeta("ALUMNO.txt"); },
     kListado,
     {kNoSeAbreAlumnos},
     {fallos::kNoExiste},
     nullptr},
    {"StudentFileIsADirectoryWhenDeleting",
     [](const Lugar& l) { l.carpeta("ALUMNO.txt"); },
     kBorrado,
     {kNoSeAbreAlumnos},
     {fallos::kEliminado},
     nullptr},
    {"CourseFileIsADirectory",
     [](const Lugar& l) { l.carpeta("CURSO.txt"); },
     kCurso,
     {fallos::noSeAbre("CURSO.txt")},
     {fallos::kCursoRegistrado},
     nullptr},
    {"GradeFileIsADirectory",
     [](const Lugar& l) { l.carpeta("NOTAALUMNO.txt"); },
     kNota,
     {fallos::kCrearArchivo},
     {fallos::kOtraNota},
     nullptr},
    {"ScratchFileIsADirectoryWhenDeleting",
     [](const Lugar& l) {
       l.dir.write("ALUMNO.txt", kJuan + kAna);
       l.carpeta("TEMPORAL.txt");
       l.dir.write("TEMPORAL.txt/dentro", "x");
     },
     kBorrado,
     {fallos::kNoSeElimino},
     {fallos::kEliminado},
     nullptr},
    // The notice that TEMPORAL.txt is left takes one key, at start-up and
    // again where the student screen makes the missing file.
    {"ScratchFileIsADirectoryAndNoStudentFileWhenAddingAStudent",
     [](const Lugar& l) { l.carpeta("TEMPORAL.txt"); },
     "x1\ny" + kAlta.substr(2),
     {kNoRecuperado, fallos::kOtroAlumno},
     {kRecuperado},
     [](Arbol& aqui, Arbol&) {
       aqui["ALUMNO.txt"] = {'f', kLuis};
     }},

    // --- A link to nothing: reported; the missing file is not made.
    {"StudentFileIsADanglingLinkWhenAddingAStudent",
     [](const Lugar& l) { l.enlace("ALUMNO.txt", l.alla("perdido.txt")); },
     kAlta,
     {kNoSeAbreAlumnos},
     {fallos::kOtroAlumno},
     nullptr},
    {"StudentFileIsADanglingLinkWhenListing",
     [](const Lugar& l) { l.enlace("ALUMNO.txt", l.alla("perdido.txt")); },
     kListado,
     {fallos::kNoExiste},
     {},
     nullptr},
    {"StudentFileIsADanglingLinkWhenDeleting",
     [](const Lugar& l) { l.enlace("ALUMNO.txt", l.alla("perdido.txt")); },
     kBorrado,
     {kNoSeAbreAlumnos},
     {fallos::kEliminado},
     nullptr},
    {"GradeFileIsADanglingLink",
     [](const Lugar& l) { l.enlace("NOTAALUMNO.txt", l.alla("perdido.txt")); },
     kNota,
     {fallos::kCrearArchivo},
     {fallos::kOtraNota},
     nullptr},

    // --- A link to a regular file elsewhere: that file is the student file.
    {"StudentFileIsALinkToAFileElsewhereWhenAddingAStudent",
     [](const Lugar& l) {
       l.fuera.write("alumnos.dat", kJuan + kAna);
       l.enlace("ALUMNO.txt", l.alla("alumnos.dat"));
     },
     kAlta,
     {fallos::kOtroAlumno},
     {kNoSeAbreAlumnos},
     [](Arbol&, Arbol& alla) { alla["alumnos.dat"].contenido += kLuis; }},
    {"StudentFileIsALinkToAFileElsewhereWhenListing",
     [](const Lugar& l) {
       l.fuera.write("alumnos.dat", kJuan + kAna);
       l.enlace("ALUMNO.txt", l.alla("alumnos.dat"));
     },
     kListado,
     {"12345678A", "87654321B"},
     {kNoSeAbreAlumnos},
     nullptr},
    // The file the link leads to is the one replaced; the link stays, so
    // later students still reach it.
    {"StudentFileIsALinkToAFileElsewhereWhenDeleting",
     [](const Lugar& l) {
       l.fuera.write("alumnos.dat", kJuan + kAna);
       l.enlace("ALUMNO.txt", l.alla("alumnos.dat"));
     },
     kBorrado,
     {fallos::kEliminado},
     {fallos::kNoSeElimino},
     [](Arbol&, Arbol& alla) {
       alla["alumnos.dat"] = {'f', kAna};
     }},
    {"CourseFileIsALinkToAFileElsewhere",
     [](const Lugar& l) {
       l.fuera.write("cursos.dat", kArte);
       l.enlace("CURSO.txt", l.alla("cursos.dat"));
     },
     kCurso,
     {fallos::kCursoRegistrado},
     {},
     [](Arbol&, Arbol& alla) { alla["cursos.dat"].contenido += kQuimica; }},
    {"StudentFileIsALinkToADirectoryElsewhere",
     [](const Lugar& l) {
       fs::create_directory(l.alla("carpeta"));
       l.enlace("ALUMNO.txt", l.alla("carpeta"));
     },
     kAlta,
     {kNoSeAbreAlumnos},
     {fallos::kOtroAlumno},
     nullptr},

    // --- A link to /dev/null: not a file of records.
    {"StudentFileIsALinkToDevNullWhenAddingAStudent",
     [](const Lugar& l) { l.enlace("ALUMNO.txt", "/dev/null"); },
     kAlta,
     {kNoSeAbreAlumnos},
     {fallos::kOtroAlumno},
     nullptr},
    {"StudentFileIsALinkToDevNullWhenListing",
     [](const Lugar& l) { l.enlace("ALUMNO.txt", "/dev/null"); },
     kListado,
     {kNoSeAbreAlumnos},
     {},
     nullptr},
    {"StudentFileIsALinkToDevNullWhenDeleting",
     [](const Lugar& l) { l.enlace("ALUMNO.txt", "/dev/null"); },
     kBorrado,
     {kNoSeAbreAlumnos},
     {fallos::kEliminado},
     nullptr},
    {"CourseFileIsALinkToDevNull",
     [](const Lugar& l) { l.enlace("CURSO.txt", "/dev/null"); },
     kCurso,
     {fallos::noSeAbre("CURSO.txt")},
     {fallos::kCursoRegistrado},
     nullptr},
    {"GradeFileIsALinkToDevNull",
     [](const Lugar& l) { l.enlace("NOTAALUMNO.txt", "/dev/null"); },
     kNota,
     {fallos::kCrearArchivo},
     {fallos::kOtraNota},
     nullptr},

    // --- A FIFO: opening it must not wait for a writer.
    {"StudentFileIsAFifoWhenAddingAStudent",
     [](const Lugar& l) { l.fifo("ALUMNO.txt"); },
     kAlta,
     {kNoSeAbreAlumnos},
     {fallos::kOtroAlumno},
     nullptr},
    {"StudentFileIsAFifoWhenListing",
     [](const Lugar& l) { l.fifo("ALUMNO.txt"); },
     kListado,
     {kNoSeAbreAlumnos},
     {},
     nullptr},
    {"StudentFileIsAFifoWhenDeleting",
     [](const Lugar& l) { l.fifo("ALUMNO.txt"); },
     kBorrado,
     {kNoSeAbreAlumnos},
     {fallos::kEliminado},
     nullptr},
    {"CourseFileIsAFifo",
     [](const Lugar& l) { l.fifo("CURSO.txt"); },
     kCurso,
     {fallos::noSeAbre("CURSO.txt")},
     {fallos::kCursoRegistrado},
     nullptr},
    {"GradeFileIsAFifo",
     [](const Lugar& l) { l.fifo("NOTAALUMNO.txt"); },
     kNota,
     {fallos::kCrearArchivo},
     {fallos::kOtraNota},
     nullptr},

    // --- Whatever stands at TEMPORAL.txt is removed, never written through.
    {"ScratchFileIsALinkToAFileElsewhereWhenDeleting",
     [](const Lugar& l) {
       l.dir.write("ALUMNO.txt", kJuan + kAna);
       l.fuera.write("victima.dat", kLuis);
       l.enlace("TEMPORAL.txt", l.alla("victima.dat"));
     },
     kBorrado,
     {fallos::kEliminado},
     {},
     [](Arbol& aqui, Arbol&) {
       aqui.erase("TEMPORAL.txt");
       aqui["ALUMNO.txt"] = {'f', kAna};
     }},
    {"ScratchFileIsALinkToDevNullWhenDeleting",
     [](const Lugar& l) {
       l.dir.write("ALUMNO.txt", kJuan + kAna);
       l.enlace("TEMPORAL.txt", "/dev/null");
     },
     kBorrado,
     {fallos::kEliminado},
     {},
     [](Arbol& aqui, Arbol&) {
       aqui.erase("TEMPORAL.txt");
       aqui["ALUMNO.txt"] = {'f', kAna};
     }},
    {"ScratchFileIsADanglingLinkWhenDeleting",
     [](const Lugar& l) {
       l.dir.write("ALUMNO.txt", kJuan + kAna);
       l.enlace("TEMPORAL.txt", l.alla("perdido.txt"));
     },
     kBorrado,
     {fallos::kEliminado},
     {},
     [](Arbol& aqui, Arbol&) {
       aqui.erase("TEMPORAL.txt");
       aqui["ALUMNO.txt"] = {'f', kAna};
     }},
    {"ScratchFileIsAFifoWhenDeleting",
     [](const Lugar& l) {
       l.dir.write("ALUMNO.txt", kJuan + kAna);
       l.fifo("TEMPORAL.txt");
     },
     kBorrado,
     {fallos::kEliminado},
     {},
     [](Arbol& aqui, Arbol&) {
       aqui.erase("TEMPORAL.txt");
       aqui["ALUMNO.txt"] = {'f', kAna};
     }},
    {"StaleScratchFileWhenDeleting",
     [](const Lugar& l) {
       l.dir.write("ALUMNO.txt", kJuan + kAna);
       l.dir.write("TEMPORAL.txt", std::string(100, 'B'));
     },
     kBorrado,
     {fallos::kEliminado},
     {},
     [](Arbol& aqui, Arbol&) {
       aqui.erase("TEMPORAL.txt");
       aqui["ALUMNO.txt"] = {'f', kAna};
     }},
    {"StaleScratchFileWhenAddingAStudent",
     [](const Lugar& l) {
       l.dir.write("ALUMNO.txt", kJuan + kAna);
       l.dir.write("TEMPORAL.txt", kJuan);
     },
     kAlta,
     {fallos::kOtroAlumno},
     {kRecuperado},
     [](Arbol& aqui, Arbol&) { aqui["ALUMNO.txt"].contenido += kLuis; }},
    {"StaleScratchFileWhenListing",
     [](const Lugar& l) {
       l.dir.write("ALUMNO.txt", kAna);
       l.dir.write("TEMPORAL.txt", kJuan);
     },
     kListado,
     {"87654321B"},
     {"12345678A", kRecuperado},
     nullptr},
    // The same file under both names: removing the scratch name leaves the
    // student file whole until its replacement is in place.
    {"ScratchFileIsAHardLinkToTheStudentFileWhenDeleting",
     [](const Lugar& l) {
       l.dir.write("ALUMNO.txt", kJuan + kAna);
       l.enlaceDuro("TEMPORAL.txt", "ALUMNO.txt");
     },
     kBorrado,
     {fallos::kEliminado},
     {},
     [](Arbol& aqui, Arbol&) {
       aqui.erase("TEMPORAL.txt");
       aqui["ALUMNO.txt"] = {'f', kAna};
     }},
    {"ScratchFileIsAHardLinkToAnotherFileWhenDeleting",
     [](const Lugar& l) {
       l.dir.write("ALUMNO.txt", kJuan + kAna);
       l.dir.write("respaldo.dat", kLuis);
       l.enlaceDuro("TEMPORAL.txt", "respaldo.dat");
     },
     kBorrado,
     {fallos::kEliminado},
     {},
     [](Arbol& aqui, Arbol&) {
       aqui.erase("TEMPORAL.txt");
       aqui["ALUMNO.txt"] = {'f', kAna};
     }},
    // The other name keeps the old students; ALUMNO.txt is the new file.
    {"StudentFileIsAHardLinkToAnotherFileWhenDeleting",
     [](const Lugar& l) {
       l.dir.write("respaldo.dat", kJuan + kAna);
       l.enlaceDuro("ALUMNO.txt", "respaldo.dat");
     },
     kBorrado,
     {fallos::kEliminado},
     {},
     [](Arbol& aqui, Arbol&) {
       aqui["ALUMNO.txt"] = {'f', kAna};
     }},

    // --- No student file, something at TEMPORAL.txt: only a regular file
    // with one name laid out as students is put back; anything else is left
    // as it is, and either is said.
    {"NoStudentFileAndTheScratchFileIsALinkToStudentsElsewhere",
     [](const Lugar& l) {
       l.fuera.write("alumnos.dat", kJuan + kAna);
       l.enlace("TEMPORAL.txt", l.alla("alumnos.dat"));
     },
     "x" + kListado,
     {kNoRecuperado, fallos::kNoExiste},
     {kRecuperado},
     nullptr},
    {"NoStudentFileAndAStaleScratchFileOfGarbage",
     [](const Lugar& l) { l.dir.write("TEMPORAL.txt", std::string(59, 'B')); },
     "x" + kListado,
     {kNoRecuperado, fallos::kNoExiste},
     {kRecuperado},
     nullptr},
    {"NoStudentFileAndAScratchFileThatIsAFifo",
     [](const Lugar& l) { l.fifo("TEMPORAL.txt"); },
     "x" + kListado,
     {kNoRecuperado, fallos::kNoExiste},
     {kRecuperado},
     nullptr},
    // Put in place, it would stay one file with the other name for good.
    {"NoStudentFileAndTheScratchFileIsAHardLinkToStudents",
     [](const Lugar& l) {
       l.dir.write("respaldo.dat", kJuan + kAna);
       l.enlaceDuro("TEMPORAL.txt", "respaldo.dat");
     },
     "x" + kListado,
     {kNoRecuperado, fallos::kNoExiste},
     {kRecuperado},
     nullptr},
};

INSTANTIATE_TEST_SUITE_P(Faults, OddDirectory, ::testing::ValuesIn(kRarezas),
                         [](const auto& caso) { return std::string(caso.param.name); });

}  // namespace
