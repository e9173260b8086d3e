// The console on a POSIX terminal: what its two files share, and the
// descriptors a test can hand in instead of the process's own.
#pragma once

#include <termios.h>

#include <optional>
#include <string>
#include <string_view>

#include "console/platform.hpp"
#include "console/posix/line.hpp"

namespace console {

// Where the layer reads and writes. openConsole() takes standard input and
// output and the controlling terminal; tests hand in a pseudo-terminal.
struct ConsoleFds {
  int input;   // keys and lines
  int stream;  // printText, printChar, printNumber
  int draw;    // direct drawing; the same as `stream` when there is no terminal
};

void openConsole(const ConsoleFds& fds);

namespace posix {

enum class Charset { Ascii, Latin1, Utf8 };

// Everything the POSIX side knows; one instance.
struct Terminal {
  int inputFd = 0;          // keys and lines
  int streamFd = 1;         // printText and friends
  int drawFd = 1;           // direct drawing
  bool ownsDrawFd = false;  // drawFd was opened here (/dev/tty) and is closed here
  bool streamIsTerminal = false;
  Charset charset = Charset::Ascii;
  platform::Position cursor;                  // where the cursor is, as the screens see it
  std::optional<platform::Position> shownAt;  // where the terminal's cursor really is, when known
  bool inputIsTerminal = false;
  bool echoesLines = false;  // a line being typed is shown as it is edited
  bool echoControl = true;   // ...with control characters as ^X
  termios lineMode{};        // input mode found at start-up, given back at the end
  LineKeys lineKeys;         // the characters that edit a line, from lineMode
};

Terminal& terminal();

int windowWidth();
// Direct drawing goes to the terminal at once; whatever the stream still
// holds for the same descriptor goes first, so bytes keep their order.
void sendToDraw(const std::string& bytes);
// Before a read, the terminal's cursor must stand where the record says, so
// the operator sees it there and the terminal's echo starts there.
void showCursor();
// Sends a carriage return and line feed now and moves the record with it.
void newLineNow();
// The bytes that put the terminal's cursor at `at`.
std::string cursorTo(platform::Position at);
// Adds the bytes that show code `c` in one column, never as a command.
void appendGlyph(std::string& out, unsigned char c);

// Waits until `fd` is ready for `events`, at most timeoutMs (-1: for ever):
// 1 ready, 0 the time passed, -1 poll failed.
int waitFor(int fd, short events, int timeoutMs);
// A descriptor in non-blocking mode (a terminal an earlier program left so,
// or shared with one) says EAGAIN where another would wait.
bool wouldBlock();

// The input modes of a terminal the program reads. The program keeps the
// terminal raw from start to end, so that what is typed ahead reaches it as
// typed: `edit` at every moment but a key wait (the keyboard's signals and
// flow control as the terminal had them), `key` while a key is awaited
// (every byte a key). `own` is the mode found at start-up.
enum class Mode : int { own = 0, edit = 1, key = 2 };
// Sets the terminal's input mode, and the one a stop and continue come back
// to; false when it cannot be set.
bool enterMode(Mode mode);

}  // namespace posix
}  // namespace console
