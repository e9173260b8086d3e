// The console layer on a POSIX terminal.
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
//   CAN ESC [ m          (signal handlers only) abandon a half-sent sequence, default colours
//
// The layer keeps its own record of the cursor and never asks the terminal.
// Every byte it sends, through either channel, and the terminal's echo of a
// line being read, moves the record as the terminal moves its cursor. A
// character placed in the last column is followed at once by an explicit move
// to the next row, so the terminal never holds a pending wrap and the record
// and the screen never part.
#include "console/console.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "console/keys.hpp"

namespace console {
namespace {

struct Position {
  int x = 0;  // 0-based column
  int y = 0;  // 0-based row
  friend bool operator==(const Position&, const Position&) = default;
};

enum class Charset { Ascii, Latin1, Utf8 };

// Standard output when it is not a terminal: gathered 512 bytes at a time.
struct StreamBuffer {
  std::array<char, 512> bytes{};
  std::size_t used = 0;
};

// Standard input, shared by readKey and readLine so that neither swallows
// bytes meant for the other.
struct InputBuffer {
  std::array<unsigned char, 4096> bytes{};
  std::size_t begin = 0;
  std::size_t end = 0;
};

// Everything the layer knows; one instance.
struct Layer {
  ConsoleScreen screen;
  bool open = false;
  int inputFd = 0;          // keys and lines
  int streamFd = 1;         // printText and friends
  int drawFd = 1;           // direct drawing
  bool ownsDrawFd = false;  // drawFd was opened here (/dev/tty) and is closed here
  bool streamIsTerminal = false;
  bool streamFailed =
      false;  // a write to standard output failed: the stream is dropped from now on
  StreamBuffer streamBuffer;
  Charset charset = Charset::Ascii;
  Position cursor;                  // where the cursor is, as the screens see it
  std::optional<Position> shownAt;  // where the terminal's cursor really is, when known
  bool inputIsTerminal = false;
  bool echoesLines = false;  // the terminal shows what is typed at readLine
  bool echoControl = true;   // ...and shows control characters as ^X
  termios lineMode{};        // input mode found at start-up
  InputBuffer input;
  bool inputEnded = false;  // end of input met: every later read finds it ended
  KeyDecoder decoder{0x7F, true};
};

Layer layer;

// Read by the signal handlers; set only outside them.
volatile std::sig_atomic_t handlersReady = 0;
volatile std::sig_atomic_t rawActive = 0;
int signalDrawFd = -1;
int signalInputFd = -1;
termios signalLineMode{};
termios signalRawMode{};
constexpr char kSignalReset[] = "\x18\x1b[m";

int windowWidth() {
  return layer.screen.windowRight - layer.screen.windowLeft + 1;
}

// ---------------------------------------------------------------------------
// Writing

// Waits until `fd` is ready for `events`, at most timeoutMs (-1: for ever):
// 1 ready, 0 the time passed, -1 poll failed.
int waitFor(int fd, short events, int timeoutMs) {
  pollfd pfd{fd, events, 0};
  int ready;
  do {
    ready = ::poll(&pfd, 1, timeoutMs);
  } while (ready < 0 && errno == EINTR);
  return ready;
}

// A descriptor in non-blocking mode (a terminal an earlier program left so,
// or shared with one) says EAGAIN where another would wait.
bool wouldBlock() {
  return errno == EAGAIN || errno == EWOULDBLOCK;
}

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

void flushStreamBuffer() {
  StreamBuffer& buffer = layer.streamBuffer;
  if (buffer.used == 0) return;
  if (!layer.streamFailed && !writeAll(layer.streamFd, buffer.bytes.data(), buffer.used)) {
    layer.streamFailed = true;
  }
  buffer.used = 0;
}

// Direct drawing goes to the terminal at once; whatever the stream still
// holds for the same descriptor goes first, so bytes keep their order.
void sendToDraw(const std::string& bytes) {
  if (bytes.empty()) return;
  if (layer.drawFd == layer.streamFd) flushStreamBuffer();
  (void)writeAll(layer.drawFd, bytes.data(), bytes.size());
}

void sendToStream(const std::string& bytes) {
  if (bytes.empty() || layer.streamFailed) return;
  if (layer.streamIsTerminal) {
    if (!writeAll(layer.streamFd, bytes.data(), bytes.size())) layer.streamFailed = true;
    return;
  }
  StreamBuffer& buffer = layer.streamBuffer;
  std::string_view rest = bytes;
  while (!rest.empty()) {
    std::size_t room = buffer.bytes.size() - buffer.used;
    std::size_t part = std::min(room, rest.size());
    std::memcpy(buffer.bytes.data() + buffer.used, rest.data(), part);
    buffer.used += part;
    rest.remove_prefix(part);
    if (buffer.used == buffer.bytes.size()) flushStreamBuffer();
  }
}

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
  } else if (layer.charset == Charset::Utf8) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (layer.charset == Charset::Latin1) {
    out += static_cast<char>(c);
  } else {
    out += '?';
  }
}

// SGR parameters for a colour (attribute bits: blue 0, green 1, red 2,
// intensity 3); ANSI numbers colours red first.
int ansiColour(int bits) {
  return ((bits & 1) << 2) | (bits & 2) | ((bits & 4) >> 2);
}

// The SGR that sets `attribute`, from the terminal's default colours; empty
// when the attribute is the normal one. A colour equal to the normal one is
// left to the terminal's own default, so light and dark themes both look right.
std::string colourSequence(unsigned attribute) {
  unsigned normal = layer.screen.normalAttribute;
  unsigned foreground = attribute & 0x0F;
  unsigned background = (attribute >> 4) & 0x0F;
  std::string parameters;
  if (foreground != (normal & 0x0F)) {
    int base = (foreground & 8) ? 90 : 30;
    parameters += std::to_string(base + ansiColour(static_cast<int>(foreground)));
  }
  if (background != ((normal >> 4) & 0x0F)) {
    if (!parameters.empty()) parameters += ';';
    int base = (background & 8) ? 100 : 40;
    parameters += std::to_string(base + ansiColour(static_cast<int>(background)));
  }
  if (parameters.empty()) return {};
  return "\x1b[" + parameters + "m";
}

bool backgroundIsNormal(unsigned attribute) {
  return ((attribute >> 4) & 0x0F) == ((layer.screen.normalAttribute >> 4) & 0x0F);
}

// The bytes of one drawing operation, built whole and then written once.
// Knows where the terminal's cursor stands as the bytes are added.
class Frame {
 public:
  Frame() : at_(layer.shownAt) {}

  std::string& bytes() { return bytes_; }
  const std::optional<Position>& at() const { return at_; }

  void moveTo(Position p) {
    if (at_ == p) return;
    bytes_ += "\x1b[" + std::to_string(p.y + 1) + ';' + std::to_string(p.x + 1) + 'H';
    at_ = p;
  }
  // Cells drawn by the terminal from where its cursor stands.
  void cells(std::string_view shown, int count, unsigned attribute) {
    std::string colour = colourSequence(attribute);
    bytes_ += colour;
    bytes_ += shown;
    if (!colour.empty()) bytes_ += "\x1b[m";
    if (at_) {
      at_->x += count;
      // In the last column the terminal holds a pending wrap: position unknown until moved.
      if (at_->x >= windowWidth()) at_.reset();
    }
  }
  void raw(std::string_view text, std::optional<Position> after) {
    bytes_ += text;
    at_ = after;
  }

 private:
  std::string bytes_;
  std::optional<Position> at_;
};

// Paints `count` spaces in `attribute` from p; for a background the terminal's
// erase commands would not give (they erase in the default background on
// terminals without background-colour erase).
void paintBlanks(Frame& frame, Position p, int count, unsigned attribute) {
  frame.moveTo(p);
  frame.cells(std::string(static_cast<std::size_t>(count), ' '), count, attribute);
}

// Ends a drawing operation: the terminal's cursor where the record says.
void finish(Frame& frame) {
  frame.moveTo(layer.cursor);
  layer.shownAt = layer.cursor;
}

void scrollUp(Frame& frame) {
  const ConsoleScreen& s = layer.screen;
  Position bottom{s.windowLeft, s.windowBottom};
  frame.moveTo(bottom);
  frame.raw("\n", bottom);
  if (!backgroundIsNormal(s.textAttribute)) {
    paintBlanks(frame, bottom, windowWidth(), s.textAttribute);
  }
}

// The cell writer: places `text` at the cursor in the text attribute, by the
// console's rules for BEL, BS, LF and CR, wrapping at the window's right edge
// and scrolling at its bottom; every other code is a cell.
void writeCells(std::string_view text) {
  const ConsoleScreen& s = layer.screen;
  Frame frame;
  int x = layer.cursor.x;
  int y = layer.cursor.y;
  std::string run;  // shown bytes of the cells waiting to be placed on row y
  int runCells = 0;
  auto flush = [&] {
    if (runCells == 0) return;
    frame.moveTo({x - runCells, y});
    frame.cells(run, runCells, s.textAttribute);
    run.clear();
    runCells = 0;
  };
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case 7:
        flush();
        frame.raw("\a", frame.at());
        break;
      case 8:
        flush();
        if (x > s.windowLeft) --x;
        break;
      case 10:
        flush();
        ++y;
        break;
      case 13:
        flush();
        x = s.windowLeft;
        break;
      default:
        appendGlyph(run, c);
        ++runCells;
        ++x;
        break;
    }
    if (runCells == 80) flush();
    if (x > s.windowRight) {
      flush();
      x = s.windowLeft;
      ++y;
    }
    if (y > s.windowBottom) {
      flush();
      scrollUp(frame);
      y = s.windowBottom;
    }
  }
  flush();
  layer.cursor = {x, y};
  finish(frame);
  sendToDraw(frame.bytes());
}

// Moves the record past `text` as the terminal draws it; the text is already
// made safe, except for the control codes the stream passes on.
void writeStream(std::string_view text) {
  Frame frame;
  frame.moveTo(layer.cursor);
  const int width = windowWidth();
  const int bottom = layer.screen.windowBottom;
  Position& p = layer.cursor;
  auto newRow = [&] {
    p.x = 0;
    if (p.y < bottom) ++p.y;
  };
  std::string shown;
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '\n':
        frame.raw("\r\n", std::nullopt);
        newRow();
        break;
      case '\r':
        frame.raw("\r", std::nullopt);
        p.x = 0;
        break;
      case '\b':
        frame.raw("\b", std::nullopt);
        if (p.x > 0) --p.x;
        break;
      case '\a':
        frame.raw("\a", std::nullopt);
        break;
      default:
        shown.clear();
        appendGlyph(shown, c);
        frame.raw(shown, std::nullopt);
        if (++p.x == width) {
          frame.raw("\r\n", std::nullopt);
          newRow();
        }
        break;
    }
  }
  // Every byte above moved the terminal's cursor just as the record moved.
  layer.shownAt = layer.cursor;
  sendToStream(frame.bytes());
}

// Before a read, the terminal's cursor must stand where the record says, so
// the operator sees it there and the terminal's echo starts there.
void showCursor() {
  if (layer.shownAt == layer.cursor) return;
  Frame frame;
  finish(frame);
  sendToDraw(frame.bytes());
}

// ---------------------------------------------------------------------------
// Reading

enum class ByteRead { Byte, Timeout, End, Error };

// One byte of input, waiting at most timeoutMs (-1: for ever). From a
// terminal one byte is read at a time, so keys typed ahead stay with the
// terminal (a key read must not swallow the next line, nor the reverse).
ByteRead readByte(unsigned char& byte, int timeoutMs) {
  InputBuffer& in = layer.input;
  if (in.begin == in.end) {
    if (timeoutMs >= 0 && waitFor(layer.inputFd, POLLIN, timeoutMs) == 0) return ByteRead::Timeout;
    std::size_t want = layer.inputIsTerminal ? 1 : in.bytes.size();
    ssize_t got;
    for (;;) {
      got = ::read(layer.inputFd, in.bytes.data(), want);
      if (got >= 0) break;
      if (errno == EINTR) continue;
      // Nothing to read yet is not the end of the input: wait for some.
      if (!wouldBlock()) return ByteRead::Error;
      const int ready = waitFor(layer.inputFd, POLLIN, timeoutMs);
      if (ready == 0) return ByteRead::Timeout;
      if (ready < 0) return ByteRead::Error;
    }
    if (got == 0) return ByteRead::End;
    in.begin = 0;
    in.end = static_cast<std::size_t>(got);
  }
  byte = in.bytes[in.begin++];
  return ByteRead::Byte;
}

// The terminal's echo of one byte of a line being typed, as its cursor moves:
// text wraps at the right edge (the terminal holds a pending wrap in the last
// column), control characters echo as ^X, a tab goes to the next tab stop,
// and Enter goes to column 1 of the next row.
struct EchoTracker {
  bool pendingWrap = false;

  void column() {
    Position& p = layer.cursor;
    const int width = windowWidth();
    if (pendingWrap) {
      p.x = 0;
      if (p.y < layer.screen.windowBottom) ++p.y;
      pendingWrap = false;
    }
    if (p.x == width - 1) {
      pendingWrap = true;
    } else {
      ++p.x;
    }
  }
  void echo(unsigned char c) {
    Position& p = layer.cursor;
    if (c == '\n') {
      pendingWrap = false;
      p.x = 0;
      if (p.y < layer.screen.windowBottom) ++p.y;
    } else if (c == '\t') {
      if (!pendingWrap) p.x = std::min((p.x / 8 + 1) * 8, windowWidth() - 1);
    } else if (c < 0x20 || c == 0x7F) {
      if (layer.echoControl) {
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
      Frame frame;
      frame.raw("\r\n", std::nullopt);
      layer.cursor.x = 0;
      if (layer.cursor.y < layer.screen.windowBottom) ++layer.cursor.y;
      layer.shownAt = layer.cursor;
      sendToDraw(frame.bytes());
    } else {
      layer.shownAt = layer.cursor;
    }
  }
};

// ---------------------------------------------------------------------------
// Terminal modes and signals

termios rawModeFrom(const termios& mode) {
  termios raw = mode;
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | IEXTEN | ISIG));
  raw.c_iflag &= static_cast<tcflag_t>(~(IXON | ICRNL | INLCR | IGNCR));
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  return raw;
}

void onTerminatingSignal(int sig) {
  int savedErrno = errno;
  if (handlersReady) {
    (void)!::write(signalDrawFd, kSignalReset, sizeof kSignalReset - 1);
    if (signalInputFd >= 0) ::tcsetattr(signalInputFd, TCSANOW, &signalLineMode);
  }
  ::signal(sig, SIG_DFL);
  ::raise(sig);
  errno = savedErrno;
}

// A stop while a key is awaited gives the shell its line mode back; on
// continuing, the key read goes on in raw mode.
void onStop(int) {
  int savedErrno = errno;
  if (rawActive && signalInputFd >= 0) ::tcsetattr(signalInputFd, TCSANOW, &signalLineMode);
  ::signal(SIGTSTP, SIG_DFL);
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTSTP);
  ::sigprocmask(SIG_UNBLOCK, &stop, nullptr);
  ::raise(SIGTSTP);
  // Continued.
  struct sigaction action {};
  action.sa_handler = onStop;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGTSTP, &action, nullptr);
  if (rawActive && signalInputFd >= 0) ::tcsetattr(signalInputFd, TCSANOW, &signalRawMode);
  errno = savedErrno;
}

// Signals that end the program, each given the terminal's line mode and
// default colours back first: sent from outside, SIGINT and SIGQUIT may come
// while a key is awaited in raw mode, when the terminal sends neither.
constexpr int kTerminatingSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};
struct sigaction terminatingBefore[std::size(kTerminatingSignals)];
bool terminatingCaught[std::size(kTerminatingSignals)] = {};

void installHandlers() {
  signalDrawFd = layer.drawFd;
  signalInputFd = layer.inputIsTerminal ? layer.inputFd : -1;
  signalLineMode = layer.lineMode;
  signalRawMode = rawModeFrom(layer.lineMode);
  handlersReady = 1;
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  action.sa_handler = onTerminatingSignal;
  for (std::size_t i = 0; i < std::size(kTerminatingSignals); ++i) {
    // A signal the program was started ignoring (nohup, a background job)
    // stays ignored.
    struct sigaction before {};
    ::sigaction(kTerminatingSignals[i], nullptr, &before);
    terminatingCaught[i] = before.sa_handler != SIG_IGN;
    if (terminatingCaught[i]) ::sigaction(kTerminatingSignals[i], &action, &terminatingBefore[i]);
  }
  action.sa_handler = onStop;
  ::sigaction(SIGTSTP, &action, nullptr);
  // A reader that went away makes writes fail instead of ending the program.
  ::signal(SIGPIPE, SIG_IGN);
}

void removeHandlers() {
  handlersReady = 0;
  for (std::size_t i = 0; i < std::size(kTerminatingSignals); ++i) {
    if (terminatingCaught[i]) ::sigaction(kTerminatingSignals[i], &terminatingBefore[i], nullptr);
    terminatingCaught[i] = false;
  }
  ::signal(SIGTSTP, SIG_DFL);
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

}  // namespace

// ---------------------------------------------------------------------------
// Opening and closing

void openConsole() {
  int tty = ::open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);
  openConsole({STDIN_FILENO, STDOUT_FILENO, tty >= 0 ? tty : STDOUT_FILENO});
  layer.ownsDrawFd = tty >= 0;
}

void openConsole(const ConsoleFds& fds) {
  layer = Layer{};
  layer.inputFd = fds.input;
  layer.streamFd = fds.stream;
  layer.drawFd = fds.draw;
  layer.streamIsTerminal = ::isatty(fds.stream) == 1;
  layer.inputIsTerminal = ::tcgetattr(fds.input, &layer.lineMode) == 0;
  layer.charset = charsetFromLocale();
  if (layer.inputIsTerminal) {
    layer.echoesLines = (layer.lineMode.c_lflag & ECHO) != 0;
    layer.echoControl = (layer.lineMode.c_lflag & ECHOCTL) != 0;
  }
  unsigned char erase = layer.inputIsTerminal ? layer.lineMode.c_cc[VERASE] : 0x7F;
  if (erase != 0x08) erase = 0x7F;
  layer.decoder = KeyDecoder(erase, layer.charset == Charset::Utf8);

  ConsoleScreen& s = layer.screen;
  winsize size{};
  bool terminal = ::isatty(fds.draw) == 1;
  if (!terminal) {
    // No terminal at all: draw for the console the screens were made for.
    size.ws_col = 80;
    size.ws_row = 25;
  } else if (::ioctl(fds.draw, TIOCGWINSZ, &size) != 0) {
    size = {};
  }
  if (size.ws_col > 0 && size.ws_row > 0) {
    // VT terminals cannot report their colours: light grey on black stands for them.
    s.textAttribute = s.normalAttribute = 7;
    s.screenWidth = static_cast<std::uint8_t>(std::min<int>(size.ws_col, 255));
    s.screenHeight = static_cast<std::uint8_t>(std::min<int>(size.ws_row, 255));
  }
  s.windowLeft = 0;
  s.windowTop = 0;
  s.windowRight = static_cast<std::uint8_t>(s.screenWidth - 1);
  s.windowBottom = static_cast<std::uint8_t>(s.screenHeight - 1);
  s.pendingExtendedCode = -1;
  layer.open = true;
  installHandlers();
}

void closeConsole() {
  if (!layer.open) return;
  layer.open = false;
  flushStreamBuffer();
  removeHandlers();
  if (layer.inputIsTerminal) ::tcsetattr(layer.inputFd, TCSANOW, &layer.lineMode);
  if (layer.ownsDrawFd) ::close(layer.drawFd);
  layer.ownsDrawFd = false;
}

const ConsoleScreen& consoleScreen() {
  return layer.screen;
}

// ---------------------------------------------------------------------------
// Direct drawing

void clearScreen() {
  const ConsoleScreen& s = layer.screen;
  Frame frame;
  if (backgroundIsNormal(s.textAttribute)) {
    frame.raw("\x1b[H\x1b[2J", Position{0, 0});
  } else {
    for (int y = s.windowTop; y <= s.windowBottom; ++y) {
      paintBlanks(frame, {s.windowLeft, y}, windowWidth(), s.textAttribute);
    }
  }
  layer.cursor = {s.windowLeft, s.windowTop};
  finish(frame);
  sendToDraw(frame.bytes());
}

void clearToEndOfLine() {
  const ConsoleScreen& s = layer.screen;
  Frame frame;
  frame.moveTo(layer.cursor);
  if (backgroundIsNormal(s.textAttribute)) {
    frame.raw("\x1b[K", frame.at());
  } else {
    paintBlanks(frame, layer.cursor, s.windowRight - layer.cursor.x + 1, s.textAttribute);
  }
  finish(frame);
  sendToDraw(frame.bytes());
}

void moveCursor(int column, int row) {
  const ConsoleScreen& s = layer.screen;
  int x = s.windowLeft + column - 1;
  int y = s.windowTop + row - 1;
  if (y < s.windowTop || y > s.windowBottom || x < s.windowLeft || x > s.windowRight) return;
  // The terminal is told only when something is drawn or read there.
  layer.cursor = {x, y};
}

void setTextColor(int color) {
  unsigned attribute =
      (layer.screen.textAttribute & 0x70u) | (static_cast<unsigned>(color) & 0x8Fu);
  layer.screen.textAttribute = static_cast<std::uint16_t>(attribute);
}

int consoleWrite(const char* text) {
  std::string_view view(text);
  writeCells(view);
  return static_cast<int>(view.size());
}

void consoleWriteChar(int code) {
  char cell = static_cast<char>(code & 0xFF);
  writeCells(std::string_view(&cell, 1));
}

// ---------------------------------------------------------------------------
// The standard output stream

void printText(const char* text) {
  writeStream(text);
}

void printChar(char character) {
  writeStream(std::string_view(&character, 1));
}

void printNumber(std::int32_t value) {
  writeStream(std::to_string(value));
}

// ---------------------------------------------------------------------------
// Keyboard

int readKey() {
  ConsoleScreen& s = layer.screen;
  if (s.pendingExtendedCode != -1) {
    int code = s.pendingExtendedCode;
    s.pendingExtendedCode = -1;
    return code;
  }
  if (layer.inputEnded) return -1;
  showCursor();
  // The mode is saved afresh for each key, and it is what the signal
  // handlers give back if the program is stopped or ended during the wait.
  termios saved{};
  if (layer.inputIsTerminal) {
    if (::tcgetattr(layer.inputFd, &saved) != 0) return -1;
    signalLineMode = saved;
    signalRawMode = rawModeFrom(saved);
    if (::tcsetattr(layer.inputFd, TCSANOW, &signalRawMode) != 0) return -1;
    rawActive = 1;
  }
  int result = -1;
  KeyDecoder& decoder = layer.decoder;
  for (;;) {
    KeyPress press;
    if (decoder.take(press)) {
      std::optional<KeyCodes> codes = keyCodes(press);
      if (!codes) continue;
      result = codes->code;
      if (codes->extended >= 0) s.pendingExtendedCode = codes->extended;
      break;
    }
    unsigned char byte = 0;
    ByteRead got = readByte(byte, decoder.waiting() ? decoder.timeoutMs() : -1);
    if (got == ByteRead::Byte) {
      decoder.feed(byte);
    } else if (got == ByteRead::Timeout) {
      decoder.expire();
    } else {
      decoder.expire();
      if (decoder.take(press)) {
        // The last key before the end still counts; the end is met next time.
        if (std::optional<KeyCodes> codes = keyCodes(press)) {
          result = codes->code;
          if (codes->extended >= 0) s.pendingExtendedCode = codes->extended;
        }
      }
      layer.inputEnded = true;
      break;
    }
  }
  if (layer.inputIsTerminal) {
    rawActive = 0;
    if (::tcsetattr(layer.inputFd, TCSANOW, &saved) != 0) result = -1;
  }
  return result;
}

int readKeyEcho() {
  int code = readKey();
  consoleWriteChar(code);
  return code;
}

namespace {

// A line's text as it is read: kept up to the buffer's capacity, counted
// whole. In a UTF-8 locale each character becomes its single-byte code, as
// keys do and as texts are shown, so that nothing stores part of one.
class LineText {
 public:
  LineText(char* buffer, std::size_t capacity) : buffer_(buffer), capacity_(capacity) {}

  void take(unsigned char byte) {
    if (layer.charset != Charset::Utf8 || (byte < 0x80 && !utf8_.pending())) return put(byte);
    if (utf8_.pending()) {
      switch (utf8_.next(byte)) {
        case Utf8Decoder::Step::more:
          return;
        case Utf8Decoder::Step::done:
          return put(static_cast<unsigned char>(utf8_.character()));
        case Utf8Decoder::Step::broken:
          put(Utf8Decoder::kUnknown);
          break;  // and the byte afresh
      }
    }
    if (byte < 0x80) {
      put(byte);
    } else if (!utf8_.begin(byte)) {
      put(Utf8Decoder::kUnknown);
    }
  }
  // Ends the text: a character cut short is '?'; then the terminating zero.
  void finish() {
    if (utf8_.pending()) {
      utf8_ = {};
      put(Utf8Decoder::kUnknown);
    }
    if (capacity_ > 0) buffer_[std::min(length_, capacity_ - 1)] = '\0';
  }
  std::size_t length() const { return length_; }

 private:
  void put(unsigned char c) {
    if (length_ + 1 < capacity_) buffer_[length_] = static_cast<char>(c);
    ++length_;
  }

  char* buffer_;
  std::size_t capacity_;
  std::size_t length_ = 0;  // the whole line's, also past the capacity
  Utf8Decoder utf8_;
};

}  // namespace

std::optional<std::size_t> readLine(char* buffer, std::size_t capacity) {
  if (layer.inputEnded) return std::nullopt;
  showCursor();
  EchoTracker echo;
  LineText text(buffer, capacity);
  bool any = false;
  bool lineRead = false;
  for (;;) {
    unsigned char byte = 0;
    ByteRead got = readByte(byte, -1);
    if (got != ByteRead::Byte) {
      layer.inputEnded = true;
      // A last line without its line feed still counts; after a read error
      // what was read is kept, but no line is reported.
      lineRead = any && got == ByteRead::End;
      if (got == ByteRead::Error && any) text.finish();
      break;
    }
    if (layer.echoesLines) echo.echo(byte);
    if (byte == '\n') {
      lineRead = true;
      break;
    }
    if (byte == 26) {  // Ctrl+Z ends the input where it stands
      layer.inputEnded = true;
      lineRead = any;
      break;
    }
    any = true;
    if (byte == '\r') continue;
    text.take(byte);
  }
  if (layer.echoesLines) echo.done();
  if (!lineRead) return std::nullopt;
  text.finish();
  return text.length();
}

// ---------------------------------------------------------------------------
// Clearing by command

int clearByCommand(const char* command) {
  // There is no interpreter that knows "cls" here: the layer does its work.
  if (command == nullptr || std::strcmp(command, "cls") != 0) return -1;
  Frame frame;
  frame.raw("\x1b[m\x1b[H\x1b[2J", Position{0, 0});
  layer.cursor = {0, 0};
  layer.shownAt = layer.cursor;
  sendToDraw(frame.bytes());
  return 0;
}

}  // namespace console
