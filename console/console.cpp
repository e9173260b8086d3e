// The console's rules, the same on every platform: the window and its
// attribute, the cell writer, clearing, keys decoded from input bytes, the
// choice of a key's codes and the second code owed, the standard output
// stream and the rules of a line. The terminal itself is reached only through
// console/platform.hpp, whose primitives never call back.
#include "console/console.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "console/decoder.hpp"
#include "console/keys.hpp"
#include "console/platform.hpp"
#include "console/utf8.hpp"

namespace console {
namespace {

using platform::Held;
using platform::Position;
using platform::Read;

// Standard output when it is not a terminal: gathered 512 bytes at a time.
struct StreamBuffer {
  std::array<char, 512> bytes{};
  std::size_t used = 0;
};

// Input bytes, shared by keys and lines so that neither swallows bytes meant
// for the other.
struct InputBuffer {
  std::array<unsigned char, 4096> bytes{};
  std::size_t begin = 0;
  std::size_t end = 0;
};

// Everything the shared layer knows; one instance.
struct Layer {
  ConsoleScreen screen;
  bool open = false;
  bool streamIsTerminal = false;  // found at start-up: written at once, not buffered
  bool streamFailed = false;      // a write to standard output failed: dropped from now on
  StreamBuffer streamBuffer;
  InputBuffer input;
  bool inputEnded = false;         // end of input met: every later read finds it ended
  bool keyEvents = false;          // keys come as the console's key events, not as bytes
  KeyDecoder decoder{0x7F, true};  // input bytes to key presses
  bool utf8Lines = false;          // lines arrive as UTF-8 and are kept as single bytes
  bool interactive = false;        // keys and lines are typed at the console
};

Layer layer;

// ---------------------------------------------------------------------------
// What the stream holds back

// For a primitive that may draw, which writes it first where that keeps the
// bytes in order.
Held heldStream() {
  const StreamBuffer& buffer = layer.streamBuffer;
  return {std::string_view(buffer.bytes.data(), buffer.used)};
}

// Written by the primitive, or failed to be (the stream is dropped from now
// on): either way no longer held.
void settleHeld(const Held& held) {
  if (held.fate == Held::Fate::kept) return;
  if (held.fate == Held::Fate::failed) layer.streamFailed = true;
  layer.streamBuffer.used = 0;
}

// Writes out what the stream holds back (when it is full, and at the end).
void flushStream() {
  StreamBuffer& buffer = layer.streamBuffer;
  if (buffer.used == 0) return;
  if (!layer.streamFailed && !platform::writeStream(buffer.bytes.data(), buffer.used)) {
    layer.streamFailed = true;
  }
  buffer.used = 0;
}

void showDrawing() {
  Held held = heldStream();
  platform::drawingDone(held);
  settleHeld(held);
}

// ---------------------------------------------------------------------------
// The cell writer

Position cursorOrCorner() {
  Position at;
  if (!platform::readCursor(at)) at = {};
  return at;
}

// Places `text` at the cursor in the text attribute: BEL, BS, LF and CR are
// carried out, every other code is a cell; a run of cells is placed at once,
// wraps at the window's right edge and scrolls at its bottom.
void writeCells(std::string_view text) {
  const ConsoleScreen& s = layer.screen;
  const Position start = cursorOrCorner();
  int x = start.x;
  int y = start.y;
  std::string run;  // cells waiting to be placed on row y, ending just left of x
  auto flush = [&] {
    if (run.empty()) return;
    platform::putCells({x - static_cast<int>(run.size()), y}, run, s.textAttribute);
    run.clear();
  };
  for (char ch : text) {
    switch (static_cast<unsigned char>(ch)) {
      case 7:
        flush();
        platform::bell();
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
        run += ch;
        ++x;
        break;
    }
    if (run.size() == platform::kCellRun) flush();
    if (x > s.windowRight) {
      flush();
      x = s.windowLeft;
      ++y;
    }
    if (y > s.windowBottom) {
      flush();
      platform::scrollUp(s.textAttribute);
      y = s.windowBottom;
    }
  }
  flush();
  platform::setCursor({x, y});
  showDrawing();
}

// ---------------------------------------------------------------------------
// The stream

void writeStream(std::string_view text) {
  std::string withReturns;
  withReturns.reserve(text.size() + 8);
  for (char c : text) {
    if (c == '\n') withReturns += '\r';
    withReturns += c;
  }
  const std::string bytes = platform::streamBytes(withReturns);
  if (bytes.empty() || layer.streamFailed) return;
  if (layer.streamIsTerminal) {
    if (!platform::writeStream(bytes.data(), bytes.size())) layer.streamFailed = true;
    return;
  }
  StreamBuffer& buffer = layer.streamBuffer;
  std::string_view rest = bytes;
  while (!rest.empty()) {
    const std::size_t part = std::min(buffer.bytes.size() - buffer.used, rest.size());
    std::memcpy(buffer.bytes.data() + buffer.used, rest.data(), part);
    buffer.used += part;
    rest.remove_prefix(part);
    if (buffer.used == buffer.bytes.size()) flushStream();
  }
}

// ---------------------------------------------------------------------------
// Input bytes

// One byte of input, waiting at most timeoutMs (-1: for ever).
Read readByte(unsigned char& byte, int timeoutMs) {
  InputBuffer& in = layer.input;
  if (in.begin == in.end) {
    std::size_t got = 0;
    Held held = heldStream();
    const Read read = platform::readInput(in.bytes.data(), in.bytes.size(), timeoutMs, got, held);
    settleHeld(held);
    if (read != Read::Got) return read;
    in.begin = 0;
    in.end = got;
  }
  byte = in.bytes[in.begin++];
  return Read::Got;
}

// The next key press decoded from input bytes.
Read nextPressFromBytes(KeyPress& press) {
  KeyDecoder& decoder = layer.decoder;
  for (;;) {
    if (decoder.take(press)) return Read::Got;
    if (layer.inputEnded) return Read::End;
    unsigned char byte = 0;
    const Read got = readByte(byte, decoder.waiting() ? decoder.timeoutMs() : -1);
    if (got == Read::Got) {
      decoder.feed(byte);
    } else if (got == Read::Timeout) {
      decoder.expire();
    } else {
      // The last key before the end still counts; the end is met next time.
      decoder.expire();
      layer.inputEnded = true;
      if (decoder.take(press)) return Read::Got;
      return got;
    }
  }
}

// Fills the layer's state from what was found, and gives the platform the
// window it draws in.
void startLayer(const platform::Found& found) {
  layer = Layer{};
  ConsoleScreen& s = layer.screen;
  if (found.sizeKnown) {
    s.textAttribute = s.normalAttribute = static_cast<std::uint16_t>(found.attribute & 0xFF);
    s.screenWidth = static_cast<std::uint8_t>(found.width);
    s.screenHeight = static_cast<std::uint8_t>(found.height);
  }
  s.windowLeft = 0;
  s.windowTop = 0;
  s.windowRight = static_cast<std::uint8_t>(s.screenWidth - 1);
  s.windowBottom = static_cast<std::uint8_t>(s.screenHeight - 1);
  s.pendingExtendedCode = -1;
  layer.streamIsTerminal = found.streamIsTerminal;
  layer.keyEvents = found.keyEvents;
  layer.decoder = KeyDecoder(found.erase, found.utf8);
  layer.utf8Lines = found.utf8;
  layer.interactive = found.interactive;
  layer.open = true;
  platform::useWindow({s.windowLeft, s.windowTop, s.windowRight, s.windowBottom, s.screenWidth,
                       s.screenHeight, s.normalAttribute});
}

}  // namespace

// ---------------------------------------------------------------------------
// Opening and closing

void openConsole() {
  startLayer(platform::openTerminal());
}

void closeConsole() {
  if (!layer.open) return;
  layer.open = false;
  flushStream();
  platform::closeTerminal();
}

const ConsoleScreen& consoleScreen() {
  return layer.screen;
}

bool isInteractive() {
  return layer.interactive;
}

// ---------------------------------------------------------------------------
// Direct drawing

void clearScreen() {
  const ConsoleScreen& s = layer.screen;
  // The window is always the whole screen: one run of every cell.
  platform::blankCells({0, 0}, s.screenWidth * s.screenHeight, s.textAttribute);
  moveCursor(1, 1);
  showDrawing();
}

void clearToEndOfLine() {
  const ConsoleScreen& s = layer.screen;
  const Position at = cursorOrCorner();
  platform::blankCells(at, s.windowRight - at.x + 1, s.textAttribute);
  showDrawing();
}

void moveCursor(int column, int row) {
  const ConsoleScreen& s = layer.screen;
  const int x = s.windowLeft + column - 1;
  const int y = s.windowTop + row - 1;
  if (y < s.windowTop || y > s.windowBottom || x < s.windowLeft || x > s.windowRight) return;
  platform::setCursor({x, y});
}

void setTextColor(int color) {
  const unsigned attribute =
      (layer.screen.textAttribute & 0x70u) | (static_cast<unsigned>(color) & 0x8Fu);
  layer.screen.textAttribute = static_cast<std::uint16_t>(attribute);
}

int consoleWrite(const char* text) {
  const std::string_view view(text);
  writeCells(view);
  return static_cast<int>(view.size());
}

void consoleWriteChar(int code) {
  const char cell = static_cast<char>(code & 0xFF);
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
    const int code = s.pendingExtendedCode;
    s.pendingExtendedCode = -1;
    return code;
  }
  if (layer.inputEnded) return -1;
  showDrawing();  // the cursor where the key is awaited
  if (!platform::beginKeys()) return -1;
  int result = -1;
  for (;;) {
    KeyPress press;
    const Read read = layer.keyEvents ? platform::nextKeyPress(press) : nextPressFromBytes(press);
    if (read != Read::Got) break;
    const std::optional<KeyCodes> codes = keyCodes(press);
    if (!codes) continue;
    result = codes->code;
    if (codes->extended >= 0) s.pendingExtendedCode = codes->extended;
    break;
  }
  if (!platform::endKeys()) result = -1;
  return result;
}

int readKeyEcho() {
  const int code = readKey();
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
    if (!layer.utf8Lines || (byte < 0x80 && !utf8_.pending())) return put(byte);
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
  showDrawing();  // the cursor where the line begins
  platform::lineStarts();
  LineText text(buffer, capacity);
  bool any = false;
  bool lineRead = false;
  for (;;) {
    unsigned char byte = 0;
    const Read got = readByte(byte, -1);
    if (got != Read::Got) {
      layer.inputEnded = true;
      // A last line without its line feed still counts; after a read error
      // what was read is kept, but no line is reported.
      lineRead = any && got == Read::End;
      if (got == Read::Error && any) text.finish();
      break;
    }
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
  platform::lineEnds();
  showDrawing();
  if (!lineRead) return std::nullopt;
  text.finish();
  return text.length();
}

// ---------------------------------------------------------------------------
// Clearing by command

int clearByCommand(const char* command) {
  if (command == nullptr) return -1;
  Held held = heldStream();
  const int status = platform::runCommand(command, held);
  settleHeld(held);
  return status;
}

}  // namespace console
