// The student listing (menu option 4), as a clerk sees it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "alumnos.hpp"
#include "comun.hpp"
#include "files.hpp"
#include "strace.hpp"
#include "terminal.hpp"

namespace {

using harness::Estudiante;
using harness::Position;
using harness::Terminal;

const std::string kTitulo = "LISTADO DE REGISTROS DE ALUMNOS ";
const std::string kRaya = "         " + std::string(57, '_');
const std::string kPalabras = "         CODIGO          APELLIDO         N O M B R E       EDAD";
const std::string kRayaFinal = "      " + std::string(56, '_');
const std::string kAviso = "<<< ... PRESIONE ENTER para continuar >>>";
const std::string kNoSeAbre = " No se puede abrir el archivo ALUMNO.txt ...!!! ";

// The row a student occupies: its fields from columns 10, 27, 45 and 62, in
// full, and nothing else.
std::string filaDe(const Estudiante& e) {
  std::string fila(80, ' ');
  fila.replace(9, e.codigo.size(), e.codigo);
  fila.replace(26, e.apellido.size(), e.apellido);
  fila.replace(44, e.nombre.size(), e.nombre);
  const std::string edad = std::to_string(e.edad);
  fila.replace(61, edad.size(), edad);
  return fila.substr(0, fila.find_last_not_of(' ') + 1);
}

void expectTitulo(const Terminal& t) {
  EXPECT_EQ(t.row(1), "");
  EXPECT_EQ(t.text(10, 5, static_cast<int>(kTitulo.size())), kTitulo);
  EXPECT_EQ(t.row(5), "         " + kTitulo.substr(0, kTitulo.size() - 1));
  EXPECT_EQ(t.foreground(10, 5), e2e::kBrightWhite);
  EXPECT_EQ(t.foreground(40, 5), e2e::kBrightWhite);
}

// One whole screen of the listing: the title, the heading, these students
// from row 10, the rule under them and the prompt three rows lower, waiting.
void expectPagina(const Terminal& t, const std::vector<Estudiante>& pagina) {
  SCOPED_TRACE(t.dump());
  expectTitulo(t);
  EXPECT_EQ(t.row(6), kRaya);
  EXPECT_EQ(t.row(7), kPalabras);
  EXPECT_EQ(t.row(8), kRaya);
  EXPECT_EQ(t.foreground(10, 7), e2e::kDefault);
  const int n = static_cast<int>(pagina.size());
  for (int i = 0; i < n; ++i) {
    EXPECT_EQ(t.row(10 + i), filaDe(pagina[static_cast<std::size_t>(i)])) << "student " << i + 1;
  }
  if (n > 0) {
    EXPECT_EQ(t.foreground(10, 10), e2e::kDefault);
  }
  // The rule starts the row below the last one written: row 9 under the
  // heading alone.
  const int raya = n == 0 ? 9 : n + 10;
  EXPECT_EQ(t.row(raya), kRayaFinal);
  for (int fila = raya + 1; fila < n + 13; ++fila)
    EXPECT_EQ(t.row(fila), "") << "row " << fila;
  EXPECT_EQ(t.row(n + 13), "              " + kAviso);
  for (int fila = n + 14; fila <= t.rows(); ++fila)
    EXPECT_EQ(t.row(fila), "") << "row " << fila;
  EXPECT_EQ(t.cursor(), (Position{56, n + 13}));
}

class Reporte : public ::testing::Test {
 protected:
  harness::ScratchDir dir;
};

TEST_F(Reporte, WithoutAStudentFileSaysSoWhereTheTitleEndsAndCreatesNothing) {
  Terminal t(dir.path());
  t.type("4\r");
  {
    SCOPED_TRACE(t.dump());
    expectTitulo(t);
    EXPECT_EQ(t.row(6), "");
    EXPECT_EQ(t.row(7), "");
    EXPECT_EQ(t.row(8), "No existe el archivo !!!");
    EXPECT_EQ(t.row(9), "");
    EXPECT_EQ(t.row(10), kAviso);
    EXPECT_EQ(t.foreground(1, 8), e2e::kDefault);
    EXPECT_EQ(t.cursor(), (Position{42, 10}));
  }
  // Any key will do, not only Enter; it is echoed before the menu comes back.
  t.type("q");
  EXPECT_FALSE(t.exited());
  e2e::expectMenu(t);
  EXPECT_TRUE(dir.names().empty());
}

TEST_F(Reporte, IsOptionFourHoweverItIsWritten) {
  for (const char* opcion : {"4\r", "04\r", "0004\r"}) {
    Terminal t(dir.path());
    t.type(opcion);
    SCOPED_TRACE(t.dump());
    expectTitulo(t);
    EXPECT_EQ(t.row(8), "No existe el archivo !!!") << opcion;
  }
}

struct Listado {
  const char* name;
  int alumnos;
  std::string fragmento;  // bytes after the last whole record
  std::vector<int> paginas;
};

TEST_F(Reporte, ShowsEveryStudentOnceInFileOrderAPageAtATime) {
  const Listado cases[] = {
      {"empty file", 0, "", {0}},
      {"one student", 1, "", {1}},
      {"one student and a fragment", 1, std::string(58, 'Z'), {1}},
      {"a fragment alone", 0, std::string(1, '7'), {0}},
      {"twelve fill the screen", 12, "", {12}},
      {"twelve and a fragment", 12, "0123456789", {12}},
      {"thirteen", 13, "", {12, 1}},
      {"twenty-four end on a full page", 24, "", {12, 12}},
      {"forty", 40, std::string(30, 'x'), {12, 12, 12, 4}},
  };
  for (const Listado& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<Estudiante> todos = harness::numerados(1, c.alumnos);
    dir.write("ALUMNO.txt", harness::registros(todos) + c.fragmento);
    Terminal t(dir.path());
    t.type("4\r");
    std::size_t visto = 0;
    for (const int tamano : c.paginas) {
      const std::vector<Estudiante> pagina(todos.begin() + static_cast<long>(visto),
                                           todos.begin() + static_cast<long>(visto) + tamano);
      expectPagina(t, pagina);
      visto += static_cast<std::size_t>(tamano);
      ASSERT_FALSE(t.exited());
      t.type("k");
    }
    EXPECT_EQ(visto, todos.size());
    e2e::expectMenu(t);
    EXPECT_EQ(dir.names(), std::vector<std::string>{"ALUMNO.txt"});
  }
}

// A special key is one key press: it turns one page, never two.
TEST_F(Reporte, EveryKeyPressTurnsExactlyOnePage) {
  const std::string teclas[] = {harness::keyBytes(harness::Key::PageDown),
                                harness::keyBytes(harness::Key::Delete),
                                "\x1b[1;5D",  // Ctrl+Left
                                harness::keyBytes(harness::Key::F1),
                                "k",
                                harness::keyBytes(harness::Key::Up)};
  const int paginas = static_cast<int>(std::size(teclas));
  const std::vector<Estudiante> todos = harness::numerados(1, 12 * paginas);
  dir.write("ALUMNO.txt", harness::registros(todos));
  Terminal t(dir.path());
  t.type("4\r");
  for (int pagina = 0; pagina < paginas; ++pagina) {
    SCOPED_TRACE("page " + std::to_string(pagina + 1));
    expectPagina(t, {todos.begin() + 12 * pagina, todos.begin() + 12 * (pagina + 1)});
    t.type(teclas[pagina]);
  }
  e2e::expectMenu(t);
}

// A terminal that reports no size: the pages of a 25-row screen.
TEST_F(Reporte, ATerminalOfNoSizePagesTwelveStudentsAtATime) {
  const std::vector<Estudiante> todos = harness::numerados(1, 30);
  dir.write("ALUMNO.txt", harness::registros(todos));
  Terminal t(dir.path(), {.reportsNoSize = true});
  e2e::expectMenu(t);
  t.type("4\r");
  expectPagina(t, {todos.begin(), todos.begin() + 12});
  t.type("\r");
  expectPagina(t, {todos.begin() + 12, todos.begin() + 24});
  t.type("\r");
  expectPagina(t, {todos.begin() + 24, todos.end()});
  t.type("\r");
  e2e::expectMenu(t);
}

TEST_F(Reporte, APageHoldsWhatFitsAboveTheLastRowOfATallerTerminal) {
  const std::vector<Estudiante> todos = harness::numerados(1, 20);
  dir.write("ALUMNO.txt", harness::registros(todos));
  Terminal t(dir.path(), {.rows = 30});
  t.type("4\r");
  expectPagina(t, {todos.begin(), todos.begin() + 17});
  t.type("\r");
  expectPagina(t, {todos.begin() + 17, todos.end()});
  t.type("\r");
  e2e::expectMenu(t);
}

TEST_F(Reporte, OneStudentSitsUnderTheHeadingAtItsColumns) {
  dir.write("ALUMNO.txt", harness::registro({"12345678A", "Perez", "Juan", 20}));
  Terminal t(dir.path());
  t.type("4\r");
  SCOPED_TRACE(t.dump());
  EXPECT_EQ(t.text(10, 10, 10), "12345678A ");
  EXPECT_EQ(t.text(27, 10, 6), "Perez ");
  EXPECT_EQ(t.text(45, 10, 5), "Juan ");
  EXPECT_EQ(t.text(62, 10, 3), "20 ");
  // The heading words stand a column or two left of their data.
  EXPECT_EQ(t.text(10, 7, 6), "CODIGO");
  EXPECT_EQ(t.text(26, 7, 8), "APELLIDO");
  EXPECT_EQ(t.text(43, 7, 11), "N O M B R E");
  EXPECT_EQ(t.text(61, 7, 4), "EDAD");
  EXPECT_EQ(t.row(11), kRayaFinal);
  EXPECT_EQ(t.text(6, 14, 50), "         " + kAviso);
}

TEST_F(Reporte, ControlBytesInANameAreShownAndNeverObeyed) {
  dir.write("ALUMNO.txt", harness::registros({{"12345678A", "\x1b[2J", "\x1b[H", 7},
                                              {"22222222B", "Lo\npez", "Ana\x07\x08\x08", 8},
                                              {"33333333C", "Ruiz\r",
                                               "\x7f\x01"
                                               "Eva",
                                               9}}));
  Terminal t(dir.path());
  t.type("4\r");
  SCOPED_TRACE(t.dump());
  expectTitulo(t);
  EXPECT_EQ(t.row(7), kPalabras);
  EXPECT_EQ(t.row(10), "         12345678A        ?[2J              ?[H              7");
  EXPECT_EQ(t.row(11), "         22222222B        Lo?pez            Ana???           8");
  EXPECT_EQ(t.row(12), "         33333333C        Ruiz?             ??Eva            9");
  EXPECT_EQ(t.row(13), kRayaFinal);
  EXPECT_EQ(t.cursor(), (Position{56, 16}));
}

TEST_F(Reporte, AStudentFileThatIsADirectoryIsReportedAndNotListedAsEmpty) {
  std::filesystem::create_directory(dir.path() + "/ALUMNO.txt");
  Terminal t(dir.path());
  t.type("4\r");
  {
    SCOPED_TRACE(t.dump());
    expectTitulo(t);
    EXPECT_EQ(t.row(7), "");
    EXPECT_EQ(t.row(9), "");
    EXPECT_EQ(t.text(10, 20, static_cast<int>(kNoSeAbre.size())), kNoSeAbre);
  }
  t.type("x");
  e2e::expectMenu(t);
  EXPECT_EQ(dir.names(), std::vector<std::string>{"ALUMNO.txt"});
}

// The file is read in blocks of 4,443 students, each with the file open only
// for that read. Another copy's deletion between two blocks puts a new file
// in the old one's place: the listing says so rather than go on in the new
// one as if it were the same list.
TEST_F(Reporte, AFileReplacedBeforeTheNextBlockIsReadIsSaidAndTheListingEnds) {
  constexpr int kFilas = 200;  // pages of 187 students
  dir.write("ALUMNO.txt", harness::muchosAlumnos(5000));
  Terminal t(dir.path(), {.rows = kFilas});
  t.type("4\r");
  EXPECT_EQ(t.row(10), filaDe({"00000001A", "Perez", "Juan", 20})) << t.dump();
  dir.write("nuevo", harness::registros(harness::numerados(1, 3)));
  std::filesystem::rename(dir.path() + "/nuevo", dir.path() + "/ALUMNO.txt");
  const std::string aviso = " Archivo ALUMNO.txt reemplazado mientras se listaba ...!!! ";
  int paginas = 1;
  while (paginas < 30 && t.text(10, 20, static_cast<int>(aviso.size())) != aviso) {
    t.type("x");
    ++paginas;
  }
  {
    SCOPED_TRACE(t.dump());
    EXPECT_EQ(paginas, 24);  // the one whose last students need the second block
    expectTitulo(t);
    EXPECT_EQ(t.text(10, 20, static_cast<int>(aviso.size())), aviso);
    EXPECT_EQ(t.row(7), "");
  }
  t.type("x");
  e2e::expectMenu(t);
}

struct ErrorDeLectura {
  const char* name;
  const char* lecturaQueFalla;  // strace's count of the pread64 that fails
};

// Counting the reads of ALUMNO.txt alone: the first delivers the whole small
// file, the second would find its end.
TEST_F(Reporte, AReadErrorIsReportedAndNeverPassesForTheEndOfTheList) {
  const std::optional<std::string> strace = harness::straceUtilizable();
  if (!strace) GTEST_SKIP() << "strace is missing or cannot trace here";
  const ErrorDeLectura cases[] = {
      {"at the first read", "1"},
      {"after three students were shown", "2"},
  };
  dir.write("ALUMNO.txt", harness::registros(harness::numerados(1, 3)));
  for (const ErrorDeLectura& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string regla = std::string("inject=pread64:error=EIO:when=") + c.lecturaQueFalla;
    // The input ends at the notice's key, which ends the program there.
    const harness::Script s = harness::runScript(
        dir.path(), "4\n", harness::bajoStrace(*strace, {"-P", "ALUMNO.txt", "-e", regla}));
    EXPECT_EQ(s.status, 0);
    harness::Screen pantalla(80, 25);
    pantalla.feed(s.output);
    SCOPED_TRACE(pantalla.dump());
    EXPECT_EQ(pantalla.text(10, 5, static_cast<int>(kTitulo.size())), kTitulo);
    EXPECT_EQ(pantalla.row(7), "");
    EXPECT_EQ(pantalla.row(10), "");
    EXPECT_EQ(pantalla.text(10, 20, static_cast<int>(kNoSeAbre.size())), kNoSeAbre);
    EXPECT_EQ(pantalla.row(25), "");
  }
}

}  // namespace
