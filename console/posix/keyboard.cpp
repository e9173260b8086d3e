// Keys and lines on a POSIX terminal. The terminal stays raw from start to
// end (signals.hpp, Mode), and input is read from it a byte at a time, so
// whatever a key wait does not take stays, in order, for the next read: a
// key typed ahead is that key at the next wait, and bytes typed ahead of a
// line are edited and echoed at the line when it reads them.
//
// A line's echo is drawn here, as the terminal's line mode would draw it, in
// its default colours: each character at the cursor (a control character as
// ^X, a tab as spaces to the next tab stop), wrapping at the right edge with
// the cursor held in the last column until the next character, Enter as
// CR LF. An erased character is blanked with spaces after ESC [ row ; col H,
// and the cursor put back there.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "console/posix/line.hpp"
#include "console/posix/signals.hpp"
#include "console/posix/terminal.hpp"

namespace console {
namespace posix {
namespace {

using platform::Held;
using platform::Read;

// Draws the echo of the line being typed (Terminal::echo) as the editor
// changes the line.
class ScreenEcho final : public LineEditor::Echo {
 public:
  explicit ScreenEcho(Held& held) : held_(held) {}

  void typed(int code) override {
    if (!terminal().echoesLines) {
      echo_.widths.push_back(0);
      return;
    }
    std::string out;
    const int before = echo_.columns;
    const auto c = static_cast<unsigned char>(code);
    if (c == '\t') {
      const int x = echo_.pendingWrap ? 0 : terminal().cursor.x;
      for (int n = std::min(8 - x % 8, windowWidth() - x); n > 0; --n)
        column(" ", out);
    } else if ((c < 0x20 || c == 0x7F) && terminal().echoControl) {
      column("^", out);
      column(std::string(1, static_cast<char>(c ^ 0x40)), out);
    } else {
      std::string glyph;
      appendGlyph(glyph, c);
      column(glyph, out);
    }
    echo_.widths.push_back(echo_.columns - before);
    draw(out);
  }

  void erased(std::size_t characters) override {
    std::vector<int>& widths = echo_.widths;
    const auto first = widths.end() - static_cast<std::ptrdiff_t>(characters);
    const int count = std::accumulate(first, widths.end(), 0);
    widths.erase(first, widths.end());
    if (count == 0) return;
    const int to = echo_.columns - count;
    std::string out;
    for (int c = to; c < echo_.columns;) {
      const Position p = at(c);
      const int run = std::min(echo_.columns - c, windowWidth() - p.x);
      if (p.y >= 0) out += cursorTo(p) + std::string(static_cast<std::size_t>(run), ' ');
      c += run;
    }
    Position back = at(to);
    if (back.y < 0) back = {0, 0};  // scrolled off the top: as near as the screen allows
    out += cursorTo(back);
    terminal().cursor = back;
    echo_.columns = to;
    echo_.pendingWrap = false;
    draw(out);
  }

  void enter() {
    if (!terminal().echoesLines) return;
    std::string out;
    newRow(out);
    draw(out);
  }

 private:
  // One column at the cursor.
  void column(const std::string& glyph, std::string& out) {
    if (echo_.pendingWrap) newRow(out);
    out += glyph;
    Position& p = terminal().cursor;
    if (p.x == windowWidth() - 1) {
      echo_.pendingWrap = true;
    } else {
      ++p.x;
    }
    ++echo_.columns;
  }

  void newRow(std::string& out) {
    out += "\r\n";
    Position& p = terminal().cursor;
    p.x = 0;
    if (p.y < terminal().window.bottom) {
      ++p.y;
    } else {
      --echo_.start.y;  // the screen scrolled under the line
    }
    echo_.pendingWrap = false;
  }

  // Where the line's column `c` is (counted from 0 where the line began).
  Position at(int c) const {
    const int offset = echo_.start.x + c;
    return {offset % windowWidth(), echo_.start.y + offset / windowWidth()};
  }

  void draw(const std::string& out) {
    // The terminal's cursor is where the record says, or in the last column
    // with a wrap pending, which settle() or the next character resolves.
    terminal().shownAt = terminal().cursor;
    sendToDraw(out, held_);
  }

  LineEcho& echo_ = terminal().echo;
  Held& held_;  // what the stream holds back, for sendToDraw
};

// Up to `want` bytes from the input, waiting at most timeoutMs (-1: for as
// long as it takes).
Read readBytes(unsigned char* bytes, std::size_t want, int timeoutMs, std::size_t& got) {
  const int fd = terminal().inputFd;
  if (timeoutMs >= 0 && waitFor(fd, POLLIN, timeoutMs) == 0) return Read::Timeout;
  ssize_t n;
  for (;;) {
    n = ::read(fd, bytes, want);
    if (n >= 0) break;
    if (errno == EINTR) continue;
    // Nothing to read yet is not the end of the input: wait for some.
    if (!wouldBlock()) return Read::Error;
    const int ready = waitFor(fd, POLLIN, timeoutMs);
    if (ready == 0) return Read::Timeout;
    if (ready < 0) return Read::Error;
  }
  if (n == 0) return Read::End;
  got = static_cast<std::size_t>(n);
  return Read::Got;
}

// Reads and edits the next line, a byte at a time, so that what follows its
// Enter stays with the terminal. A signal character is sent as the terminal
// would send it: one typed ahead of the line, at a key wait, came as a byte.
Read editLine(Held& held) {
  LineEditor editor(terminal().lineKeys);
  ScreenEcho echo(held);
  LineRead& line = terminal().line;
  for (;;) {
    unsigned char byte = 0;
    std::size_t got = 0;
    const Read read = readBytes(&byte, 1, -1, got);
    if (read == Read::End && !editor.text().empty()) {
      // A last line without its Enter still counts.
      line.edited = editor.text();
      line.inputEnded = true;
      return Read::Got;
    }
    if (read != Read::Got) return read;
    switch (editor.feed(byte, echo)) {
      case LineEditor::Step::more:
        break;
      case LineEditor::Step::ended:
        echo.enter();
        line.edited = std::string(editor.text()) + '\n';
        return Read::Got;
      case LineEditor::Step::endOfInput:
        return Read::End;
      case LineEditor::Step::signal:
        ::kill(0, editor.signal());
        break;
    }
  }
}

Read readLineBytes(unsigned char* bytes, std::size_t capacity, std::size_t& got, Held& held) {
  LineRead& line = terminal().line;
  if (line.handedOut == line.edited.size()) {
    if (line.inputEnded) return Read::End;
    line.edited.clear();
    line.handedOut = 0;
    const Read read = editLine(held);
    if (read != Read::Got) return read;
  }
  got = std::min(capacity, line.edited.size() - line.handedOut);
  std::memcpy(bytes, line.edited.data() + line.handedOut, got);
  line.handedOut += got;
  return Read::Got;
}

}  // namespace
}  // namespace posix

namespace platform {

using posix::terminal;

bool beginKeys() {
  return posix::enterMode(posix::Mode::key);
}

bool endKeys() {
  return posix::enterMode(posix::Mode::edit);
}

// A terminal sends bytes, never key events.
Read nextKeyPress(KeyPress&) {
  return Read::Error;
}

// From a terminal a key is read a byte at a time and a line up to its Enter,
// so what is typed ahead stays with the terminal for the read it belongs to.
Read readInput(unsigned char* bytes, std::size_t capacity, int timeoutMs, std::size_t& got,
               Held& held) {
  if (!terminal().inputIsTerminal) return posix::readBytes(bytes, capacity, timeoutMs, got);
  if (terminal().line.reading) return posix::readLineBytes(bytes, capacity, got, held);
  return posix::readBytes(bytes, 1, timeoutMs, got);
}

void lineStarts() {
  posix::Terminal& t = terminal();
  t.echo = {t.cursor, {}, 0, false};
  t.line = {};
  t.line.reading = true;
}

void lineEnds() {
  posix::Terminal& t = terminal();
  t.line.reading = false;
  if (!t.inputIsTerminal) return;
  // A line that ends without Enter (the end of input) leaves a wrap pending
  // that the terminal resolves only with the next character: settled here,
  // sent by drawingDone.
  if (t.echo.pendingWrap) {
    posix::Frame& out = posix::frame();
    t.cursor.x = 0;
    if (t.cursor.y < t.window.bottom) ++t.cursor.y;
    out.raw("\r\n", t.cursor);
    t.echo.pendingWrap = false;
  }
  t.shownAt = t.cursor;
}

}  // namespace platform
}  // namespace console
