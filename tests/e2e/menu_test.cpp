// The main menu and the budget of wrong entries, as a clerk meets them.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>

#include "comun.hpp"
#include "files.hpp"
#include "terminal.hpp"

namespace {

using e2e::expectMenu;
using harness::Position;
using harness::Terminal;

constexpr const char kNote[] = "Nota: numero maximo de errores por ingreso de datos = 3";
constexpr const char kGiveUp[] = "Paso el numero maximo de errores.....Vuelva otro dia";

void expectNotice(const Terminal& t) {
  SCOPED_TRACE(t.dump());
  EXPECT_EQ(t.text(25, 25, 55), kNote);
  EXPECT_EQ(t.foreground(25, 25), e2e::kYellow);
  EXPECT_EQ(t.foreground(79, 25), e2e::kYellow);
  EXPECT_EQ(t.text(20, 12, 52), kGiveUp);
  EXPECT_EQ(t.foreground(20, 12), e2e::kDefault);
  EXPECT_EQ(t.row(19), "");
  EXPECT_EQ(t.cursor(), (Position{72, 12}));
}

class Menu : public ::testing::Test {
 protected:
  harness::ScratchDir dir;
};

TEST_F(Menu, IsDrawnInPlaceWithTitleAndLabelsInBrightWhite) {
  Terminal t(dir.path());
  expectMenu(t);
  SCOPED_TRACE(t.dump());
  // Title and labels are drawn in bright white, numbers and prompt in the
  // terminal's own colours.
  EXPECT_EQ(t.foreground(10, 3), e2e::kBrightWhite);
  EXPECT_EQ(t.foreground(21, 3), e2e::kBrightWhite);
  EXPECT_EQ(t.foreground(44, 3), e2e::kBrightWhite);
  EXPECT_EQ(t.foreground(21, 4), e2e::kDefault);
  for (int row : {6, 8, 10, 12, 14, 16}) {
    EXPECT_EQ(t.foreground(16, row), e2e::kDefault) << row;
    EXPECT_EQ(t.foreground(21, row), e2e::kDefault) << row;
    EXPECT_EQ(t.foreground(22, row), e2e::kBrightWhite) << row;
    EXPECT_EQ(t.foreground(23, row), e2e::kBrightWhite) << row;
  }
  EXPECT_EQ(t.foreground(21, 19), e2e::kDefault);
  EXPECT_EQ(t.background(22, 6), e2e::kDefault);
  EXPECT_TRUE(dir.names().empty());
}

TEST_F(Menu, LooksTheSameOnALargerTerminal) {
  Terminal t(dir.path(), {.columns = 120, .rows = 40});
  expectMenu(t);
}

struct EndCase {
  const char* name;
  const char* typed;
  Position cursor;  // where the shell's prompt comes back
};

TEST_F(Menu, OptionZeroOrAnEmptyLineEndsTheProgramAndGivesTheTerminalBack) {
  const EndCase cases[] = {
      {"option 0", "0\r", {1, 20}},
      {"option 00", "00\r", {1, 20}},
      {"empty line", "\r", {1, 20}},
      {"end of input", "\x04", {42, 19}},
  };
  for (const EndCase& c : cases) {
    Terminal t(dir.path());
    t.type(c.typed);
    EXPECT_EQ(t.waitExit(), 0) << c.name;
    EXPECT_TRUE(e2e::inLineMode(t.mode())) << c.name;
    EXPECT_EQ(t.cursor(), c.cursor) << c.name;
  }
}

TEST_F(Menu, NumbersOutsideTheMenuDrawItAgainWithoutCounting) {
  Terminal t(dir.path());
  // A line longer than any kept is never cut into the option its start
  // would be (0, which would end the program).
  const std::string largo = std::string(260, '0') + "1\r";
  for (const std::string& option :
       {std::string("6\r"), std::string("10\r"), std::string("99999999999\r"), largo,
        std::string("6\r"), std::string("7\r"), std::string("006\r")}) {
    t.type(option);
    ASSERT_FALSE(t.exited()) << option;
    expectMenu(t);
  }
  // Three wrong entries are still allowed.
  for (int i = 0; i < 3; ++i) {
    t.type("x\r");
    expectMenu(t);
  }
  t.type("1a\r");
  expectNotice(t);
}

// Ctrl+Space types a NUL: a character like any other, so not a digit.
TEST_F(Menu, ANulInTheOptionIsAWrongEntryNotTheEndOfTheLine) {
  Terminal t(dir.path());
  t.type(std::string("1\0x\r", 4));
  expectMenu(t);
  t.type(std::string("\0\r", 2));
  expectMenu(t);
  t.type(std::string("5\0\r", 3));
  expectMenu(t);
  t.type("x\r");
  expectNotice(t);
  EXPECT_TRUE(dir.names().empty());
}

TEST_F(Menu, TheFourthWrongEntryEndsTheProgramAfterTheNoticeAndOneKey) {
  Terminal t(dir.path());
  for (const char* wrong : {"x\r", "1 \r", "-3\r"}) {
    t.type(wrong);
    expectMenu(t);
  }
  t.type("uno\r");
  expectNotice(t);
  ASSERT_FALSE(t.exited());
  t.type("q");
  EXPECT_EQ(t.waitExit(), 0);
  EXPECT_EQ(t.text(72, 12, 1), "q");
  EXPECT_EQ(t.foreground(72, 12), e2e::kYellow);
  EXPECT_TRUE(e2e::inLineMode(t.mode()));
}

TEST_F(Menu, ArrowsAtTheNoticeAreOneKeyPress) {
  Terminal t(dir.path());
  t.type("x\rx\rx\rx\r");
  expectNotice(t);
  t.key(harness::Key::Up);
  // The arrow's first code ends the wait; its bytes never reach the screen.
  EXPECT_EQ(t.waitExit(), 0);
  EXPECT_EQ(t.row(12).find('['), std::string::npos);
  EXPECT_EQ(t.row(12).find('A'), std::string::npos);
}

struct SignalCase {
  const char* name;
  int signal;
};

// Sent from outside while the program holds the terminal raw, at a line or
// at a key wait; SIGABRT as an abort (an exception nobody caught) raises it.
TEST_F(Menu, TerminatingSignalsGiveTheTerminalBackInLineMode) {
  const SignalCase cases[] = {{"SIGTERM", SIGTERM},
                              {"SIGHUP", SIGHUP},
                              {"SIGINT", SIGINT},
                              {"SIGQUIT", SIGQUIT},
                              {"SIGABRT", SIGABRT}};
  for (const SignalCase& c : cases) {
    for (bool awaitingKey : {false, true}) {
      Terminal t(dir.path());
      const rlimit sinCore{0, 0};  // SIGQUIT would leave a core file
      ASSERT_EQ(::prlimit(t.pid(), RLIMIT_CORE, &sinCore, nullptr), 0);
      if (awaitingKey) t.type("x\rx\rx\rx\r");  // the notice waits for a key in raw mode
      ASSERT_EQ(::kill(t.pid(), c.signal), 0);
      EXPECT_EQ(t.waitExit(), harness::killedBy(c.signal)) << c.name;
      EXPECT_TRUE(e2e::inLineMode(t.mode())) << c.name << (awaitingKey ? " during a key" : "");
    }
  }
}

// Ctrl+C typed while a key is awaited is that key, not a signal.
TEST_F(Menu, CtrlCAtAKeyWaitIsAKey) {
  Terminal t(dir.path());
  t.type("4\r");
  t.type("\x03");
  expectMenu(t);
}

// The screens are drawn for 80 x 25: a smaller window is told, with its
// size, before the menu.
TEST_F(Menu, AWindowSmallerThanEightyByTwentyFiveIsToldAtStartUp) {
  for (const auto& [columns, rows] : {std::pair{60, 20}, std::pair{80, 24}}) {
    Terminal t(dir.path(), {.columns = columns, .rows = rows});
    const std::string size = std::to_string(columns) + " x " + std::to_string(rows);
    // In 60 columns the notice's last three characters wrap to row 2.
    EXPECT_EQ(t.row(1) + t.row(2),
              " Ventana de " + size + ": el programa necesita 80 x 25 o mas ...!!!")
        << t.dump();
    t.type("k");
    expectMenu(t);
  }
}

// A script is not told, even in a small window: the notice would take the
// option its first key is.
TEST_F(Menu, AScriptInASmallWindowIsNotToldOfIt) {
  Terminal t(dir.path(), {.columns = 60,
                          .rows = 20,
                          .program = "/bin/sh",
                          .args = {"-c", "printf '5\\n' | " ALUMNOS_BINARY}});
  EXPECT_EQ(t.waitExit(), 0);
  // Option 5 ran: it makes an empty student file where there is none.
  EXPECT_TRUE(dir.exists("ALUMNO.txt")) << t.dump();
}

// Read says EAGAIN on such an input until something comes: a wait, never
// the end of the input.
TEST_F(Menu, InputInNonBlockingModeIsWaitedFor) {
  harness::Options pipe;
  pipe.nonBlockingInput = true;
  pipe.inputDelay = std::chrono::milliseconds(300);
  const harness::Script s = harness::runScript(dir.path(), "4\nk0\n", pipe);
  EXPECT_EQ(s.status, 0);
  EXPECT_NE(s.output.find("No existe el archivo !!!"), std::string::npos) << s.output;

  harness::Options terminal;
  terminal.nonBlockingInput = true;
  terminal.watchSyscalls = false;  // it waits in poll(), not in read()
  Terminal t(dir.path(), terminal);
  ASSERT_FALSE(t.exited()) << t.dump();
  expectMenu(t);
  t.type("4\r");
  EXPECT_EQ(t.row(8), "No existe el archivo !!!") << t.dump();
  t.type("k");
  expectMenu(t);
  t.type("0\r");
  EXPECT_EQ(t.waitExit(), 0);
  EXPECT_TRUE(e2e::inLineMode(t.mode()));
}

struct ScriptCase {
  const char* name;
  const char* input;
};

TEST_F(Menu, WithoutATerminalItEndsAtOnceWhenTheInputDoes) {
  const ScriptCase cases[] = {
      {"empty line", "\n"},
      {"no input at all", ""},
      {"option 0", "0\n"},
      {"wrong entries, then the end", "x\nx\n"},
      {"a line cut short by Ctrl+Z",
       "7\x1a"
       "1\n"},
  };
  for (const ScriptCase& c : cases) {
    harness::Script s = harness::runScript(dir.path(), c.input);
    EXPECT_EQ(s.status, 0) << c.name;
    EXPECT_NE(s.output.find("BASE DE DATOS DE ALUMNOS"), std::string::npos) << c.name;
    EXPECT_EQ(s.errors, "") << c.name;
  }
}

TEST_F(Menu, AScriptedRunDrawsTheSameScreens) {
  harness::Script s = harness::runScript(dir.path(), "x\nx\nx\nx\nq");
  EXPECT_EQ(s.status, 0);
  harness::Screen screen(80, 25);
  screen.feed(s.output);
  EXPECT_EQ(screen.text(25, 25, 55), kNote);
  EXPECT_EQ(screen.foreground(25, 25), e2e::kYellow);
  EXPECT_EQ(screen.text(20, 12, 52), kGiveUp);
  EXPECT_EQ(screen.text(72, 12, 1), "q");
}

}  // namespace
