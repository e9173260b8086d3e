// The console on a POSIX terminal: what its two files share, and the
// descriptors a test can hand in instead of the process's own.
#pragma once

#include <termios.h>

#include <optional>
#include <string>
#include <string_view>

#include "console/platform.hpp"

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
  bool echoesLines = false;  // the terminal shows what is typed at readLine
  bool echoControl = true;   // ...and shows control characters as ^X
  termios lineMode{};        // input mode found at start-up
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

// Waits until `fd` is ready for `events`, at most timeoutMs (-1: for ever):
// 1 ready, 0 the time passed, -1 poll failed.
int waitFor(int fd, short events, int timeoutMs);
// A descriptor in non-blocking mode (a terminal an earlier program left so,
// or shared with one) says EAGAIN where another would wait.
bool wouldBlock();

// Read by the signal handlers while a key is awaited; set by keyboard.cpp.
void keyModesForSignals(const termios& line, const termios& raw, bool active);
termios rawModeFrom(const termios& mode);

}  // namespace posix
}  // namespace console
