// Keys and lines on a POSIX terminal: raw mode around each key, input read a
// byte at a time from a terminal, and the terminal's echo of a line followed
// on the cursor record.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "console/console.hpp"
#include "console/posix/terminal.hpp"

namespace console {
namespace posix {
namespace {

// The terminal's echo of one byte of a line being typed, as its cursor moves:
// text wraps at the right edge (the terminal holds a pending wrap in the last
// column), control characters echo as ^X, a tab goes to the next tab stop,
// and Enter goes to column 1 of the next row.
struct EchoTracker {
  bool pendingWrap = false;

  void column() {
    platform::Position& p = terminal().cursor;
    const int width = windowWidth();
    if (pendingWrap) {
      p.x = 0;
      if (p.y < consoleScreen().windowBottom) ++p.y;
      pendingWrap = false;
    }
    if (p.x == width - 1) {
      pendingWrap = true;
    } else {
      ++p.x;
    }
  }
  void echo(unsigned char c) {
    platform::Position& p = terminal().cursor;
    if (c == '\n') {
      pendingWrap = false;
      p.x = 0;
      if (p.y < consoleScreen().windowBottom) ++p.y;
    } else if (c == '\t') {
      if (!pendingWrap) p.x = std::min((p.x / 8 + 1) * 8, windowWidth() - 1);
    } else if (c < 0x20 || c == 0x7F) {
      if (terminal().echoControl) {
        column();
        column();
      }
    } else if (c < 0x80 || c >= 0xC0) {
      column();  // UTF-8 continuation bytes take no column of their own
    }
  }
  // A line that ends without Enter (end of input) leaves a pending wrap
  // that the terminal resolves only with the next character: settle it now.
  void done() {
    if (pendingWrap) {
      newLineNow();
    } else {
      terminal().shownAt = terminal().cursor;
    }
  }
};

EchoTracker echo;
termios savedMode{};  // the mode found before the key now awaited

}  // namespace
}  // namespace posix

namespace platform {

using posix::terminal;

// The mode is saved afresh for each key, and it is what the signal handlers
// give back if the program is stopped or ended during the wait.
bool beginKeys() {
  posix::showCursor();
  if (!terminal().inputIsTerminal) return true;
  if (::tcgetattr(terminal().inputFd, &posix::savedMode) != 0) return false;
  const termios raw = posix::rawModeFrom(posix::savedMode);
  posix::keyModesForSignals(posix::savedMode, raw, false);
  if (::tcsetattr(terminal().inputFd, TCSANOW, &raw) != 0) return false;
  posix::keyModesForSignals(posix::savedMode, raw, true);
  return true;
}

bool endKeys() {
  if (!terminal().inputIsTerminal) return true;
  posix::keyModesForSignals(posix::savedMode, posix::rawModeFrom(posix::savedMode), false);
  return ::tcsetattr(terminal().inputFd, TCSANOW, &posix::savedMode) == 0;
}

Read nextKeyPress(KeyPress& press) {
  return nextPressFromBytes(press);
}

// From a terminal one byte is read at a time, so keys typed ahead stay with
// the terminal (a key read must not swallow the next line, nor the reverse).
Read readInput(unsigned char* bytes, std::size_t capacity, int timeoutMs, std::size_t& got) {
  const int fd = terminal().inputFd;
  if (timeoutMs >= 0 && posix::waitFor(fd, POLLIN, timeoutMs) == 0) return Read::Timeout;
  const std::size_t want = terminal().inputIsTerminal ? 1 : capacity;
  ssize_t n;
  for (;;) {
    n = ::read(fd, bytes, want);
    if (n >= 0) break;
    if (errno == EINTR) continue;
    // Nothing to read yet is not the end of the input: wait for some.
    if (!posix::wouldBlock()) return Read::Error;
    const int ready = posix::waitFor(fd, POLLIN, timeoutMs);
    if (ready == 0) return Read::Timeout;
    if (ready < 0) return Read::Error;
  }
  if (n == 0) return Read::End;
  got = static_cast<std::size_t>(n);
  return Read::Got;
}

void lineStarts() {
  posix::showCursor();
  posix::echo = {};
}

void lineByte(unsigned char byte) {
  if (terminal().echoesLines) posix::echo.echo(byte);
}

void lineEnds() {
  if (terminal().echoesLines) posix::echo.done();
}

}  // namespace platform
}  // namespace console
