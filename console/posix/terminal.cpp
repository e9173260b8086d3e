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
//   CAN ESC [ m          (signal handlers only) abandon a half-sent sequence, default colours
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
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "console/console.hpp"

namespace console {
namespace posix {
namespace {

using platform::Position;

Terminal state;

// Read by the signal handlers; set only outside them.
volatile std::sig_atomic_t handlersReady = 0;
volatile std::sig_atomic_t currentMode = 0;  // a Mode: the one the terminal is in
int signalDrawFd = -1;
int signalInputFd = -1;
termios signalModes[3]{};  // by Mode
constexpr char kSignalReset[] = "\x18\x1b[m";

termios& modeFor(Mode mode) {
  return signalModes[static_cast<int>(mode)];
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
  const unsigned normal = consoleScreen().normalAttribute;
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
  return ((attribute >> 4) & 0x0F) == ((consoleScreen().normalAttribute >> 4) & 0x0F);
}

// The bytes of one drawing operation, built whole and then written once.
// Knows where the terminal's cursor stands as the bytes are added.
class Frame {
 public:
  Frame() : at_(state.shownAt) {}

  std::string& bytes() { return bytes_; }
  const std::optional<Position>& at() const { return at_; }

  void moveTo(Position p) {
    if (at_ == p) return;
    bytes_ += cursorTo(p);
    at_ = p;
  }
  // Cells drawn by the terminal from where its cursor stands.
  void cells(std::string_view shown, int count, unsigned attribute) {
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
  void raw(std::string_view text, std::optional<Position> after) {
    bytes_ += text;
    at_ = after;
  }

 private:
  std::string bytes_;
  std::optional<Position> at_;
};

// The frame of the drawing operation in progress, begun by its first primitive.
std::optional<Frame> drawing;

Frame& frame() {
  if (!drawing) drawing.emplace();
  return *drawing;
}

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

// The terminal as it was found: default colours, its own input mode.
void giveTerminalBack() {
  if (!handlersReady) return;
  (void)!::write(signalDrawFd, kSignalReset, sizeof kSignalReset - 1);
  if (signalInputFd >= 0) ::tcsetattr(signalInputFd, TCSANOW, &modeFor(Mode::own));
}

void onTerminatingSignal(int sig) {
  int savedErrno = errno;
  giveTerminalBack();
  ::signal(sig, SIG_DFL);
  ::raise(sig);
  errno = savedErrno;
}

// A stop gives the shell the terminal's own mode back; on continuing, the
// program's mode comes back with it.
void onStop(int) {
  int savedErrno = errno;
  const auto mode = static_cast<Mode>(currentMode);
  if (mode != Mode::own && signalInputFd >= 0) {
    ::tcsetattr(signalInputFd, TCSANOW, &modeFor(Mode::own));
  }
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
  if (mode != Mode::own && signalInputFd >= 0) ::tcsetattr(signalInputFd, TCSANOW, &modeFor(mode));
  errno = savedErrno;
}

// A fault ends the program too, with the terminal raw: it is given back,
// then the action that was there before (a sanitizer's report, or the
// default) meets the faulting instruction again on return. A fault signal
// sent from outside is raised again.
constexpr int kFaultSignals[] = {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL};
struct sigaction faultBefore[std::size(kFaultSignals)];

void onFault(int sig, siginfo_t* info, void*) {
  int savedErrno = errno;
  giveTerminalBack();
  for (std::size_t i = 0; i < std::size(kFaultSignals); ++i) {
    if (kFaultSignals[i] == sig) ::sigaction(sig, &faultBefore[i], nullptr);
  }
  if (info == nullptr || info->si_code <= 0) ::raise(sig);
  errno = savedErrno;
}

// Signals that end the program, each given the terminal's own mode and
// default colours back first.
constexpr int kTerminatingSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};
struct sigaction terminatingBefore[std::size(kTerminatingSignals)];
bool terminatingCaught[std::size(kTerminatingSignals)] = {};

// Raw, for a key wait: no echo, no editing, no signals or flow control from
// the keyboard, no translation of CR; each byte as soon as it comes.
termios keyModeFrom(const termios& mode) {
  termios raw = mode;
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ECHONL | IEXTEN | ISIG));
  raw.c_iflag &= static_cast<tcflag_t>(~(IXON | ICRNL | INLCR | IGNCR));
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  return raw;
}

// Raw as for a key, but the keyboard's signals and flow control as the
// terminal had them: the interrupt key still ends the program outside a
// key wait.
termios editModeFrom(const termios& mode) {
  termios edit = keyModeFrom(mode);
  edit.c_lflag |= mode.c_lflag & ISIG;
  edit.c_iflag |= mode.c_iflag & IXON;
  return edit;
}

void installHandlers() {
  signalDrawFd = state.drawFd;
  signalInputFd = state.inputIsTerminal ? state.inputFd : -1;
  modeFor(Mode::own) = state.lineMode;
  modeFor(Mode::edit) = editModeFrom(state.lineMode);
  modeFor(Mode::key) = keyModeFrom(state.lineMode);
  currentMode = static_cast<int>(Mode::own);
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
  struct sigaction fault {};
  sigemptyset(&fault.sa_mask);
  fault.sa_flags = SA_SIGINFO;
  fault.sa_sigaction = onFault;
  for (std::size_t i = 0; i < std::size(kFaultSignals); ++i) {
    ::sigaction(kFaultSignals[i], &fault, &faultBefore[i]);
  }
  // A reader that went away makes writes fail instead of ending the program.
  ::signal(SIGPIPE, SIG_IGN);
}

void removeHandlers() {
  handlersReady = 0;
  for (std::size_t i = 0; i < std::size(kTerminatingSignals); ++i) {
    if (terminatingCaught[i]) ::sigaction(kTerminatingSignals[i], &terminatingBefore[i], nullptr);
    terminatingCaught[i] = false;
  }
  for (std::size_t i = 0; i < std::size(kFaultSignals); ++i) {
    ::sigaction(kFaultSignals[i], &faultBefore[i], nullptr);
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

platform::Found openWith(const ConsoleFds& fds) {
  state = Terminal{};
  drawing.reset();
  state.inputFd = fds.input;
  state.streamFd = fds.stream;
  state.drawFd = fds.draw;
  state.streamIsTerminal = ::isatty(fds.stream) == 1;
  state.inputIsTerminal = ::tcgetattr(fds.input, &state.lineMode) == 0;
  state.charset = charsetFromLocale();
  if (state.inputIsTerminal) {
    state.echoesLines = (state.lineMode.c_lflag & ECHO) != 0;
    state.echoControl = (state.lineMode.c_lflag & ECHOCTL) != 0;
    state.lineKeys = lineKeysFrom(state.lineMode, state.charset == Charset::Utf8);
  }
  unsigned char erase = state.inputIsTerminal ? state.lineMode.c_cc[VERASE] : 0x7F;
  if (erase != 0x08) erase = 0x7F;

  platform::Found found;
  found.decoder = KeyDecoder(erase, state.charset == Charset::Utf8);
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
  installHandlers();
  // Should the mode not take, the terminal still edits and echoes lines
  // itself, and the program, given whole lines, only echoes them again.
  if (state.inputIsTerminal) (void)enterMode(Mode::edit);
  return found;
}

}  // namespace

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

Terminal& terminal() {
  return state;
}

int windowWidth() {
  const ConsoleScreen& s = consoleScreen();
  return s.windowRight - s.windowLeft + 1;
}

void sendToDraw(const std::string& bytes) {
  if (bytes.empty()) return;
  if (state.drawFd == state.streamFd) platform::flushStream();
  (void)writeAll(state.drawFd, bytes.data(), bytes.size());
}

void showCursor() {
  if (state.shownAt == state.cursor) return;
  Frame out;
  finish(out);
  sendToDraw(out.bytes());
}

void newLineNow() {
  Frame out;
  out.raw("\r\n", std::nullopt);
  state.cursor.x = 0;
  if (state.cursor.y < consoleScreen().windowBottom) ++state.cursor.y;
  state.shownAt = state.cursor;
  sendToDraw(out.bytes());
}

bool enterMode(Mode mode) {
  if (!state.inputIsTerminal) return true;
  // Set first: a stop that comes now continues in the mode being entered.
  currentMode = static_cast<int>(mode);
  return ::tcsetattr(state.inputFd, TCSANOW, &modeFor(mode)) == 0;
}

}  // namespace posix

void openConsole(const ConsoleFds& fds) {
  platform::startLayer(posix::openWith(fds));
}

namespace platform {

using posix::state;

Found openTerminal() {
  const int tty = ::open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);
  Found found = posix::openWith({STDIN_FILENO, STDOUT_FILENO, tty >= 0 ? tty : STDOUT_FILENO});
  state.ownsDrawFd = tty >= 0;
  return found;
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
  const ConsoleScreen& s = consoleScreen();
  const int width = posix::windowWidth();
  posix::Frame& out = posix::frame();
  const bool erase = posix::backgroundIsNormal(attribute);
  if (at == Position{0, 0} && count >= s.screenWidth * s.screenHeight) {
    if (erase) {
      out.raw("\x1b[H\x1b[2J", Position{0, 0});
      return;
    }
    for (int y = s.windowTop; y <= s.windowBottom; ++y) {
      posix::paintBlanks(out, {s.windowLeft, y}, width, attribute);
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
  const ConsoleScreen& s = consoleScreen();
  posix::Frame& out = posix::frame();
  const Position bottom{s.windowLeft, s.windowBottom};
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

void drawingDone() {
  posix::Frame& out = posix::frame();
  posix::finish(out);
  const std::string bytes = std::move(out.bytes());
  posix::drawing.reset();
  posix::sendToDraw(bytes);
}

// ---------------------------------------------------------------------------
// The stream

// Moves the record past `text` as the terminal draws it, and makes every byte
// safe to send, except for the control codes the stream passes on.
std::string streamBytes(std::string_view text) {
  posix::Frame out;
  out.moveTo(state.cursor);
  const int width = posix::windowWidth();
  const int bottom = consoleScreen().windowBottom;
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

bool streamIsTerminal() {
  return state.streamIsTerminal;
}

bool writeStream(const char* bytes, std::size_t size) {
  return posix::writeAll(state.streamFd, bytes, size);
}

// ---------------------------------------------------------------------------
// Clearing by command

int runCommand(const char* command) {
  // There is no interpreter that knows "cls" here: the layer does its work.
  if (std::strcmp(command, "cls") != 0) return -1;
  posix::Frame out;
  out.raw("\x1b[m\x1b[H\x1b[2J", Position{0, 0});
  state.cursor = {0, 0};
  state.shownAt = state.cursor;
  posix::sendToDraw(out.bytes());
  return 0;
}

}  // namespace platform
}  // namespace console
