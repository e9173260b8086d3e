// The console's primitives on a POSIX terminal.
//
// Escape sequences sent, and what they do:
//   ESC [ row ; col H    put the cursor at (col, row)
//   ESC [ H ESC [ 2 J    cursor home, then blank the whole screen
//   ESC [ K              blank from the cursor to the end of its row
//   ESC [ 30-37 / 90-97 m     foreground colour, normal / bright
//   ESC [ 40-47 / 100-107 m   background colour, normal / bright
//   ESC [ m              back to the terminal's default colours
//   CR LF                column 1 of the next row; at the bottom row it scrolls the screen
//   BS, BEL              one column left (never past column 1); the bell
//   CAN ESC [ m          (signals.cpp only) abandon a half-sent sequence, default colours
//
// The layer keeps its own record of the cursor and never asks the terminal.
// Every byte it sends, through either channel, and the terminal's echo of a
// line being read, moves the record as the terminal moves its cursor. A
// character placed in the last column is followed at once by an explicit move
// to the next row, so the terminal never holds a pending wrap and the record
// and the screen never part.
#include "console/posix/terminal.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "console/posix/signals.hpp"
#include "console/utf8.hpp"

namespace console {
namespace posix {
namespace {

Terminal state;

// Writes all of `data`, continuing after partial writes; false on failure.
bool writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      if (wouldBlock() && waitFor(fd, POLLOUT, -1) > 0) continue;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace

// The bytes that show code `c` in one column without the terminal reading
// them as a command: control codes become '?', and codes 160-255 the Latin-1
// characters they stand for, as the terminal's character set can show them.
void appendGlyph(std::string& out, unsigned char c) {
  if (c == 0) {
    out += ' ';
  } else if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
    out += '?';
  } else if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c == 0xAD) {
    out += '-';  // a soft hyphen is drawn with no width by some terminals
  } else if (state.charset == Charset::Utf8) {
    char utf8[4];
    out.append(utf8, encodeUtf8(c, utf8));
  } else if (state.charset == Charset::Latin1) {
    out += static_cast<char>(c);
  } else {
    out += '?';
  }
}

std::string cursorTo(Position at) {
  return "\x1b[" + std::to_string(at.y + 1) + ';' + std::to_string(at.x + 1) + 'H';
}

namespace {

// SGR parameters for a colour (attribute bits: blue 0, green 1, red 2,
// intensity 3); ANSI numbers colours red first.
int ansiColour(int bits) {
  return ((bits & 1) << 2) | (bits & 2) | ((bits & 4) >> 2);
}

// The SGR that sets `attribute`, from the terminal's default colours; empty
// when the attribute is the normal one. A colour equal to the normal one is
// left to the terminal's own default, so light and dark themes both look right.
std::string colourSequence(unsigned attribute) {
  const unsigned normal = state.window.normalAttribute;
  const unsigned foreground = attribute & 0x0F;
  const unsigned background = (attribute >> 4) & 0x0F;
  std::string parameters;
  if (foreground != (normal & 0x0F)) {
    const int base = (foreground & 8) ? 90 : 30;
    parameters += std::to_string(base + ansiColour(static_cast<int>(foreground)));
  }
  if (background != ((normal >> 4) & 0x0F)) {
    if (!parameters.empty()) parameters += ';';
    const int base = (background & 8) ? 100 : 40;
    parameters += std::to_string(base + ansiColour(static_cast<int>(background)));
  }
  if (parameters.empty()) return {};
  return "\x1b[" + parameters + "m";
}

bool backgroundIsNormal(unsigned attribute) {
  return ((attribute >> 4) & 0x0F) == ((state.window.normalAttribute >> 4) & 0x0F);
}

}  // namespace

Frame::Frame() : at_(state.shownAt) {}

void Frame::moveTo(Position p) {
  if (at_ == p) return;
  bytes_ += cursorTo(p);
  at_ = p;
}

void Frame::cells(std::string_view shown, int count, unsigned attribute) {
  const std::string colour = colourSequence(attribute);
  bytes_ += colour;
  bytes_ += shown;
  if (!colour.empty()) bytes_ += "\x1b[m";
  if (at_) {
    at_->x += count;
    // In the last column the terminal holds a pending wrap: position unknown until moved.
    if (at_->x >= windowWidth()) at_.reset();
  }
}

void Frame::raw(std::string_view text, std::optional<Position> after) {
  bytes_ += text;
  at_ = after;
}

namespace {

// Paints `count` spaces in `attribute` from p; for a background the terminal's
// erase commands would not give (they erase in the default background on
// terminals without background-colour erase).
void paintBlanks(Frame& out, Position p, int count, unsigned attribute) {
  out.moveTo(p);
  out.cells(std::string(static_cast<std::size_t>(count), ' '), count, attribute);
}

// Ends a drawing operation: the terminal's cursor where the record says.
void finish(Frame& out) {
  out.moveTo(state.cursor);
  state.shownAt = state.cursor;
}

Charset charsetFromLocale() {
  const char* names[] = {"LC_ALL", "LC_CTYPE", "LANG"};
  for (const char* name : names) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') continue;
    std::string locale(value);
    std::transform(locale.begin(), locale.end(), locale.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (locale.find("utf-8") != std::string::npos || locale.find("utf8") != std::string::npos) {
      return Charset::Utf8;
    }
    if (locale.find("8859-1") != std::string::npos || locale.find("latin1") != std::string::npos) {
      return Charset::Latin1;
    }
    return Charset::Ascii;
  }
  return Charset::Ascii;
}

platform::Found openWith(const ConsoleFds& fds) {
  state = Terminal{};
  state.inputFd = fds.input;
  state.streamFd = fds.stream;
  state.drawFd = fds.draw;
  state.inputIsTerminal = ::tcgetattr(fds.input, &state.lineMode) == 0;
  state.charset = charsetFromLocale();
  if (state.inputIsTerminal) {
    state.echoesLines = (state.lineMode.c_lflag & ECHO) != 0;
    state.echoControl = (state.lineMode.c_lflag & ECHOCTL) != 0;
    state.lineKeys = lineKeysFrom(state.lineMode, state.charset == Charset::Utf8);
  }

  platform::Found found;
  found.streamIsTerminal = ::isatty(fds.stream) == 1;
  found.erase = state.inputIsTerminal ? state.lineMode.c_cc[VERASE] : 0x7F;
  found.utf8 = state.charset == Charset::Utf8;
  found.interactive = state.inputIsTerminal;
  winsize size{};
  if (::isatty(fds.draw) != 1) {
    // No terminal at all: draw for the console the screens were made for.
    size.ws_col = 80;
    size.ws_row = 25;
  } else if (::ioctl(fds.draw, TIOCGWINSZ, &size) != 0) {
    size = {};
  }
  if (size.ws_col > 0 && size.ws_row > 0) {
    // VT terminals cannot report their colours: light grey on black stands for them.
    found.sizeKnown = true;
    found.attribute = 7;
    found.width = std::min<int>(size.ws_col, 255);
    found.height = std::min<int>(size.ws_row, 255);
  }
  installHandlers(state.drawFd, state.inputIsTerminal ? state.inputFd : -1, state.lineMode);
  // Should the mode not take, the terminal still edits and echoes lines
  // itself, and the program, given whole lines, only echoes them again.
  if (state.inputIsTerminal) (void)enterMode(Mode::edit);
  return found;
}

}  // namespace

int waitFor(int fd, short events, int timeoutMs) {
  pollfd pfd{fd, events, 0};
  int ready;
  do {
    ready = ::poll(&pfd, 1, timeoutMs);
  } while (ready < 0 && errno == EINTR);
  return ready;
}

bool wouldBlock() {
  return errno == EAGAIN || errno == EWOULDBLOCK;
}

Terminal& terminal() {
  return state;
}

int windowWidth() {
  return state.window.right - state.window.left + 1;
}

Frame& frame() {
  if (!state.drawing) state.drawing.emplace();
  return *state.drawing;
}

void sendToDraw(const std::string& bytes, platform::Held& held) {
  if (bytes.empty()) return;
  if (state.drawFd == state.streamFd && !held.bytes.empty() &&
      held.fate == platform::Held::Fate::kept) {
    const bool written = writeAll(state.streamFd, held.bytes.data(), held.bytes.size());
    held.fate = written ? platform::Held::Fate::written : platform::Held::Fate::failed;
  }
  (void)writeAll(state.drawFd, bytes.data(), bytes.size());
}

void useDescriptors(const ConsoleFds& fds) {
  state.handedIn = fds;
}

}  // namespace posix

namespace platform {

using posix::state;

Found openTerminal() {
  const std::optional<posix::ConsoleFds> handedIn = std::exchange(state.handedIn, std::nullopt);
  if (handedIn) return posix::openWith(*handedIn);
  const int tty = ::open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);
  Found found = posix::openWith({STDIN_FILENO, STDOUT_FILENO, tty >= 0 ? tty : STDOUT_FILENO});
  state.ownsDrawFd = tty >= 0;
  return found;
}

void useWindow(const Window& window) {
  state.window = window;
}

void closeTerminal() {
  posix::removeHandlers();
  if (state.inputIsTerminal) (void)posix::enterMode(posix::Mode::own);
  if (state.ownsDrawFd) ::close(state.drawFd);
  state.ownsDrawFd = false;
}

// ---------------------------------------------------------------------------
// Direct drawing

bool readCursor(Position& at) {
  at = state.cursor;
  return true;
}

// The terminal is told only when something is drawn or read there.
void setCursor(Position at) {
  state.cursor = at;
}

void putCells(Position at, std::string_view codes, unsigned attribute) {
  std::string shown;
  for (char c : codes)
    posix::appendGlyph(shown, static_cast<unsigned char>(c));
  posix::Frame& out = posix::frame();
  out.moveTo(at);
  out.cells(shown, static_cast<int>(codes.size()), attribute);
}

void blankCells(Position at, int count, unsigned attribute) {
  const Window& w = state.window;
  const int width = posix::windowWidth();
  posix::Frame& out = posix::frame();
  const bool erase = posix::backgroundIsNormal(attribute);
  if (at == Position{0, 0} && count >= w.width * w.height) {
    if (erase) {
      out.raw("\x1b[H\x1b[2J", Position{0, 0});
      return;
    }
    for (int y = w.top; y <= w.bottom; ++y) {
      posix::paintBlanks(out, {w.left, y}, width, attribute);
    }
    return;
  }
  out.moveTo(at);
  if (erase && at.x + count >= width) {
    out.raw("\x1b[K", out.at());
  } else {
    posix::paintBlanks(out, at, count, attribute);
  }
}

void scrollUp(unsigned attribute) {
  posix::Frame& out = posix::frame();
  const Position bottom{state.window.left, state.window.bottom};
  out.moveTo(bottom);
  out.raw("\n", bottom);
  if (!posix::backgroundIsNormal(attribute)) {
    posix::paintBlanks(out, bottom, posix::windowWidth(), attribute);
  }
}

void bell() {
  posix::Frame& out = posix::frame();
  out.raw("\a", out.at());
}

void drawingDone(Held& held) {
  posix::Frame& out = posix::frame();
  posix::finish(out);
  const std::string bytes = std::move(out.bytes());
  state.drawing.reset();
  posix::sendToDraw(bytes, held);
}

// ---------------------------------------------------------------------------
// The stream

// Moves the record past `text` as the terminal draws it, and makes every byte
// safe to send, except for the control codes the stream passes on.
std::string streamBytes(std::string_view text) {
  posix::Frame out;
  out.moveTo(state.cursor);
  const int width = posix::windowWidth();
  const int bottom = state.window.bottom;
  Position& p = state.cursor;
  auto newRow = [&] {
    p.x = 0;
    if (p.y < bottom) ++p.y;
  };
  std::string shown;
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '\n':
        out.raw("\n", std::nullopt);
        newRow();
        break;
      case '\r':
        out.raw("\r", std::nullopt);
        p.x = 0;
        break;
      case '\b':
        out.raw("\b", std::nullopt);
        if (p.x > 0) --p.x;
        break;
      case '\a':
        out.raw("\a", std::nullopt);
        break;
      default:
        shown.clear();
        posix::appendGlyph(shown, c);
        out.raw(shown, std::nullopt);
        if (++p.x == width) {
          out.raw("\r\n", std::nullopt);
          newRow();
        }
        break;
    }
  }
  // Every byte above moved the terminal's cursor just as the record moved.
  state.shownAt = state.cursor;
  return std::move(out.bytes());
}

bool writeStream(const char* bytes, std::size_t size) {
  return posix::writeAll(state.streamFd, bytes, size);
}

// ---------------------------------------------------------------------------
// Clearing by command

int runCommand(const char* command, Held& held) {
  // There is no interpreter that knows "cls" here: the layer does its work.
  if (std::strcmp(command, "cls") != 0) return -1;
  posix::Frame out;
  out.raw("\x1b[m\x1b[H\x1b[2J", Position{0, 0});
  state.cursor = {0, 0};
  state.shownAt = state.cursor;
  posix::sendToDraw(out.bytes(), held);
  return 0;
}

}  // namespace platform
}  // namespace console
