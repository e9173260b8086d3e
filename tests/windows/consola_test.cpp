// The console layer on a real Windows console: key events put in the
// console's input with WriteConsoleInputW and read back through readKey;
// cells and attributes read back with ReadConsoleOutputW; lines from the
// console's own line input; "cls" through the command interpreter.
//
// Needs a console of 80 x 25 in light grey on black (wine in a pseudo-
// terminal gives one); its report goes to standard output, which the runner
// sends to a file.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "console/console.hpp"
#include "tabla_teclas.hpp"

namespace {

using console::kAlt;
using console::kCtrl;
using console::Key;
using console::kShift;

// Inheritable, so that the interpreter started by clearByCommand gets the
// console as its standard output too, as a program started in it does.
HANDLE openDevice(const char* name) {
  SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return ::CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inherited, OPEN_EXISTING, 0, nullptr);
}

// The console as a test sees it, and the layer opened on it for one test.
class Consola : public ::testing::Test {
 protected:
  void SetUp() override {
    input_ = openDevice("CONIN$");
    output_ = openDevice("CONOUT$");
    ASSERT_NE(input_, INVALID_HANDLE_VALUE);
    ASSERT_NE(output_, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(::GetConsoleMode(input_, &modeBefore_));
    ASSERT_TRUE(::FlushConsoleInputBuffer(input_));
    // The stream goes to the console, as when the program runs in one.
    savedStdout_ = ::GetStdHandle(STD_OUTPUT_HANDLE);
    ::SetStdHandle(STD_OUTPUT_HANDLE, output_);
    ::SetConsoleTextAttribute(output_, 7);
  }
  void TearDown() override {
    console::closeConsole();
    ::SetConsoleScreenBufferSize(output_, {80, 25});
    ::SetStdHandle(STD_OUTPUT_HANDLE, savedStdout_);
    ::SetConsoleTextAttribute(output_, 7);
    DWORD mode = 0;
    EXPECT_TRUE(::GetConsoleMode(input_, &mode));
    EXPECT_EQ(mode, modeBefore_) << "the input mode was not given back";
    ::SetConsoleMode(input_, modeBefore_);
    ::CloseHandle(input_);
    ::CloseHandle(output_);
  }

  void open() {
    console::openConsole();
    ASSERT_EQ(console::consoleScreen().screenWidth, 80) << "the tests need an 80 x 25 console";
    ASSERT_EQ(console::consoleScreen().screenHeight, 25);
  }

  // Events as a keyboard gives them. The console takes a Ctrl+C written in
  // line mode as an interrupt, not a key: they go in as in raw mode, as a key
  // typed during readKey would.
  void put(const std::vector<INPUT_RECORD>& records) {
    DWORD mode = 0;
    ASSERT_TRUE(::GetConsoleMode(input_, &mode));
    ASSERT_TRUE(::SetConsoleMode(input_, 0));
    DWORD written = 0;
    const BOOL ok =
        ::WriteConsoleInputW(input_, records.data(), static_cast<DWORD>(records.size()), &written);
    ASSERT_TRUE(::SetConsoleMode(input_, mode));
    ASSERT_TRUE(ok);
    ASSERT_EQ(written, records.size());
  }
  void expectCodes(std::vector<INPUT_RECORD> events, const std::vector<int>& expected);
  DWORD eventsWaiting() {
    DWORD count = 0;
    ::GetNumberOfConsoleInputEvents(input_, &count);
    return count;
  }

  // One cell, (column, row) from 1.
  CHAR_INFO cell(int column, int row) {
    CHAR_INFO result{};
    SMALL_RECT region{static_cast<SHORT>(column - 1), static_cast<SHORT>(row - 1),
                      static_cast<SHORT>(column - 1), static_cast<SHORT>(row - 1)};
    EXPECT_TRUE(::ReadConsoleOutputW(output_, &result, {1, 1}, {0, 0}, &region));
    return result;
  }
  // The cells as single-byte text, code N standing for U+00NN.
  std::string text(int column, int row, int length) {
    std::string result;
    for (int i = 0; i < length; ++i) {
      const WCHAR c = cell(column + i, row).Char.UnicodeChar;
      result += c <= 0xFF ? std::string(1, static_cast<char>(c)) : "U+" + std::to_string(c);
    }
    return result;
  }
  // Every cell of the row from `column` on holds `code` in `attribute`.
  void expectRow(int row, int from, int to, char code, WORD attribute) {
    for (int column = from; column <= to; ++column) {
      const CHAR_INFO c = cell(column, row);
      EXPECT_EQ(c.Char.UnicodeChar, code) << "(" << column << ", " << row << ")";
      EXPECT_EQ(c.Attributes, attribute) << "(" << column << ", " << row << ")";
    }
  }
  std::pair<int, int> cursor() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    EXPECT_TRUE(::GetConsoleScreenBufferInfo(output_, &info));
    return {info.dwCursorPosition.X + 1, info.dwCursorPosition.Y + 1};
  }
  void fill(char code, WORD attribute, DWORD cells = 80 * 25) {
    DWORD done = 0;
    ::FillConsoleOutputCharacterA(output_, code, cells, {0, 0}, &done);
    ::FillConsoleOutputAttribute(output_, attribute, cells, {0, 0}, &done);
  }

  HANDLE input_ = INVALID_HANDLE_VALUE;
  HANDLE output_ = INVALID_HANDLE_VALUE;
  HANDLE savedStdout_ = INVALID_HANDLE_VALUE;
  DWORD modeBefore_ = 0;
};

using std::pair;

// ---------------------------------------------------------------------------
// Keys

INPUT_RECORD keyEvent(WORD vk, WCHAR character, DWORD state, bool down = true, WORD repeat = 1) {
  INPUT_RECORD record{};
  record.EventType = KEY_EVENT;
  KEY_EVENT_RECORD& key = record.Event.KeyEvent;
  key.bKeyDown = down ? TRUE : FALSE;
  key.wRepeatCount = repeat;
  key.wVirtualKeyCode = vk;
  key.wVirtualScanCode = static_cast<WORD>(::MapVirtualKeyA(vk, MAPVK_VK_TO_VSC));
  key.uChar.UnicodeChar = character;
  key.dwControlKeyState = state;
  return record;
}

// A press of 'z' with no modifier: read after presses that must be skipped,
// it shows that they gave nothing and reading went on.
const INPUT_RECORD kSentinel = keyEvent('Z', 'z', 0);

// Each row of the key table as a US keyboard reports it: the virtual key,
// the characters it produces plain and with Shift, and whether the console
// marks it as an enhanced key or reports it with Num Lock on.
struct KeyboardKey {
  Key key;
  WORD vk;
  char plain;
  char shifted;
  DWORD state;  // ENHANCED_KEY, NUMLOCK_ON
};

std::vector<KeyboardKey> usKeyboard() {
  std::vector<KeyboardKey> keys = {
      {Key::Backspace, VK_BACK, 8, 8, 0},
      {Key::Tab, VK_TAB, 9, 9, 0},
      {Key::Enter, VK_RETURN, 13, 13, 0},
      {Key::Esc, VK_ESCAPE, 27, 27, 0},
      {Key::Space, VK_SPACE, ' ', ' ', 0},
      {Key::PageUp, VK_PRIOR, 0, 0, ENHANCED_KEY},
      {Key::PageDown, VK_NEXT, 0, 0, ENHANCED_KEY},
      {Key::End, VK_END, 0, 0, ENHANCED_KEY},
      {Key::Home, VK_HOME, 0, 0, ENHANCED_KEY},
      {Key::Left, VK_LEFT, 0, 0, ENHANCED_KEY},
      {Key::Up, VK_UP, 0, 0, ENHANCED_KEY},
      {Key::Right, VK_RIGHT, 0, 0, ENHANCED_KEY},
      {Key::Down, VK_DOWN, 0, 0, ENHANCED_KEY},
      {Key::Insert, VK_INSERT, 0, 0, ENHANCED_KEY},
      {Key::Delete, VK_DELETE, 0, 0, ENHANCED_KEY},
      {Key::F11, VK_F11, 0, 0, 0},
      {Key::F12, VK_F12, 0, 0, 0},
      {Key::KeypadMultiply, VK_MULTIPLY, '*', '*', NUMLOCK_ON},
      {Key::KeypadPlus, VK_ADD, '+', '+', NUMLOCK_ON},
      {Key::KeypadMinus, VK_SUBTRACT, '-', '-', NUMLOCK_ON},
      {Key::KeypadPeriod, VK_DECIMAL, '.', '.', NUMLOCK_ON},
      {Key::KeypadSlash, VK_DIVIDE, '/', '/', NUMLOCK_ON | ENHANCED_KEY},
      {Key::Backslash, VK_OEM_5, '\\', '|', 0},
      {Key::Slash, VK_OEM_2, '/', '?', 0},
      {Key::Minus, VK_OEM_MINUS, '-', '_', 0},
      {Key::Equals, VK_OEM_PLUS, '=', '+', 0},
      {Key::LeftBracket, VK_OEM_4, '[', '{', 0},
      {Key::RightBracket, VK_OEM_6, ']', '}', 0},
      {Key::Semicolon, VK_OEM_1, ';', ':', 0},
      {Key::Quote, VK_OEM_7, '\'', '"', 0},
      {Key::Comma, VK_OEM_COMMA, ',', '<', 0},
      {Key::Period, VK_OEM_PERIOD, '.', '>', 0},
      {Key::Grave, VK_OEM_3, '`', '~', 0},
  };
  for (int n = 0; n < 10; ++n) {
    keys.push_back(
        {static_cast<Key>(static_cast<int>(Key::F1) + n), static_cast<WORD>(VK_F1 + n), 0, 0, 0});
  }
  const char shiftedDigits[] = ")!@#$%^&*(";
  for (int d = 0; d < 10; ++d) {
    keys.push_back({static_cast<Key>(static_cast<int>(Key::Digit0) + d), static_cast<WORD>('0' + d),
                    static_cast<char>('0' + d), shiftedDigits[d], 0});
  }
  for (int i = 0; i < 26; ++i) {
    keys.push_back({static_cast<Key>(static_cast<int>(Key::A) + i), static_cast<WORD>('A' + i),
                    static_cast<char>('a' + i), static_cast<char>('A' + i), 0});
  }
  for (int d = 0; d < 10; ++d) {
    keys.push_back({static_cast<Key>(static_cast<int>(Key::Keypad0) + d),
                    static_cast<WORD>(VK_NUMPAD0 + d), static_cast<char>('0' + d),
                    static_cast<char>('0' + d), NUMLOCK_ON});
  }
  return keys;
}

// What a US keyboard produces with Ctrl held: the control characters it has,
// nothing for the other keys.
char withCtrl(const KeyboardKey& k) {
  if (k.key >= Key::A && k.key <= Key::Z) return static_cast<char>(k.vk - 'A' + 1);
  switch (k.key) {
    case Key::Backspace:
      return 127;
    case Key::Enter:
      return 10;
    case Key::Esc:
    case Key::LeftBracket:
      return 27;
    case Key::Backslash:
      return 28;
    case Key::RightBracket:
      return 29;
    case Key::Digit6:
      return 30;
    case Key::Minus:
      return 31;
    default:
      return 0;
  }
}

// Puts `events` in the console, then the sentinel, and reads the codes they
// give: exactly the expected ones, nothing owed, and then the sentinel.
void Consola::expectCodes(std::vector<INPUT_RECORD> events, const std::vector<int>& expected) {
  events.push_back(kSentinel);
  put(events);
  std::vector<int> codes;
  for (std::size_t i = 0; i < expected.size(); ++i)
    codes.push_back(console::readKey());
  EXPECT_EQ(codes, expected);
  EXPECT_EQ(console::consoleScreen().pendingExtendedCode, -1);
  EXPECT_EQ(console::readKey(), 'z') << "the events gave more than expected";
  EXPECT_EQ(eventsWaiting(), 0u);
  ::FlushConsoleInputBuffer(input_);
}

TEST_F(Consola, EveryRowOfTheKeyTableInItsFourStatesFromKeyEvents) {
  open();
  const std::vector<KeyboardKey> keys = usKeyboard();
  ASSERT_EQ(keys.size(), 89u);
  struct Estado {
    const char* name;
    unsigned modifiers;
    DWORD state;
  };
  const Estado estados[] = {{"plain", 0, 0},
                            {"Shift", kShift, SHIFT_PRESSED},
                            {"Ctrl", kCtrl, LEFT_CTRL_PRESSED},
                            {"Alt", kAlt, LEFT_ALT_PRESSED}};
  for (const KeyboardKey& k : keys) {
    for (const Estado& e : estados) {
      const char character = e.modifiers == kShift  ? k.shifted
                             : e.modifiers == kCtrl ? withCtrl(k)
                                                    : k.plain;
      SCOPED_TRACE(std::string(e.name) + " vk " + std::to_string(k.vk) + " char " +
                   std::to_string(static_cast<unsigned char>(character)));
      expectCodes(
          {keyEvent(k.vk, character, k.state | e.state),
           keyEvent(k.vk, character, k.state | e.state, false)},
          console::tabla::expectedCodes(k.key, e.modifiers, static_cast<unsigned char>(character)));
    }
  }
}

TEST_F(Consola, KeyEventsTheTableSpeaksOf) {
  open();
  struct Caso {
    const char* name;
    std::vector<INPUT_RECORD> events;  // the sentinel follows
    std::vector<int> codes;
  };
  INPUT_RECORD focus{};
  focus.EventType = FOCUS_EVENT;
  INPUT_RECORD mouse{};
  mouse.EventType = MOUSE_EVENT;
  const Caso casos[] = {
      {"Num Lock turns Delete into the keypad's period",
       {keyEvent(VK_DELETE, 0, NUMLOCK_ON | ENHANCED_KEY)},
       {46}},
      {"Num Lock with Ctrl+Delete gives the keypad's Ctrl result",
       {keyEvent(VK_DELETE, 0, NUMLOCK_ON | ENHANCED_KEY | LEFT_CTRL_PRESSED)},
       {0, 83}},
      {"Ctrl+C is a key, 3", {keyEvent('C', 3, LEFT_CTRL_PRESSED)}, {3}},
      {"Ctrl+A pressed as a person does: Ctrl alone first",
       {keyEvent(VK_CONTROL, 0, LEFT_CTRL_PRESSED), keyEvent('A', 1, LEFT_CTRL_PRESSED)},
       {1}},
      {"Shift alone gives nothing",
       {keyEvent(VK_SHIFT, 0, SHIFT_PRESSED), keyEvent(VK_SHIFT, 0, 0, false)},
       {}},
      {"Alt alone and Caps Lock give nothing",
       {keyEvent(VK_MENU, 0, LEFT_ALT_PRESSED), keyEvent(VK_CAPITAL, 0, CAPSLOCK_ON)},
       {}},
      {"a release alone gives nothing", {keyEvent('Q', 'q', 0, false)}, {}},
      {"a key held with three repeats is one key", {keyEvent('Q', 'q', 0, true, 3)}, {'q'}},
      {"Alt takes precedence over Ctrl (AltGr)",
       {keyEvent('A', 0, RIGHT_ALT_PRESSED | LEFT_CTRL_PRESSED)},
       {0, 30}},
      {"the right Ctrl is Ctrl", {keyEvent(VK_UP, 0, RIGHT_CTRL_PRESSED | ENHANCED_KEY)}, {0, 141}},
      {"the right Alt is Alt", {keyEvent(VK_F1, 0, RIGHT_ALT_PRESSED)}, {0, 104}},
      {"Caps Lock: a plain letter is the keyboard's own character",
       {keyEvent('A', 'A', CAPSLOCK_ON)},
       {'A'}},
      {"Caps Lock with Shift: the upper-case letter",
       {keyEvent('A', 'a', CAPSLOCK_ON | SHIFT_PRESSED)},
       {'A'}},
      {"a plain letter with no character is 0", {keyEvent('A', 0, 0)}, {0}},
      {"a key without a row gives its character", {keyEvent(VK_OEM_102, '<', 0)}, {'<'}},
      {"a Latin-1 letter is its Latin-1 code, whatever the code page",
       {keyEvent(VK_OEM_102, L'\u00D1', 0)},
       {0xD1}},
      {"a character outside Latin-1 is '?'", {keyEvent(VK_OEM_102, L'\u20AC', 0)}, {'?'}},
      {"Shift + keypad 5 with Num Lock on comes as VK_CLEAR: keypad 5's Shift code",
       {keyEvent(VK_CLEAR, 0, NUMLOCK_ON | SHIFT_PRESSED)},
       {0, 76}},
      {"VK_CLEAR without the Shift (Num Lock off) as well", {keyEvent(VK_CLEAR, 0, 0)}, {0, 76}},
      {"focus and mouse events are skipped", {focus, mouse}, {}},
      {"keypad Enter is Enter", {keyEvent(VK_RETURN, 13, ENHANCED_KEY)}, {13}},
  };
  for (const Caso& caso : casos) {
    SCOPED_TRACE(caso.name);
    expectCodes(caso.events, caso.codes);
  }
}

TEST_F(Consola, TheSecondCodeOfAnExtendedKeyComesWithoutWaiting) {
  open();
  put({keyEvent(VK_UP, 0, ENHANCED_KEY)});
  EXPECT_EQ(console::readKey(), 0);
  EXPECT_EQ(eventsWaiting(), 0u);
  EXPECT_EQ(console::readKey(), 72);  // nothing waits in the console: it must not block
  put({keyEvent(VK_F1, 0, 0)});
  EXPECT_EQ(console::readKey(), 0);
  EXPECT_EQ(console::readKey(), 59);
}

TEST_F(Consola, ReadKeyEchoDrawsTheCodesItReturns) {
  open();
  console::setTextColor(15);
  console::moveCursor(10, 5);
  put({keyEvent(VK_UP, 0, ENHANCED_KEY)});
  EXPECT_EQ(console::readKeyEcho(), 0);
  EXPECT_EQ(cell(10, 5).Char.UnicodeChar, 0);
  EXPECT_EQ(cell(10, 5).Attributes, 15);
  EXPECT_EQ(cursor(), (pair<int, int>{11, 5}));
  EXPECT_EQ(console::readKeyEcho(), 72);
  EXPECT_EQ(text(11, 5, 1), "H");
  put({keyEvent(VK_RETURN, 13, 0)});
  EXPECT_EQ(console::readKeyEcho(), 13);
  EXPECT_EQ(cursor(), (pair<int, int>{1, 5}));
}

// What the console's input mode was when a test's own control handler ran,
// after the layer's; the key that then ends the wait.
HANDLE handlerInput = INVALID_HANDLE_VALUE;
volatile DWORD modeSeenByHandler = 0xFFFFFFFF;

BOOL WINAPI testHandler(DWORD) {
  DWORD mode = 0;
  if (::GetConsoleMode(handlerInput, &mode)) modeSeenByHandler = mode;
  INPUT_RECORD key = keyEvent('Q', 'q', 0);
  DWORD written = 0;
  ::WriteConsoleInputW(handlerInput, &key, 1, &written);
  return TRUE;  // handled: the test goes on
}

// An interrupt sent from outside (wine generates no Ctrl+Break; the handler
// treats every kind alike).
DWORD WINAPI interruptLater(LPVOID) {
  ::Sleep(300);
  ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
  return 0;
}

TEST_F(Consola, AnInterruptDuringAKeyWaitGivesTheInputModeBackFirst) {
  handlerInput = input_;
  ASSERT_TRUE(::SetConsoleCtrlHandler(testHandler, TRUE));
  open();  // the layer's handler, installed later, runs before the test's
  const HANDLE thread = ::CreateThread(nullptr, 0, interruptLater, nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(console::readKey(), 'q');
  ::WaitForSingleObject(thread, INFINITE);
  ::CloseHandle(thread);
  ::SetConsoleCtrlHandler(testHandler, FALSE);
  EXPECT_EQ(modeSeenByHandler, modeBefore_) << "the handler ran with the console in raw mode";
}

// ---------------------------------------------------------------------------
// Cells

TEST_F(Consola, TheCellWriterWrapsScrollsAndCarriesOutControlCodes) {
  struct Caso {
    const char* name;
    pair<int, int> from;
    std::string text;
    pair<int, int> cursor;
    pair<int, int> drawnAt;  // where the text's first cell is
    std::string drawn;       // what stands there afterwards, cell by cell
  };
  const Caso casos[] = {
      {"wraps at the right edge", {75, 3}, "ABCDEFGHIJ", {5, 4}, {75, 3}, "ABCDEF"},
      {"goes on in column 1 of the next row", {75, 3}, "ABCDEFGHIJ", {5, 4}, {1, 4}, "GHIJ."},
      {"ends in column 80: next row at once", {71, 2}, "0123456789", {1, 3}, {71, 2}, "0123456789"},
      {"line feed: next row, same column", {10, 7}, "a\nb", {12, 8}, {10, 7}, "a.."},
      {"carriage return: column 1", {10, 7}, "a\rb", {2, 7}, {1, 7}, "b"},
      {"backspace at column 1 stays", {1, 7}, "\bc", {2, 7}, {1, 7}, "c."},
      {"backspace moves left, erases nothing", {10, 7}, "ab\b", {11, 7}, {10, 7}, "ab."},
      {"bell: nothing drawn, cursor stays", {10, 7}, "\a", {10, 7}, {10, 7}, "."},
  };
  for (const Caso& caso : casos) {
    SCOPED_TRACE(caso.name);
    fill('.', 7);
    open();
    console::setTextColor(15);
    console::moveCursor(caso.from.first, caso.from.second);
    EXPECT_EQ(console::consoleWrite(caso.text.c_str()), static_cast<int>(caso.text.size()));
    EXPECT_EQ(cursor(), caso.cursor);
    EXPECT_EQ(text(caso.drawnAt.first, caso.drawnAt.second, static_cast<int>(caso.drawn.size())),
              caso.drawn);
    EXPECT_EQ(cell(caso.drawnAt.first, caso.drawnAt.second).Attributes,
              caso.drawn[0] == '.' ? 7 : 15);
    console::closeConsole();
  }
}

TEST_F(Consola, TheBottomRightCellScrollsTheWindowAtOnce) {
  fill('.', 7);
  open();
  console::setTextColor(14);  // yellow: the new row's colour shows
  console::moveCursor(1, 1);
  console::consoleWrite("top");
  console::moveCursor(1, 2);
  console::consoleWrite("second");
  console::moveCursor(80, 25);
  console::consoleWrite("X");
  EXPECT_EQ(text(1, 1, 6), "second");
  EXPECT_EQ(text(80, 24, 1), "X");
  EXPECT_EQ(cell(80, 24).Attributes, 14);
  expectRow(25, 1, 80, ' ', 14);
  EXPECT_EQ(cursor(), (pair<int, int>{1, 25}));
}

TEST_F(Consola, CodesAreCellsAsTheyAre) {
  fill('.', 7);
  open();
  console::moveCursor(1, 1);
  console::consoleWriteChar(0);
  console::consoleWriteChar(1);
  console::consoleWriteChar(27);
  console::consoleWriteChar(0x1F1);  // the low 8 bits
  // Whatever the console's code page.
  EXPECT_EQ(text(1, 1, 4), std::string("\0\x01\x1B\xF1", 4));
  EXPECT_EQ(cursor(), (pair<int, int>{5, 1}));
}

TEST_F(Consola, ClearingBlanksInTheTextAttributeAndLeavesTheCursor) {
  fill('.', 7);
  open();
  console::setTextColor(15);
  console::moveCursor(1, 4);
  console::clearToEndOfLine();
  expectRow(4, 1, 80, ' ', 15);
  EXPECT_EQ(cursor(), (pair<int, int>{1, 4}));
  console::moveCursor(80, 6);
  console::clearToEndOfLine();
  expectRow(6, 80, 80, ' ', 15);
  expectRow(6, 1, 79, '.', 7);
  EXPECT_EQ(cursor(), (pair<int, int>{80, 6}));

  console::moveCursor(30, 10);
  console::clearScreen();
  for (int row = 1; row <= 25; ++row)
    expectRow(row, 1, 80, ' ', 15);
  EXPECT_EQ(cursor(), (pair<int, int>{1, 1}));
}

// Older consoles and some shortcuts give a buffer wider than its window.
TEST_F(Consola, ClearingBlanksTheWindowOfABufferWiderThanIt) {
  ASSERT_TRUE(::SetConsoleScreenBufferSize(output_, {120, 50}));
  CONSOLE_SCREEN_BUFFER_INFO info{};
  ASSERT_TRUE(::GetConsoleScreenBufferInfo(output_, &info));
  ASSERT_EQ(info.srWindow.Left, 0);
  ASSERT_EQ(info.srWindow.Top, 0);
  fill('.', 7, 120 * 50);
  open();
  console::setTextColor(15);
  console::clearScreen();
  for (int row = 1; row <= 25; ++row) {
    expectRow(row, 1, 80, ' ', 15);
    expectRow(row, 81, 120, '.', 7);
  }
  expectRow(26, 1, 120, '.', 7);
  EXPECT_EQ(cursor(), (pair<int, int>{1, 1}));
}

TEST_F(Consola, MovesOutsideTheWindowAreIgnored) {
  open();
  console::moveCursor(7, 8);
  const pair<int, int> outside[] = {{0, 5}, {5, 0}, {81, 1}, {1, 26}};
  for (const auto& [column, row] : outside) {
    console::moveCursor(column, row);
    EXPECT_EQ(cursor(), (pair<int, int>{7, 8})) << column << ", " << row;
  }
  console::moveCursor(80, 25);
  EXPECT_EQ(cursor(), (pair<int, int>{80, 25}));
}

TEST_F(Consola, SetTextColorKeepsTheBackgroundFoundAtStart) {
  fill(' ', 23);
  ::SetConsoleTextAttribute(output_, 23);  // light grey on blue
  open();
  EXPECT_EQ(console::consoleScreen().normalAttribute, 23);
  console::setTextColor(14);
  EXPECT_EQ(console::consoleScreen().textAttribute, 30);
  console::moveCursor(1, 1);
  console::consoleWrite("amarillo");
  EXPECT_EQ(cell(1, 1).Attributes, 30);
}

// Text from a file or a key, shown as a terminal shows it: Latin-1 letters
// whatever the code page, control codes as '?', even to a console that would
// take an Esc as the start of a command; its output mode stays as it was.
TEST_F(Consola, TheStreamShowsLatinOneLettersAndNoControlCodes) {
  DWORD mode = 0;
  ASSERT_TRUE(::GetConsoleMode(output_, &mode));
  ::SetConsoleMode(output_, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  DWORD before = 0;
  ASSERT_TRUE(::GetConsoleMode(output_, &before));
  fill('.', 7);
  open();
  console::moveCursor(1, 3);
  console::printText("MU\xD1OZ \x1b[31m\t\x01\x7F\x9B\xAD\xFF");
  console::printChar('\0');
  console::printText("z");
  const std::string shown =
      "MU\xD1OZ ?[31m????"
      "-\xFF z";
  EXPECT_EQ(text(1, 3, static_cast<int>(shown.size())), shown);
  for (int column = 1; column <= static_cast<int>(shown.size()); ++column)
    EXPECT_EQ(cell(column, 3).Attributes, 7) << column;
  EXPECT_EQ(cursor(), (pair<int, int>{static_cast<int>(shown.size()) + 1, 3}));
  DWORD after = 0;
  EXPECT_TRUE(::GetConsoleMode(output_, &after));
  EXPECT_EQ(after, before);
  ::SetConsoleMode(output_, mode);
}

TEST_F(Consola, StreamTextStaysInTheDefaultColoursAfterDirectDrawing) {
  fill('.', 7);
  open();
  console::setTextColor(15);
  console::moveCursor(1, 1);
  console::consoleWrite("TITULO");
  console::printText(" dato");
  console::printNumber(-7);
  EXPECT_EQ(text(1, 1, 13), "TITULO dato-7");
  EXPECT_EQ(cell(1, 1).Attributes, 15);
  EXPECT_EQ(cell(8, 1).Attributes, 7);
  EXPECT_EQ(cell(13, 1).Attributes, 7);
  EXPECT_EQ(cursor(), (pair<int, int>{14, 1}));

  console::moveCursor(30, 5);
  console::printText("\n\r<<< ... PRESIONE ENTER para continuar >>>");
  EXPECT_EQ(text(1, 6, 41), "<<< ... PRESIONE ENTER para continuar >>>");
  EXPECT_EQ(cursor(), (pair<int, int>{42, 6}));
  console::consoleWrite("!");
  EXPECT_EQ(text(42, 6, 1), "!") << "direct drawing goes on where the stream left the cursor";
}

DWORD bytesIn(HANDLE pipe) {
  DWORD available = 0;
  EXPECT_TRUE(::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr));
  return available;
}

TEST_F(Consola, StandardOutputThatIsNotTheConsoleGoesOut512BytesAtATime) {
  HANDLE reader = INVALID_HANDLE_VALUE;
  HANDLE writer = INVALID_HANDLE_VALUE;
  ASSERT_TRUE(::CreatePipe(&reader, &writer, nullptr, 1 << 16));
  ::SetStdHandle(STD_OUTPUT_HANDLE, writer);
  open();
  console::printText("0123456789\n");  // 12 bytes: CR LF
  EXPECT_EQ(bytesIn(reader), 0u);
  console::printText(std::string(499, 'x').c_str());
  EXPECT_EQ(bytesIn(reader), 0u) << "511 bytes are held back";
  console::printChar('y');
  EXPECT_EQ(bytesIn(reader), 512u);
  console::printNumber(-7);
  EXPECT_EQ(bytesIn(reader), 512u);
  console::closeConsole();
  ASSERT_EQ(bytesIn(reader), 514u) << "the rest is written at the end";
  std::string bytes(514, '\0');
  DWORD read = 0;
  ASSERT_TRUE(::ReadFile(reader, bytes.data(), 514, &read, nullptr));
  EXPECT_EQ(bytes.substr(0, 12), "0123456789\r\n");
  EXPECT_EQ(bytes.substr(511), "y-7");
  ::SetStdHandle(STD_OUTPUT_HANDLE, output_);
  ::CloseHandle(reader);
  ::CloseHandle(writer);
}

// ---------------------------------------------------------------------------
// Lines and the interpreter

std::vector<INPUT_RECORD> typed(const std::string& keys) {
  std::vector<INPUT_RECORD> events;
  for (char c : keys) {
    const WORD vk = c == '\r' ? VK_RETURN : static_cast<WORD>(::VkKeyScanA(c) & 0xFF);
    events.push_back(keyEvent(vk, c, 0));
    events.push_back(keyEvent(vk, c, 0, false));
  }
  return events;
}

TEST_F(Consola, ReadLineTakesTheConsolesOwnLineInput) {
  fill(' ', 7);
  open();
  console::moveCursor(5, 3);
  put(typed("12x\b3\r"));
  char line[16] = "previous";
  ASSERT_TRUE(console::readLine(line, sizeof line).has_value());
  EXPECT_STREQ(line, "123") << "the console's editing: Backspace took the x";
  EXPECT_EQ(text(5, 3, 3), "123") << "the console's echo";
  EXPECT_EQ(cursor(), (pair<int, int>{1, 4}));

  put(typed("\r"));
  ASSERT_TRUE(console::readLine(line, sizeof line).has_value());
  EXPECT_STREQ(line, "");
}

TEST_F(Consola, CtrlZInALineEndsTheInputWhereItStands) {
  open();
  std::vector<INPUT_RECORD> events = typed("ab");
  events.push_back(keyEvent('Z', 26, LEFT_CTRL_PRESSED));
  events.push_back(keyEvent('Z', 26, LEFT_CTRL_PRESSED, false));
  const std::vector<INPUT_RECORD> rest = typed("cd\r");
  events.insert(events.end(), rest.begin(), rest.end());
  put(events);
  char line[16] = "previous";
  EXPECT_EQ(console::readLine(line, sizeof line), std::optional<std::size_t>(2));
  EXPECT_STREQ(line, "ab");
  EXPECT_EQ(console::readLine(line, sizeof line), std::nullopt) << "the input goes on after Ctrl+Z";
  EXPECT_STREQ(line, "ab");
}

// Runs `command` with the environment changed, and puts it back.
int withEnvironment(const char* comspec, const char* path, const char* command) {
  char savedComspec[1024] = "";
  char savedPath[8192] = "";
  const bool hadComspec = ::GetEnvironmentVariableA("COMSPEC", savedComspec, sizeof savedComspec);
  const bool hadPath = ::GetEnvironmentVariableA("PATH", savedPath, sizeof savedPath);
  ::SetEnvironmentVariableA("COMSPEC", comspec);
  ::SetEnvironmentVariableA("PATH", path);
  const int status = console::clearByCommand(command);
  ::SetEnvironmentVariableA("COMSPEC", hadComspec ? savedComspec : nullptr);
  ::SetEnvironmentVariableA("PATH", hadPath ? savedPath : nullptr);
  return status;
}

TEST_F(Consola, TheInterpreterIsFoundAndItsExitStatusReturned) {
  open();
  char system[MAX_PATH];
  ASSERT_GT(::GetSystemDirectoryA(system, sizeof system), 0u);
  const std::string cmd = std::string(system) + "\\cmd.exe";
  const std::string alongPath = std::string("C:\\nowhere;") + system;
  struct Caso {
    const char* name;
    const char* comspec;
    const char* path;
    const char* command;
    int status;
  };
  const Caso casos[] = {
      {"COMSPEC", cmd.c_str(), "", "exit 7", 7},
      {"COMSPEC naming nothing", "C:\\nowhere\\cmd.exe", system, "exit 7", -1},
      {"no COMSPEC: CMD.EXE along PATH", nullptr, alongPath.c_str(), "exit 5", 5},
      {"no COMSPEC, no CMD.EXE anywhere", nullptr, "C:\\nowhere", "exit 5", -1},
  };
  for (const Caso& caso : casos) {
    SCOPED_TRACE(caso.name);
    EXPECT_EQ(withEnvironment(caso.comspec, caso.path, caso.command), caso.status);
  }
}

// The menu is drawn on what "cls" leaves, whether the interpreter ran or not.
TEST_F(Consola, ClsBlanksInTheDefaultColoursWithOrWithoutTheInterpreter) {
  char system[MAX_PATH];
  ASSERT_GT(::GetSystemDirectoryA(system, sizeof system), 0u);
  const std::string cmd = std::string(system) + "\\cmd.exe";
  const pair<const char*, int> casos[] = {{cmd.c_str(), 0}, {"C:\\nowhere\\cmd.exe", -1}};
  for (const auto& [comspec, status] : casos) {
    SCOPED_TRACE(comspec);
    fill('.', 0x1E);
    open();
    console::setTextColor(15);
    console::moveCursor(40, 12);
    EXPECT_EQ(withEnvironment(comspec, system, "cls"), status);
    for (int row = 1; row <= 25; ++row)
      expectRow(row, 1, 80, ' ', 7);
    EXPECT_EQ(cursor(), (pair<int, int>{1, 1}));
    console::closeConsole();
  }
}

}  // namespace
