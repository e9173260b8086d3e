// The console on a POSIX terminal: the state its files share, and the
// descriptors a test can hand in instead of the process's own.
#pragma once

#include <termios.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/platform.hpp"
#include "console/posix/line.hpp"

namespace console::posix {

using platform::Position;

// Where the layer reads and writes: standard input and output and the
// controlling terminal, or what a test hands in.
struct ConsoleFds {
  int input;   // keys and lines
  int stream;  // printText, printChar, printNumber
  int draw;    // direct drawing; the same as `stream` when there is no terminal
};

// The descriptors the next opening of the console takes instead of the
// process's own; tests hand in a pseudo-terminal.
void useDescriptors(const ConsoleFds& fds);

enum class Charset { Ascii, Latin1, Utf8 };

// The bytes of one drawing operation, built whole and then written once.
// Knows where the terminal's cursor stands as the bytes are added.
class Frame {
 public:
  Frame();  // from where the terminal's cursor is known to be

  std::string& bytes() { return bytes_; }
  const std::optional<Position>& at() const { return at_; }

  void moveTo(Position p);
  // Cells drawn by the terminal from where its cursor stands.
  void cells(std::string_view shown, int count, unsigned attribute);
  void raw(std::string_view text, std::optional<Position> after);

 private:
  std::string bytes_;
  std::optional<Position> at_;
};

// The echo of the line being typed, kept as the columns each character took
// from where the line began, so that an erase blanks exactly what it showed.
struct LineEcho {
  Position start;            // where the line began; above the screen once it scrolled away
  std::vector<int> widths;   // columns each character of the line took
  int columns = 0;           // their sum
  bool pendingWrap = false;  // the last column is filled: the next character starts a row
};

// The line being read at the terminal: edited here, then handed out as the
// terminal's line mode hands out a line, ending in a line feed.
struct LineRead {
  bool reading = false;       // between lineStarts and lineEnds
  std::string edited;         // the line, waiting to be handed out
  std::size_t handedOut = 0;  // bytes of it handed out so far
  bool inputEnded = false;    // the input ended after the line's last byte
};

// Everything the POSIX side knows, but for what the signal handlers read
// (signals.cpp); one instance.
struct Terminal {
  std::optional<ConsoleFds> handedIn;  // descriptors for the next opening, from a test
  int inputFd = 0;                     // keys and lines
  int streamFd = 1;                    // printText and friends
  int drawFd = 1;                      // direct drawing
  bool ownsDrawFd = false;             // drawFd was opened here (/dev/tty) and is closed here
  Charset charset = Charset::Ascii;    // what the terminal's locale can show
  platform::Window window;             // as the shared layer set it up
  Position cursor;                     // where the cursor is, as the screens see it
  std::optional<Position> shownAt;     // where the terminal's cursor really is, when known
  std::optional<Frame> drawing;        // the drawing operation in progress
  bool inputIsTerminal = false;        // keys and lines are read from a terminal
  bool echoesLines = false;            // a line being typed is shown as it is edited
  bool echoControl = true;             // ...with control characters as ^X
  termios lineMode{};                  // input mode found at start-up, given back at the end
  LineKeys lineKeys;                   // the characters that edit a line, from lineMode
  LineRead line;                       // the line being read
  LineEcho echo;                       // and what the screen shows of it
};

Terminal& terminal();

int windowWidth();
// The frame of the drawing operation in progress, begun by its first primitive.
Frame& frame();
// Direct drawing goes to the terminal at once; what the stream holds back for
// the same descriptor goes first, so bytes keep their order.
void sendToDraw(const std::string& bytes, platform::Held& held);
// The bytes that put the terminal's cursor at `at`.
std::string cursorTo(Position at);
// Adds the bytes that show code `c` in one column, never as a command.
void appendGlyph(std::string& out, unsigned char c);

// Waits until `fd` is ready for `events`, at most timeoutMs (-1: for ever):
// 1 ready, 0 the time passed, -1 poll failed.
int waitFor(int fd, short events, int timeoutMs);
// A descriptor in non-blocking mode (a terminal an earlier program left so,
// or shared with one) says EAGAIN where another would wait.
bool wouldBlock();

}  // namespace console::posix
