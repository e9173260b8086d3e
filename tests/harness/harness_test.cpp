// The harness checked against a fixture program whose every byte is known, so
// that a screen test failing later means the program, not the harness.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "files.hpp"
#include "terminal.hpp"

namespace {

using harness::Colour;
using harness::Key;
using harness::Options;
using harness::Position;
using harness::ScratchDir;
using harness::Terminal;
using namespace std::chrono_literals;

Options fixture(std::vector<std::string> steps) {
  return {.program = FIXTURE_PROGRAM, .args = std::move(steps)};
}

// Every table row has a name, used for the test's name and when it is printed.
template <class Case>
std::string caseName(const testing::TestParamInfo<Case>& p) {
  return p.param.name;
}
template <class Case>
requires requires(Case c) {
  c.name;
}
void PrintTo(const Case& c, std::ostream* out) {
  *out << c.name;
}

// --- What is drawn reads back at the right cell, in the right colour ---

struct CellCase {
  const char* name;
  std::string printed;
  Position at;
  int cells;
  std::string text;
  Colour fg;
  Colour bg;
  Position cursor;
};

class ScreenReadback : public testing::TestWithParam<CellCase> {};

TEST_P(ScreenReadback, TextColourAndCursor) {
  const CellCase& c = GetParam();
  ScratchDir dir;
  Terminal t(dir.path(), fixture({"print:" + c.printed, "line"}));
  EXPECT_EQ(t.text(c.at.column, c.at.row, c.cells), c.text) << t.dump();
  EXPECT_EQ(t.foreground(c.at.column, c.at.row), c.fg);
  EXPECT_EQ(t.background(c.at.column, c.at.row), c.bg);
  EXPECT_EQ(t.cursor(), c.cursor);
}

const Colour kDefault = Colour::terminalDefault();

INSTANTIATE_TEST_SUITE_P(
    Harness, ScreenReadback,
    testing::Values(
        CellCase{"TextAtPosition", "\x1b[3;7HHola", {7, 3}, 4, "Hola", kDefault, kDefault, {11, 3}},
        CellCase{"BrightWhiteIsIndex15",
                 "\x1b[97mTitulo",
                 {1, 1},
                 6,
                 "Titulo",
                 Colour::indexed(15),
                 kDefault,
                 {7, 1}},
        CellCase{
            "Sgr39BackToDefault", "\x1b[97mA\x1b[39mB", {2, 1}, 1, "B", kDefault, kDefault, {3, 1}},
        CellCase{"YellowOnBlue",
                 "\x1b[10;20H\x1b[93;44mZ\x1b[m",
                 {20, 10},
                 1,
                 "Z",
                 Colour::indexed(11),
                 Colour::indexed(4),
                 {21, 10}},
        CellCase{
            "LightGreyIsIndex7", "\x1b[37mg", {1, 1}, 1, "g", Colour::indexed(7), kDefault, {2, 1}},
        CellCase{"DirectColour",
                 "\x1b[38;2;1;2;3mR",
                 {1, 1},
                 1,
                 "R",
                 Colour::rgb(0x010203),
                 kDefault,
                 {2, 1}},
        CellCase{"Utf8OneCellEach",
                 "\x1b[2;1H\xc3\xb1"
                 "and\xc3\xba",
                 {1, 2},
                 5,
                 "\xc3\xb1"
                 "and\xc3\xba",
                 kDefault,
                 kDefault,
                 {6, 2}},
        CellCase{
            "UntouchedCellsAreBlank", "\x1b[5;5H", {1, 5}, 3, "   ", kDefault, kDefault, {5, 5}},
        CellCase{"CursorMovesRelative",
                 "\x1b[12;40H\x1b[2A\x1b[3Dx",
                 {37, 10},
                 1,
                 "x",
                 kDefault,
                 kDefault,
                 {38, 10}},
        CellCase{
            "BottomRightCell", "\x1b[25;79HYZ", {79, 25}, 2, "YZ", kDefault, kDefault, {80, 25}},
        CellCase{"NewlineIsCrLfOnTheTerminal",
                 "uno\ndos",
                 {1, 2},
                 3,
                 "dos",
                 kDefault,
                 kDefault,
                 {4, 2}}),
    caseName<CellCase>);

TEST(Harness, RowDropsTrailingBlanksButTextKeepsThem) {
  ScratchDir dir;
  Terminal t(dir.path(), fixture({"print:\x1b[4;3Habc   \x1b[1;1H", "line"}));
  EXPECT_EQ(t.row(4), "  abc");
  EXPECT_EQ(t.text(1, 4, 8), "  abc   ");
  EXPECT_EQ(t.row(5), "");
}

TEST(Harness, CellsOffTheScreenAreRejected) {
  ScratchDir dir;
  Terminal t(dir.path(), fixture({"line"}));
  EXPECT_THROW(t.text(80, 1, 2), std::out_of_range);
  EXPECT_THROW(t.text(1, 26, 1), std::out_of_range);
  EXPECT_THROW(t.foreground(0, 1), std::out_of_range);
  EXPECT_THROW(t.row(0), std::out_of_range);
}

// --- Sizes ---

struct SizeCase {
  int columns;
  int rows;
};

void PrintTo(const SizeCase& size, std::ostream* out) {
  *out << size.columns << "x" << size.rows;
}

class Sizes : public testing::TestWithParam<SizeCase> {};

TEST_P(Sizes, ProgramSeesTheSizeAndCanDrawToTheLastCell) {
  const auto [columns, rows] = GetParam();
  const std::string last = std::to_string(rows) + ";" + std::to_string(columns);
  ScratchDir dir;
  Terminal t(dir.path(), {.columns = columns,
                          .rows = rows,
                          .program = FIXTURE_PROGRAM,
                          .args = {"size", "print:\x1b[" + last + "HZ\x1b[2;1H", "line"}});
  EXPECT_EQ(t.row(1), "size:" + std::to_string(columns) + "x" + std::to_string(rows));
  EXPECT_EQ(t.text(columns, rows, 1), "Z") << t.dump();
  EXPECT_EQ(t.columns(), columns);
  EXPECT_EQ(t.rows(), rows);
  EXPECT_THROW(t.text(columns + 1, 1, 1), std::out_of_range);
}

INSTANTIATE_TEST_SUITE_P(Harness, Sizes,
                         testing::Values(SizeCase{80, 25}, SizeCase{100, 30}, SizeCase{40, 10}),
                         [](const testing::TestParamInfo<SizeCase>& p) {
                           return testing::PrintToString(p.param);
                         });

TEST(Harness, ATerminalCanReportNoSizeWhileTheScreenKeepsOne) {
  ScratchDir dir;
  Terminal t(dir.path(), {.program = FIXTURE_PROGRAM,
                          .args = {"size", "print:\x1b[25;80HZ", "line"},
                          .reportsNoSize = true});
  EXPECT_EQ(t.row(1), "size:0x0");
  EXPECT_EQ(t.text(80, 25, 1), "Z") << t.dump();
}

// --- Typing waits for the program like a clerk does ---

// How each case hands its keys over.
enum class Typing { Whole, ByteByByte, WholeWithoutSyscalls };

void PrintTo(Typing typing, std::ostream* out) {
  switch (typing) {
    case Typing::Whole:
      *out << "Whole";
      return;
    case Typing::ByteByByte:
      *out << "ByteByByte";
      return;
    case Typing::WholeWithoutSyscalls:
      *out << "WholeWithoutSyscalls";
      return;
  }
}

class Synchronisation : public testing::TestWithParam<Typing> {};

// Each line is typed only when its prompt is on the screen, so each echo
// lands right after its own prompt and each answer follows its line.
TEST_P(Synchronisation, LinesTypedInTurnComeBackInOrder) {
  Options options = fixture({"print:>", "line", "print:>", "line", "print:>", "line", "line"});
  options.watchSyscalls = GetParam() != Typing::WholeWithoutSyscalls;
  ScratchDir dir;
  Terminal t(dir.path(), options);
  ASSERT_EQ(t.row(1), ">");
  ASSERT_EQ(t.cursor(), (Position{2, 1}));

  const std::vector<std::string> words = {"uno", "dos", "tres"};
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (GetParam() == Typing::ByteByByte) {
      t.typeByteByByte(words[i] + "\r");
    } else {
      t.type(words[i] + "\r");
    }
    const int row = static_cast<int>(2 * i + 1);
    EXPECT_EQ(t.row(row), ">" + words[i]) << t.dump();
    EXPECT_EQ(t.row(row + 1), "got:" + words[i]) << t.dump();
    if (i + 1 < words.size()) {
      EXPECT_EQ(t.row(row + 2), ">") << t.dump();
      EXPECT_EQ(t.cursor(), (Position{2, row + 2}));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Harness, Synchronisation,
                         testing::Values(Typing::Whole, Typing::ByteByByte,
                                         Typing::WholeWithoutSyscalls),
                         [](const testing::TestParamInfo<Typing>& p) {
                           return testing::PrintToString(p.param);
                         });

// Quiet output is not idleness: the program is still busy after the line.
TEST(Harness, TypeWaitsForWorkThatProducesNoOutputForAWhile) {
  ScratchDir dir;
  Terminal t(dir.path(), fixture({"line", "sleep:400", "print:hecho", "line"}));
  t.type("x\r");
  EXPECT_EQ(t.row(3), "hecho") << t.dump();
}

TEST(Harness, RawKeysTypedOneAtATimeEachReachTheProgram) {
  ScratchDir dir;
  Terminal t(dir.path(), fixture({"key", "key", "key", "line"}));
  t.typeByteByByte("a\x7f\x03");
  EXPECT_EQ(t.row(1), "key:61");
  EXPECT_EQ(t.row(2), "key:7f");
  EXPECT_EQ(t.row(3), "key:03");
  EXPECT_EQ(t.exited(), std::nullopt);
}

// The fixture, like the program's key reader, waits 40 ms after ESC: settling
// must outlast that wait and see the whole key come back.
struct KeyCase {
  const char* name;
  Key key;
  std::string read;
};

class Keys : public testing::TestWithParam<KeyCase> {};

TEST_P(Keys, ArriveAsOneSequence) {
  ScratchDir dir;
  Terminal t(dir.path(), fixture({"esckey", "line"}));
  t.key(GetParam().key);
  EXPECT_EQ(t.row(1), "key:" + GetParam().read) << t.dump();
}

INSTANTIATE_TEST_SUITE_P(Harness, Keys,
                         testing::Values(KeyCase{"Esc", Key::Esc, "1b"},
                                         KeyCase{"Up", Key::Up, "1b 5b 41"},
                                         KeyCase{"F1", Key::F1, "1b 4f 50"},
                                         KeyCase{"F5", Key::F5, "1b 5b 31 35 7e"},
                                         KeyCase{"Delete", Key::Delete, "1b 5b 33 7e"},
                                         KeyCase{"Enter", Key::Enter, "0d"}),
                         caseName<KeyCase>);

TEST(Harness, ReadingFromDevTtyCountsAsWaitingForInput) {
  ScratchDir dir;
  Terminal t(dir.path(), fixture({"ttykey", "ttykey", "line"}));
  t.type("q");
  t.type("r");
  EXPECT_EQ(t.row(1), "key:71");
  EXPECT_EQ(t.row(2), "key:72");
}

// More than the terminal's buffers hold, both ways at once: the harness must
// keep reading the program's output while it is still writing its input.
TEST(Harness, LargeInputEchoedBackDoesNotDeadlock) {
  constexpr int kBytes = 200'000;
  ScratchDir dir;
  Terminal t(dir.path(), fixture({"echo:" + std::to_string(kBytes), "line"}));
  std::string typed;
  for (int i = 0; i < kBytes; ++i)
    typed += static_cast<char>('a' + i % 26);
  t.type(typed);
  EXPECT_EQ(t.row(24), "echoed:" + std::to_string(kBytes)) << t.dump();
}

TEST(Harness, LargeOutputIsAllDrawn) {
  ScratchDir dir;
  Terminal t(dir.path(), fixture({"fill:300000", "print:\x1b[1;1Hfin", "line"}));
  EXPECT_EQ(t.text(1, 1, 5), "fin..") << t.dump();
  EXPECT_EQ(t.cursor(), (Position{4, 1}));
}

TEST(Harness, SentTypeaheadIsReadInOrderOnceSettled) {
  ScratchDir dir;
  Terminal t(dir.path(), fixture({"line", "line", "line"}));
  t.send("uno\rdos\r");
  t.settle();
  const std::string screen = t.dump();
  const auto first = screen.find("got:uno");
  const auto second = screen.find("got:dos");
  ASSERT_NE(first, std::string::npos) << screen;
  ASSERT_NE(second, std::string::npos) << screen;
  EXPECT_LT(first, second) << screen;
}

// --- Exit ---

struct ExitCase {
  const char* name;
  std::vector<std::string> steps;
  int status;
};

class Exits : public testing::TestWithParam<ExitCase> {};

TEST_P(Exits, StatusIsReported) {
  ScratchDir dir;
  Terminal t(dir.path(), fixture(GetParam().steps));
  EXPECT_EQ(t.exited(), GetParam().status);
  EXPECT_EQ(t.waitExit(), GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(
    Harness, Exits,
    testing::Values(ExitCase{"Zero", {"exit:0"}, 0}, ExitCase{"Three", {"exit:3"}, 3},
                    ExitCase{"TwoFiftyFive", {"exit:255"}, 255},
                    ExitCase{"Terminated", {"signal:15"}, harness::killedBy(SIGTERM)},
                    ExitCase{"Killed", {"signal:9"}, harness::killedBy(SIGKILL)},
                    ExitCase{"Interrupted", {"signal:2"}, harness::killedBy(SIGINT)}),
    caseName<ExitCase>);

TEST(Harness, LastOutputBeforeExitIsOnTheScreen) {
  ScratchDir dir;
  Terminal t(dir.path(), fixture({"line", "print:\x1b[20;10Hadios", "exit:4"}));
  t.type("x\r");
  EXPECT_EQ(t.exited(), 4);
  EXPECT_EQ(t.text(10, 20, 5), "adios") << t.dump();
}

// The test process may itself ignore SIGINT (a shell's background job does);
// the program must still start with the default action, as from a terminal.
TEST(Harness, InterruptKeyInLineModeIsASignalDeath) {
  struct IgnoreInterrupt {
    struct sigaction saved {};
    IgnoreInterrupt() {
      struct sigaction ignore {};
      ignore.sa_handler = SIG_IGN;
      sigaction(SIGINT, &ignore, &saved);
    }
    ~IgnoreInterrupt() { sigaction(SIGINT, &saved, nullptr); }
  } ignoring;
  ScratchDir dir;
  Terminal t(dir.path(), fixture({"line"}));
  ASSERT_EQ(t.exited(), std::nullopt);
  t.type("\x03");  // the interrupt key, in line mode
  EXPECT_EQ(t.waitExit(), harness::killedBy(SIGINT));
}

// --- Deadlines: a stuck program fails the test, it never hangs it ---

struct DeadlineCase {
  const char* name;
  std::vector<std::string> steps;
  std::string typed;  // empty: the constructor's own settle is the one that fails
  bool watchSyscalls;
};

class Deadlines : public testing::TestWithParam<DeadlineCase> {};

TEST_P(Deadlines, SettleFailsWithTheScreenAndKillsTheProgram) {
  const DeadlineCase& c = GetParam();
  Options options = fixture(c.steps);
  options.deadline = 300ms;
  options.watchSyscalls = c.watchSyscalls;
  ScratchDir dir;
  const auto start = std::chrono::steady_clock::now();
  try {
    if (c.typed.empty()) {
      Terminal t(dir.path(), options);
      ADD_FAILURE() << "settled on a program that never reads:\n" << t.dump();
    } else {
      Terminal t(dir.path(), options);
      t.type(c.typed);
      ADD_FAILURE() << "settled on a program that stopped reading:\n" << t.dump();
    }
  } catch (const harness::Failure& failure) {
    const std::string message = failure.what();
    EXPECT_NE(message.find("did not come to wait for input within 300 ms"), std::string::npos)
        << message;
    EXPECT_NE(message.find("ocupado"), std::string::npos) << "no screen in:\n" << message;
    EXPECT_NE(message.find("killed by signal 9"), std::string::npos) << message;
  }
  EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
}

INSTANTIATE_TEST_SUITE_P(
    Harness, Deadlines,
    testing::Values(DeadlineCase{"NeverReads", {"print:ocupado", "pause"}, "", true},
                    DeadlineCase{"StopsReading", {"print:ocupado", "line", "pause"}, "x\r", true},
                    DeadlineCase{"EndlessOutput", {"print:ocupado", "line", "dots"}, "x\r", false}),
    caseName<DeadlineCase>);

TEST(Harness, WaitExitFailsOnAProgramThatDoesNotEnd) {
  Options options = fixture({"print:esperando", "line"});
  options.deadline = 300ms;
  ScratchDir dir;
  Terminal t(dir.path(), options);
  try {
    t.waitExit();
    ADD_FAILURE() << "waitExit returned for a program still reading";
  } catch (const harness::Failure& failure) {
    const std::string message = failure.what();
    EXPECT_NE(message.find("did not end within 300 ms"), std::string::npos) << message;
    EXPECT_NE(message.find("esperando"), std::string::npos) << message;
  }
  EXPECT_EQ(t.exited(), harness::killedBy(SIGKILL));
}

TEST(Harness, AProgramThatCannotStartIsReported) {
  ScratchDir dir;
  Options options;
  options.program = dir.path() + "/no-such-program";
  EXPECT_THROW(Terminal(dir.path(), options), harness::Failure);
  EXPECT_THROW(harness::runScript(dir.path(), "", options), harness::Failure);
}

// --- The child's surroundings ---

TEST(Harness, ProgramRunsInTheScratchDirectoryOnItsOwnTerminal) {
  ScratchDir dir;
  Options options = fixture({"tty", "cwd", "env:TERM", "env:LANG", "env:EXTRA", "line"});
  options.env = {"EXTRA=s\xc3\xad", "LANG=C.UTF-8"};
  Terminal t(dir.path(), options);
  EXPECT_EQ(t.row(1), "tty:yes");
  EXPECT_EQ(t.row(2), std::filesystem::canonical(dir.path()).string());
  EXPECT_EQ(t.row(3), "xterm-256color");
  EXPECT_EQ(t.row(4), "C.UTF-8");
  EXPECT_EQ(t.row(5), "s\xc3\xad");
}

// --- Without a terminal ---

struct ScriptCase {
  const char* name;
  std::vector<std::string> steps;
  std::string input;
  std::string output;
  std::string errors;
  int status;
};

class Scripts : public testing::TestWithParam<ScriptCase> {};

TEST_P(Scripts, OutputAndStatus) {
  const ScriptCase& c = GetParam();
  ScratchDir dir;
  const harness::Script s = harness::runScript(dir.path(), c.input, fixture(c.steps));
  EXPECT_EQ(s.output, c.output);
  EXPECT_EQ(s.errors, c.errors);
  EXPECT_EQ(s.status, c.status);
}

INSTANTIATE_TEST_SUITE_P(
    Harness, Scripts,
    testing::Values(
        ScriptCase{"LinesThenEndOfInput",
                   {"line", "line", "line", "exit:6"},
                   "uno\ndos\n",
                   "got:uno\ngot:dos\neof\n",
                   "",
                   6},
        ScriptCase{"NoControllingTerminal", {"tty", "size"}, "", "tty:no\nsize:none\n", "", 0},
        ScriptCase{"KeysFromThePipe",
                   {"key", "esckey", "key"},
                   "a\x1b[A",
                   "key:61\nkey:1b 5b 41\neof\n",
                   "",
                   0},
        ScriptCase{"ErrorsApart", {"print:out", "stderr:err"}, "", "out", "err", 0},
        ScriptCase{"SameEnvironmentAsOnTheTerminal", {"env:TERM"}, "", "xterm-256color\n", "", 0},
        ScriptCase{
            "SignalDeath", {"print:x", "signal:15"}, "", "x", "", harness::killedBy(SIGTERM)},
        ScriptCase{"UnreadInputIsNoFault", {"exit:2"}, std::string(1 << 20, 'x'), "", "", 2}),
    caseName<ScriptCase>);

TEST(Harness, ScriptRunsInTheScratchDirectory) {
  ScratchDir dir;
  const harness::Script s = harness::runScript(dir.path(), "", fixture({"cwd"}));
  EXPECT_EQ(s.output, std::filesystem::canonical(dir.path()).string() + "\n");
}

TEST(Harness, ScriptDeadlineKillsAStuckProgram) {
  ScratchDir dir;
  Options options = fixture({"print:parcial", "pause"});
  options.deadline = 300ms;
  try {
    harness::runScript(dir.path(), "", options);
    ADD_FAILURE() << "runScript returned for a program that never ends";
  } catch (const harness::Failure& failure) {
    EXPECT_NE(std::string(failure.what()).find("parcial"), std::string::npos) << failure.what();
  }
}

// --- Scratch directories ---

TEST(ScratchDir, FilesHoldRawBytes) {
  ScratchDir dir;
  const std::string bytes("A\0\xff\n\r\x1a", 6);
  EXPECT_TRUE(dir.names().empty());
  EXPECT_FALSE(dir.exists("ALUMNO.txt"));
  dir.write("ALUMNO.txt", bytes);
  EXPECT_TRUE(dir.exists("ALUMNO.txt"));
  EXPECT_EQ(dir.read("ALUMNO.txt"), bytes);
  dir.write("ALUMNO.txt", "");
  EXPECT_EQ(dir.read("ALUMNO.txt"), "");
  dir.write("CURSO.txt", "c");
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"ALUMNO.txt", "CURSO.txt"}));
}

TEST(ScratchDir, MissingOrUnreadableFilesAreErrorsNotEmpty) {
  ScratchDir dir;
  EXPECT_THROW(dir.read("TEMPORAL.txt"), std::runtime_error);
  std::filesystem::create_directory(dir.path() + "/ALUMNO.txt");
  EXPECT_TRUE(dir.exists("ALUMNO.txt"));
  EXPECT_THROW(dir.read("ALUMNO.txt"), std::runtime_error);
}

TEST(ScratchDir, IsFreshAndGoesAwayWithItsContents) {
  std::string path;
  {
    ScratchDir dir;
    ScratchDir other;
    EXPECT_NE(dir.path(), other.path());
    path = dir.path();
    dir.write("NOTAALUMNO.txt", "n");
    std::filesystem::create_directory(path + "/sub");
  }
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
