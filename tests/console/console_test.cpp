// The console layer against a real terminal: the layer writes to a
// pseudo-terminal and libvterm, playing the terminal, shows what a person
// would see.
#include "console/console.hpp"
#include "console/posix/terminal.hpp"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

#include "screen.hpp"

namespace {

using harness::Colour;
using harness::Position;
using namespace console;

const Colour kDefault = Colour::terminalDefault();
const Colour kBrightWhite = Colour::indexed(15);
const Colour kYellow = Colour::indexed(11);

// The layer drawing on a pseudo-terminal of 80 x 25; keys and lines come from
// the terminal too unless a test hands in a pipe.
class Layer : public ::testing::Test {
 protected:
  void SetUp() override { start(-1); }
  void TearDown() override { stop(); }

  void start(int input) {
    ::setenv("LANG", "C.UTF-8", 1);
    winsize size{};
    size.ws_col = 80;
    size.ws_row = 25;
    ASSERT_EQ(::openpty(&master_, &slave_, nullptr, nullptr, &size), 0);
    ::fcntl(master_, F_SETFL, O_NONBLOCK);
    ASSERT_EQ(::tcgetattr(slave_, &found_), 0);
    posix::useDescriptors({input >= 0 ? input : slave_, slave_, slave_});
    openConsole();
  }
  void stop() {
    closeConsole();
    if (pipe_ >= 0) ::close(pipe_);
    ::close(slave_);
    ::close(master_);
    pipe_ = -1;
  }
  // Keys and lines from a pipe holding `input`, then the end of input.
  void inputFrom(const std::string& input) {
    stop();
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    ::close(fds[1]);
    pipe_ = fds[0];
    screen_.emplace(80, 25);
    start(pipe_);
  }
  // Types at the terminal (for readLine on the terminal itself).
  void typeAtTerminal(const std::string& bytes) {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Everything the layer and the terminal's echo sent so far, drawn.
  harness::Screen& screen() {
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(master_, buffer, sizeof buffer)) > 0) {
      screen_->feed(std::string_view(buffer, static_cast<std::size_t>(got)));
    }
    return *screen_;
  }
  Position cursor() { return screen().cursor(); }
  std::string text(int column, int row, int length) { return screen().text(column, row, length); }

  int master_ = -1;
  int slave_ = -1;
  int pipe_ = -1;
  termios found_{};  // the terminal's mode before the layer took it
  std::optional<harness::Screen> screen_{std::in_place, 80, 25};
};

// --- Cursor -----------------------------------------------------------------

TEST_F(Layer, PositionsOutsideTheWindowLeaveTheCursorWhereItWas) {
  const Position outside[] = {{0, 5}, {5, 0}, {81, 1}, {1, 26}, {-3, 4}, {80, 0}, {300, 300}};
  for (const Position& p : outside) {
    moveCursor(10, 10);
    moveCursor(p.column, p.row);
    printText("X");
    EXPECT_EQ(text(10, 10, 1), "X") << p;
    EXPECT_EQ(cursor(), (Position{11, 10})) << p;
  }
}

TEST_F(Layer, TheCornersOfTheWindowCanBeReached) {
  const Position corners[] = {{1, 1}, {80, 1}, {1, 25}, {80, 25}};
  for (const Position& p : corners) {
    moveCursor(p.column, p.row);
    clearToEndOfLine();  // draws nothing that moves the cursor
    EXPECT_EQ(cursor(), p);
  }
}

// --- The cell writer --------------------------------------------------------

TEST_F(Layer, TextWrapsFromTheLastColumnToTheNextRow) {
  moveCursor(75, 3);
  EXPECT_EQ(consoleWrite("ABCDEFGHIJ"), 10);
  EXPECT_EQ(text(75, 3, 6), "ABCDEF");
  EXPECT_EQ(text(1, 4, 4), "GHIJ");
  EXPECT_EQ(cursor(), (Position{5, 4}));
}

TEST_F(Layer, TextEndingInTheLastColumnLeavesTheCursorAtTheStartOfTheNextRow) {
  moveCursor(71, 5);
  consoleWrite("0123456789");
  EXPECT_EQ(cursor(), (Position{1, 6}));
  printText("s");
  moveCursor(71, 7);
  printText("0123456789");
  EXPECT_EQ(cursor(), (Position{1, 8}));
  consoleWrite("c");
  EXPECT_EQ(text(1, 6, 1), "s");
  EXPECT_EQ(text(1, 8, 1), "c");
  EXPECT_EQ(text(71, 7, 10), "0123456789");
}

TEST_F(Layer, TheBottomRightCellScrollsTheScreenAtOnce) {
  moveCursor(1, 1);
  printText("first");
  moveCursor(1, 2);
  printText("second");
  moveCursor(80, 25);
  consoleWrite("x");
  EXPECT_EQ(screen().row(1), "second");
  EXPECT_EQ(text(80, 24, 1), "x");
  EXPECT_EQ(screen().row(25), "");
  EXPECT_EQ(cursor(), (Position{1, 25}));
}

TEST_F(Layer, TheStreamScrollsAtTheBottomRightCellToo) {
  moveCursor(1, 1);
  printText("first");
  moveCursor(80, 25);
  printText("y");
  EXPECT_EQ(screen().row(1), "");
  EXPECT_EQ(text(80, 24, 1), "y");
  EXPECT_EQ(cursor(), (Position{1, 25}));
}

struct ControlCase {
  const char* name;
  Position from;
  const char* text;
  Position to;
};

TEST_F(Layer, TheCellWriterMovesOnControlCodesAndDrawsNothingForThem) {
  const ControlCase cases[] = {
      {"line feed keeps the column", {10, 7}, "\n", {10, 8}},
      {"carriage return", {10, 7}, "\r", {1, 7}},
      {"backspace", {10, 7}, "\b", {9, 7}},
      {"backspace at the left edge", {1, 7}, "\b", {1, 7}},
      {"bell", {10, 7}, "\a", {10, 7}},
      {"line feed on the last row scrolls", {10, 25}, "\n", {10, 25}},
  };
  for (const ControlCase& c : cases) {
    clearScreen();
    moveCursor(c.from.column, c.from.row);
    consoleWrite(c.text);
    EXPECT_EQ(cursor(), c.to) << c.name;
    EXPECT_EQ(screen().row(c.from.row), "") << c.name;
  }
}

TEST_F(Layer, BytesThatATerminalWouldObeyAreShownInOneColumnEach) {
  moveCursor(1, 1);
  printText("MARK");
  const char* evil =
      "\x1b[2J\x1b[1;1HX\x9b"
      "1;1H\x01";
  moveCursor(1, 10);
  consoleWrite(evil);
  moveCursor(1, 11);
  printText(evil);
  EXPECT_EQ(screen().row(1), "MARK");
  EXPECT_EQ(screen().row(10), "?[2J?[1;1HX?1;1H?");
  EXPECT_EQ(screen().row(11), "?[2J?[1;1HX?1;1H?");
  EXPECT_EQ(cursor(), (Position{18, 11}));
}

TEST_F(Layer, LatinOneCodesAreShownAsTheirCharacters) {
  moveCursor(1, 3);
  consoleWrite("Ni\xF1o \xE9");
  consoleWriteChar(0);
  consoleWriteChar(0xFF);
  printChar('\xE1');
  EXPECT_EQ(text(1, 3, 10), "Niño é ÿá ");
  EXPECT_EQ(cursor(), (Position{10, 3}));
}

// --- Blanking ---------------------------------------------------------------

TEST_F(Layer, ClearToEndOfLineBlanksFromTheCursorAndLeavesItThere) {
  const int columns[] = {1, 30, 80};
  for (int column : columns) {
    moveCursor(1, 5);
    printText(std::string(79, 'x').c_str());
    moveCursor(column, 5);
    clearToEndOfLine();
    EXPECT_EQ(screen().row(5), std::string(static_cast<std::size_t>(std::min(column - 1, 79)), 'x'))
        << column;
    EXPECT_EQ(cursor(), (Position{column, 5}));
  }
}

TEST_F(Layer, ClearScreenBlanksEveryCellAndGoesHome) {
  for (int row = 1; row <= 25; ++row) {
    moveCursor(1, row);
    printText("something");
  }
  setTextColor(15);
  clearScreen();
  for (int row = 1; row <= 25; ++row)
    EXPECT_EQ(screen().row(row), "") << row;
  EXPECT_EQ(screen().background(40, 12), kDefault);
  EXPECT_EQ(cursor(), (Position{1, 1}));
}

TEST_F(Layer, ClearingByCommandBlanksTheScreenInDefaultColours) {
  moveCursor(5, 5);
  printText("old");
  setTextColor(14);
  EXPECT_EQ(clearByCommand("cls"), 0);
  EXPECT_EQ(screen().row(5), "");
  EXPECT_EQ(cursor(), (Position{1, 1}));
  printText("new");
  EXPECT_EQ(screen().foreground(1, 1), kDefault);
}

TEST_F(Layer, AnUnknownCommandIsNotRun) {
  moveCursor(5, 5);
  printText("kept");
  EXPECT_EQ(clearByCommand("dir"), -1);
  EXPECT_EQ(text(5, 5, 4), "kept");
  EXPECT_EQ(cursor(), (Position{9, 5}));
}

// --- Colours ----------------------------------------------------------------

TEST_F(Layer, DirectDrawingTakesTheTextColourAndTheStreamKeepsTheDefault) {
  moveCursor(3, 2);
  setTextColor(15);
  consoleWrite("AB");
  printText("cd");
  setTextColor(14);
  consoleWrite("EF");
  EXPECT_EQ(text(3, 2, 6), "ABcdEF");
  EXPECT_EQ(screen().foreground(3, 2), kBrightWhite);
  EXPECT_EQ(screen().foreground(4, 2), kBrightWhite);
  EXPECT_EQ(screen().foreground(5, 2), kDefault);
  EXPECT_EQ(screen().foreground(7, 2), kYellow);
  EXPECT_EQ(screen().background(3, 2), kDefault);
  EXPECT_EQ(cursor(), (Position{9, 2}));
}

struct ColourCase {
  int color;
  std::uint16_t attribute;
};

TEST_F(Layer, SetTextColorTakesTheForegroundAndBitSevenAndKeepsTheBackground) {
  EXPECT_EQ(consoleScreen().normalAttribute, 7);
  const ColourCase cases[] = {
      {15, 15}, {14, 14}, {0x8F, 0x8F}, {0x7F, 0x0F}, {0x1FF, 0x8F}, {7, 7}, {0, 0},
  };
  for (const ColourCase& c : cases) {
    setTextColor(c.color);
    EXPECT_EQ(consoleScreen().textAttribute, c.attribute) << c.color;
  }
}

TEST_F(Layer, ABackgroundOtherThanTheDefaultIsPaintedNotErased) {
  setTextColor(0x8F);  // bright white on bright black
  moveCursor(70, 4);
  clearToEndOfLine();
  consoleWrite("Z");
  EXPECT_EQ(screen().background(69, 4), kDefault);
  EXPECT_EQ(screen().background(71, 4), Colour::indexed(8));
  EXPECT_EQ(screen().background(80, 4), Colour::indexed(8));
  EXPECT_EQ(screen().foreground(70, 4), kBrightWhite);
  EXPECT_EQ(cursor(), (Position{71, 4}));
  clearScreen();
  EXPECT_EQ(screen().background(1, 1), Colour::indexed(8));
  EXPECT_EQ(screen().background(80, 25), Colour::indexed(8));
  EXPECT_EQ(cursor(), (Position{1, 1}));
}

// --- The stream -------------------------------------------------------------

TEST_F(Layer, StreamAndCellsContinueFromEachOther) {
  moveCursor(5, 5);
  printText("abc");
  setTextColor(15);
  consoleWrite("DEF");
  printText("ghi");
  EXPECT_EQ(text(5, 5, 9), "abcDEFghi");
  EXPECT_EQ(cursor(), (Position{14, 5}));
}

TEST_F(Layer, AStreamLineFeedStartsTheNextRowAtColumnOne) {
  moveCursor(30, 5);
  printText("\n\r<<< ... PRESIONE ENTER para continuar >>>");
  EXPECT_EQ(text(1, 6, 41), "<<< ... PRESIONE ENTER para continuar >>>");
  EXPECT_EQ(cursor(), (Position{42, 6}));
  moveCursor(10, 3);
  printText("ab\ncd");
  EXPECT_EQ(text(10, 3, 2), "ab");
  EXPECT_EQ(text(1, 4, 2), "cd");
}

struct NumberCase {
  std::int32_t value;
  const char* shown;
};

TEST_F(Layer, NumbersAreWrittenInDecimalWithNoPadding) {
  const NumberCase cases[] = {
      {-7, "-7"}, {0, "0"}, {20, "20"}, {INT32_MIN, "-2147483648"}, {INT32_MAX, "2147483647"},
  };
  int row = 1;
  for (const NumberCase& c : cases) {
    moveCursor(1, row);
    printNumber(c.value);
    EXPECT_EQ(screen().row(row), c.shown);
    EXPECT_EQ(cursor(), (Position{static_cast<int>(std::string(c.shown).size()) + 1, row}));
    ++row;
  }
}

// --- Lines ------------------------------------------------------------------

struct EchoCase {
  const char* name;
  Position echo;  // where the typed line starts
  const char* typed;
  Position after;
};

TEST_F(Layer, AfterALineTheCursorIsWhereTheTerminalsEchoLeftIt) {
  const EchoCase cases[] = {
      {"short line", {10, 5}, "hola\n", {1, 6}},
      {"empty line", {10, 5}, "\n", {1, 6}},
      {"line that wraps", {75, 5}, "0123456789\n", {1, 7}},
      {"line that ends in the last column", {75, 5}, "012345\n", {1, 6}},
      {"control character echoed as two columns",
       {75, 5},
       "abc\x01"
       "de\n",
       {1, 7}},
      {"on the last row the screen scrolls", {2, 25}, "x\n", {1, 25}},
  };
  for (const EchoCase& c : cases) {
    clearScreen();
    // A one-column prompt, on the terminal before anything is typed.
    moveCursor(c.echo.column - 1, c.echo.row);
    printText(">");
    screen();
    typeAtTerminal(c.typed);
    char line[64];
    ASSERT_TRUE(readLine(line, sizeof line)) << c.name;
    printText("Z");
    EXPECT_EQ(text(c.after.column, c.after.row, 1), "Z") << c.name << "\n" << screen().dump();
  }
}

struct EraseCase {
  const char* name;
  Position echo;  // where the typed line starts
  const char* typed;
  const char* kept;
};

// An erase blanks exactly the columns its character showed, across the
// right edge too, and the next character goes where it was.
TEST_F(Layer, AnEraseBlanksWhatTheEchoShowed) {
  const EraseCase cases[] = {
      {"back across the right edge", {75, 5}, "0123456789\x7f\x7f\x7f\x7f\x7f\x7f", "0123"},
      {"a character in the last column", {75, 5}, "012345\x7f", "01234"},
      {"a control character's two columns", {10, 5}, "a\x01\x7f", "a"},
      {"a tab's columns", {10, 5}, "a\t\x7f", "a"},
      {"the whole line", {10, 5}, "hola que\x15", ""},
  };
  for (const EraseCase& c : cases) {
    SCOPED_TRACE(c.name);
    clearScreen();
    moveCursor(c.echo.column - 1, c.echo.row);
    printText(">");
    screen();
    typeAtTerminal(std::string(c.typed) + "Z\n");
    char line[64];
    ASSERT_TRUE(readLine(line, sizeof line));
    EXPECT_EQ(std::string(line), std::string(c.kept) + "Z");
    SCOPED_TRACE(screen().dump());
    const auto margin = static_cast<std::size_t>(c.echo.column - 2);
    EXPECT_EQ(screen().row(c.echo.row), std::string(margin, ' ') + ">" + c.kept + "Z");
    EXPECT_EQ(screen().row(c.echo.row + 1), "");
    EXPECT_EQ(cursor(), (Position{1, c.echo.row + 1}));
  }
}

TEST_F(Layer, LinesAreCutToTheBufferAndTheRestIsDroppedButCounted) {
  inputFrom("abcdefghijkl\nxy\r\n");
  char line[8];
  EXPECT_EQ(readLine(line, sizeof line), std::optional<std::size_t>(12));
  EXPECT_STREQ(line, "abcdefg");
  EXPECT_EQ(readLine(line, sizeof line), std::optional<std::size_t>(2));
  EXPECT_STREQ(line, "xy");
}

struct Conversion {
  const char* name;
  const char* locale;  // LC_ALL
  std::string typed;   // one line
  std::string kept;
};

// Lines are single-byte text like everything the program stores and shows.
TEST_F(Layer, ALineIsKeptAsSingleByteTextOfItsLocale) {
  const Conversion cases[] = {
      {"ASCII", "C.UTF-8", "Perez 12\n", "Perez 12"},
      {"Latin-1 letters", "en_US.UTF-8", "MU\xC3\x91OZ \xC3\xA1\xC3\xBF\xC2\xA0\n",
       "MU\xD1OZ \xE1\xFF\xA0"},
      {"five N-tildes, each one byte", "C.UTF-8", "\xC3\x91\xC3\x91\xC3\x91\xC3\x91\xC3\x91\n",
       "\xD1\xD1\xD1\xD1\xD1"},
      {"characters outside Latin-1", "C.UTF-8", "5\xE2\x82\xAC \xF0\x9F\x98\x80\xC4\x80\n",
       "5? ??"},
      {"a stray continuation byte", "C.UTF-8",
       "a\x91"
       "b\n",
       "a?b"},
      {"a Latin-1 byte is not UTF-8", "C.UTF-8",
       "\xD1"
       "A\n",
       "?A"},
      {"an overlong form and a surrogate", "C.UTF-8", "\xC0\xAF\xED\xA0\x80\n", "?????"},
      {"a character cut short by the line's end", "C.UTF-8", "ab\xC3\n", "ab?"},
      {"a carriage return inside a character is dropped", "C.UTF-8", "\xC3\r\x91\n", "\xD1"},
      {"a NUL is a character", "C.UTF-8", std::string("1\0x\n", 4), std::string("1\0x", 3)},
      {"C locale: bytes as they are", "C", "MU\xC3\x91OZ\xFF\n", "MU\xC3\x91OZ\xFF"},
      {"Latin-1 locale: bytes as they are", "es_ES.ISO-8859-1", "\xD1\xC3\x91\n", "\xD1\xC3\x91"},
  };
  for (const Conversion& c : cases) {
    SCOPED_TRACE(c.name);
    ::setenv("LC_ALL", c.locale, 1);
    inputFrom(c.typed);
    char line[64];
    EXPECT_EQ(readLine(line, sizeof line), std::optional<std::size_t>(c.kept.size()));
    EXPECT_EQ(std::string(line, c.kept.size() + 1), c.kept + '\0');
  }
  ::unsetenv("LC_ALL");
}

// Nine bytes and the zero: five two-byte characters would have been cut in
// the middle of the fifth.
TEST_F(Layer, ACutLineEndsOnAWholeCharacter) {
  ::setenv("LC_ALL", "C.UTF-8", 1);
  inputFrom("\xC3\x91\xC3\x91\xC3\x91\xC3\x91\xC3\x91\xC3\x91\xC3\x91\xC3\x91\xC3\x91\xC3\x91\n");
  ::unsetenv("LC_ALL");
  char line[10];
  EXPECT_EQ(readLine(line, sizeof line), std::optional<std::size_t>(10));
  EXPECT_EQ(std::string(line), std::string(9, '\xD1'));
}

TEST_F(Layer, AtTheEndOfInputNoLineIsReadAndTheBufferIsLeftAlone) {
  inputFrom("\nlast");
  char line[16] = "previous";
  ASSERT_TRUE(readLine(line, sizeof line));
  EXPECT_STREQ(line, "");
  ASSERT_TRUE(readLine(line, sizeof line));
  EXPECT_STREQ(line, "last");
  std::strcpy(line, "previous");
  EXPECT_FALSE(readLine(line, sizeof line));
  EXPECT_FALSE(readLine(line, sizeof line));
  EXPECT_STREQ(line, "previous");
  EXPECT_EQ(readKey(), -1);
}

TEST_F(Layer, CtrlZEndsTheInputWhereItStands) {
  inputFrom(
      "ab\x1a"
      "cd\nef\n");
  char line[16] = "previous";
  ASSERT_TRUE(readLine(line, sizeof line));
  EXPECT_STREQ(line, "ab");
  EXPECT_FALSE(readLine(line, sizeof line));
  EXPECT_STREQ(line, "ab");
}

TEST_F(Layer, KeysAndLinesTakeTheirTurnsFromOneInput) {
  inputFrom("12\nX\x1b[Ay\n\x1b[1;5P");
  char line[16];
  ASSERT_TRUE(readLine(line, sizeof line));
  EXPECT_STREQ(line, "12");
  EXPECT_EQ(readKey(), 'X');
  EXPECT_EQ(readKey(), 0);
  EXPECT_EQ(consoleScreen().pendingExtendedCode, 72);
  EXPECT_EQ(readKey(), 72);
  ASSERT_TRUE(readLine(line, sizeof line));
  EXPECT_STREQ(line, "y");
  EXPECT_EQ(readKey(), 0);
  EXPECT_EQ(readKey(), 94);  // Ctrl+F1
  EXPECT_EQ(readKey(), -1);
}

TEST_F(Layer, ALineDoesNotTakeTheSecondCodeOfAnExtendedKey) {
  inputFrom("\x1b[Bline\n");
  EXPECT_EQ(readKey(), 0);
  char line[16];
  ASSERT_TRUE(readLine(line, sizeof line));
  EXPECT_STREQ(line, "line");
  EXPECT_EQ(readKey(), 80);
}

// --- Keys -------------------------------------------------------------------

TEST_F(Layer, EchoedKeysAreDrawnAsCells) {
  inputFrom("\x1b[A\r");
  moveCursor(10, 5);
  EXPECT_EQ(readKeyEcho(), 0);
  EXPECT_EQ(text(10, 5, 1), " ");
  EXPECT_EQ(cursor(), (Position{11, 5}));
  EXPECT_EQ(readKeyEcho(), 72);
  EXPECT_EQ(text(11, 5, 1), "H");
  EXPECT_EQ(readKeyEcho(), 13);
  EXPECT_EQ(cursor(), (Position{1, 5}));
}

TEST_F(Layer, ALoneEscapeIsTheEscKey) {
  inputFrom("\x1b");
  EXPECT_EQ(readKey(), 27);
  EXPECT_EQ(readKey(), -1);
}

// While a key is awaited the keyboard sends no signals: Ctrl+C is a key like
// any other. Afterwards they are back, the terminal still raw; at the end the
// terminal's mode is exactly as it was found.
TEST_F(Layer, CtrlCIsAKeyAndTheTerminalsModeComesBack) {
  std::thread typist([this] {
    termios now{};
    // Type only once the layer has the keyboard's signals off, as a person would.
    for (int i = 0; i < 5000; ++i) {
      if (::tcgetattr(slave_, &now) == 0 && (now.c_lflag & ISIG) == 0) break;
      ::usleep(1000);
    }
    typeAtTerminal("\x03");
  });
  int key = readKey();
  typist.join();
  EXPECT_EQ(key, 3);
  termios between{};
  ASSERT_EQ(::tcgetattr(slave_, &between), 0);
  EXPECT_EQ(between.c_lflag & (ISIG | ICANON | ECHO), static_cast<tcflag_t>(ISIG));
  closeConsole();
  termios after{};
  ASSERT_EQ(::tcgetattr(slave_, &after), 0);
  EXPECT_EQ(after.c_lflag, found_.c_lflag);
  EXPECT_EQ(after.c_iflag, found_.c_iflag);
  EXPECT_EQ(after.c_oflag, found_.c_oflag);
  EXPECT_EQ(after.c_cc[VMIN], found_.c_cc[VMIN]);
}

// Stopped, at a line or at a key wait, the program gives the shell the
// terminal's own mode; continued, it takes its own mode again and reads on.
TEST_F(Layer, AStopGivesTheTerminalItsModeAndContinuingTakesItAgain) {
  for (bool awaitingKey : {false, true}) {
    SCOPED_TRACE(awaitingKey ? "at a key wait" : "at a line");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::setpgid(0, 0);  // a group of its own, which a stop signal may stop
      char line[8];
      const bool read = awaitingKey ? readKey() == 'k' : readLine(line, sizeof line).has_value();
      ::_exit(read ? 0 : 1);
    }
    // The group is set on both sides, so that the stop below cannot reach the
    // child while it is still in this process's group: where that group has
    // no parent in the session (a run started with setsid, as CI may do), the
    // kernel discards stop signals sent to it.
    ::setpgid(child, child);
    // The mode the program holds the terminal in while the child waits.
    auto inMode = [this](tcflag_t on, tcflag_t off) {
      termios now{};
      for (int i = 0; i < 500; ++i) {
        if (::tcgetattr(slave_, &now) == 0 && (now.c_lflag & (on | off)) == on) return true;
        ::usleep(2000);
      }
      return false;
    };
    const tcflag_t waiting = awaitingKey ? 0 : ISIG;
    ASSERT_TRUE(inMode(waiting, ICANON | ECHO | ISIG));
    ASSERT_EQ(::kill(child, SIGTSTP), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, WUNTRACED), child);
    ASSERT_TRUE(WIFSTOPPED(status));
    termios stopped{};
    ASSERT_EQ(::tcgetattr(slave_, &stopped), 0);
    EXPECT_EQ(stopped.c_lflag, found_.c_lflag);
    EXPECT_EQ(stopped.c_iflag, found_.c_iflag);
    ASSERT_EQ(::kill(child, SIGCONT), 0);
    EXPECT_TRUE(inMode(waiting, ICANON | ECHO | ISIG));
    typeAtTerminal(awaitingKey ? "k" : "x\n");
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
}

}  // namespace
