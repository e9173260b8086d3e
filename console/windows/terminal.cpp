// The console's primitives on the Windows console, through its own services:
// "CONIN$" and "CONOUT$" opened with CreateFileA; the size, the colours and
// the cursor read with GetConsoleScreenBufferInfo (the layer keeps no cursor
// of its own); cells placed with WriteConsoleOutputW, which interprets no
// code and leaves the cursor where it is; blanks with
// FillConsoleOutputCharacterW / FillConsoleOutputAttribute; the window
// scrolled with ScrollConsoleScreenBufferW; the cursor moved with
// SetConsoleCursorPosition; the bell with Beep; standard output written with
// WriteConsoleW when it is the console and with WriteFile otherwise, told
// apart with GetFileType and GetConsoleMode; the interpreter started with
// CreateProcessA and waited for. No call here sets the console's colours or
// its modes.
//
// Text is single-byte Latin-1 on every platform, so the console is spoken to
// in its wide characters, code N standing for U+00NN, whatever its code page:
// the same stored bytes show the same letters everywhere.
//
// Positions are taken from the window's top-left corner, so a console whose
// buffer is taller than its window (and holds earlier output above it) is
// drawn where the clerk sees it; and blanks go row by row, so a buffer
// wider than its window is cleared where the clerk sees it too.
#include "console/windows/terminal.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "console/platform.hpp"
#include "console/windows/signals.hpp"

namespace console {
namespace windows {
namespace {

Console state;

HANDLE openDevice(const char* name) {
  return ::CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
}

// The window's top-left corner in the buffer; (0, 0) when it cannot be read.
COORD origin() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!::GetConsoleScreenBufferInfo(state.output, &info)) return {0, 0};
  return {info.srWindow.Left, info.srWindow.Top};
}

COORD inBuffer(platform::Position at) {
  const COORD corner = origin();
  return {static_cast<SHORT>(corner.X + at.x), static_cast<SHORT>(corner.Y + at.y)};
}

// Writes all `size` units with `write`, going on after partial writes.
template <typename Unit, typename Write>
bool writeEvery(const Unit* units, std::size_t size, Write write) {
  while (size > 0) {
    DWORD written = 0;
    const auto part = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 14));
    if (!write(units, part, written) || written == 0) return false;
    units += written;
    size -= written;
  }
  return true;
}

bool writeAll(HANDLE handle, const char* bytes, std::size_t size) {
  return writeEvery(bytes, size, [handle](const char* part, DWORD count, DWORD& written) {
    return ::WriteFile(handle, part, count, &written, nullptr) != 0;
  });
}

// How a byte of the stream is shown on the console, as a terminal shows it:
// the codes the stream carries out (BEL, BS, LF, CR) go as they are; every
// other control code is a visible '?', never a byte that a console with
// virtual-terminal processing would take as the start of a command; 0 is a
// blank, a soft hyphen a hyphen (it has no width on some consoles), and the
// codes from 160 on the Latin-1 letters they stand for.
WCHAR shownInStream(unsigned char c) {
  switch (c) {
    case 0:
      return L' ';
    case 7:
    case 8:
    case 10:
    case 13:
      return c;
    case 0xAD:
      return L'-';
    default:
      return c < 0x20 || (c >= 0x7F && c < 0xA0) ? L'?' : c;
  }
}

bool writeCharacters(HANDLE handle, const char* bytes, std::size_t size) {
  std::wstring characters(size, L'\0');
  for (std::size_t i = 0; i < size; ++i)
    characters[i] = shownInStream(static_cast<unsigned char>(bytes[i]));
  return writeEvery(characters.data(), size,
                    [handle](const WCHAR* part, DWORD count, DWORD& written) {
                      return ::WriteConsoleW(handle, part, count, &written, nullptr) != 0;
                    });
}

// The window's top-left corner in the buffer and its size, at most 255 x 255
// as the layer's; false when it cannot be read.
bool window(COORD& corner, int& width, int& height) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!::GetConsoleScreenBufferInfo(state.output, &info)) return false;
  corner = {info.srWindow.Left, info.srWindow.Top};
  width = std::min(info.srWindow.Right - info.srWindow.Left + 1, 255);
  height = std::min(info.srWindow.Bottom - info.srWindow.Top + 1, 255);
  return true;
}

bool isFile(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string environment(const char* name, bool& set) {
  const DWORD size = ::GetEnvironmentVariableA(name, nullptr, 0);
  set = size > 0;
  if (!set) return {};
  std::string value(size, '\0');
  const DWORD length = ::GetEnvironmentVariableA(name, value.data(), size);
  value.resize(std::min<DWORD>(length, size));
  return value;
}

// "COMSPEC"; without it, "CMD.EXE" in the current directory, then along
// "PATH" in its order. Empty when there is none.
std::string interpreter() {
  bool set = false;
  std::string path = environment("COMSPEC", set);
  if (set) return path;
  if (isFile("CMD.EXE")) return "CMD.EXE";
  const std::string directories = environment("PATH", set);
  std::size_t begin = 0;
  while (begin <= directories.size()) {
    std::size_t end = directories.find(';', begin);
    if (end == std::string::npos) end = directories.size();
    std::string directory = directories.substr(begin, end - begin);
    if (!directory.empty()) {
      if (directory.back() != '\\' && directory.back() != '/') directory += '\\';
      if (isFile(directory + "CMD.EXE")) return directory + "CMD.EXE";
    }
    begin = end + 1;
  }
  return {};
}

}  // namespace

Console& console() {
  return state;
}

}  // namespace windows

namespace platform {

using windows::state;

Found openTerminal() {
  state = windows::Console{};
  state.input = windows::openDevice("CONIN$");
  state.output = windows::openDevice("CONOUT$");
  state.standardInput = ::GetStdHandle(STD_INPUT_HANDLE);
  state.standardOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
  state.streamIsTerminal = ::GetFileType(state.standardOutput) == FILE_TYPE_CHAR;
  DWORD mode = 0;
  // A character device need not be the console (NUL, a serial port).
  state.streamIsConsole =
      state.streamIsTerminal && ::GetConsoleMode(state.standardOutput, &mode) != 0;
  state.linesFromConsole = ::GetConsoleMode(state.standardInput, &mode) != 0;
  state.keysAreEvents = state.input != INVALID_HANDLE_VALUE && state.linesFromConsole;
  state.modeFound = ::GetConsoleMode(state.input, &state.modeAtStart) != 0;

  Found found;
  // The console's lines come as Latin-1 already. Bytes from a pipe or a file
  // are single-byte text, unless the console's input code page is UTF-8:
  // then they become single-byte text as on a UTF-8 terminal.
  found.utf8 = !state.linesFromConsole && ::GetConsoleCP() == CP_UTF8;
  found.streamIsTerminal = state.streamIsTerminal;
  found.keyEvents = state.keysAreEvents;
  found.interactive = state.keysAreEvents;
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (::GetConsoleScreenBufferInfo(state.output, &info)) {
    found.sizeKnown = true;
    found.width = std::min(info.srWindow.Right - info.srWindow.Left + 1, 255);
    found.height = std::min(info.srWindow.Bottom - info.srWindow.Top + 1, 255);
    found.attribute = info.wAttributes;
  }
  windows::installHandler(state.input);
  return found;
}

void useWindow(const Window& window) {
  state.window = window;
}

void closeTerminal() {
  windows::removeHandler();
  if (state.modeFound) ::SetConsoleMode(state.input, state.modeAtStart);
  if (state.input != INVALID_HANDLE_VALUE) ::CloseHandle(state.input);
  if (state.output != INVALID_HANDLE_VALUE) ::CloseHandle(state.output);
  state.input = state.output = INVALID_HANDLE_VALUE;
}

// ---------------------------------------------------------------------------
// Direct drawing

bool readCursor(Position& at) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!::GetConsoleScreenBufferInfo(state.output, &info)) return false;
  at = {info.dwCursorPosition.X - info.srWindow.Left, info.dwCursorPosition.Y - info.srWindow.Top};
  return true;
}

void setCursor(Position at) {
  ::SetConsoleCursorPosition(state.output, windows::inBuffer(at));
}

// Each code is the cell's character as it is, control codes included, which
// the console draws in its own way. A run longer than kCellRun, which the
// shared cell writer never hands down, would still be placed whole, a part
// at a time.
void putCells(Position at, std::string_view codes, unsigned attribute) {
  CHAR_INFO cells[kCellRun];
  for (; !codes.empty(); at.x += static_cast<int>(kCellRun)) {
    const std::size_t part = std::min(codes.size(), kCellRun);
    for (std::size_t i = 0; i < part; ++i) {
      cells[i].Char.UnicodeChar = static_cast<unsigned char>(codes[i]);
      cells[i].Attributes = static_cast<WORD>(attribute);
    }
    const auto count = static_cast<SHORT>(part);
    const COORD corner = windows::inBuffer(at);
    SMALL_RECT region{corner.X, corner.Y, static_cast<SHORT>(corner.X + count - 1), corner.Y};
    ::WriteConsoleOutputW(state.output, cells, COORD{count, 1}, COORD{0, 0}, &region);
    codes.remove_prefix(part);
  }
}

// The rows go on in the window, not in the buffer, whose rows may be wider.
void blankCells(Position at, int count, unsigned attribute) {
  COORD corner;
  int width = 0;
  int height = 0;
  if (!windows::window(corner, width, height)) return;
  for (int x = at.x, y = at.y; count > 0 && x < width && y < height; x = 0, ++y) {
    const int run = std::min(count, width - x);
    const COORD from{static_cast<SHORT>(corner.X + x), static_cast<SHORT>(corner.Y + y)};
    DWORD done = 0;
    ::FillConsoleOutputCharacterW(state.output, L' ', static_cast<DWORD>(run), from, &done);
    ::FillConsoleOutputAttribute(state.output, static_cast<WORD>(attribute),
                                 static_cast<DWORD>(run), from, &done);
    count -= run;
  }
}

void scrollUp(unsigned attribute) {
  const Window& w = state.window;
  const COORD top = windows::inBuffer({w.left, w.top});
  const COORD bottom = windows::inBuffer({w.right, w.bottom});
  const SMALL_RECT window{top.X, top.Y, bottom.X, bottom.Y};
  const SMALL_RECT moved{top.X, static_cast<SHORT>(top.Y + 1), bottom.X, bottom.Y};
  CHAR_INFO fill;
  fill.Char.UnicodeChar = L' ';
  fill.Attributes = static_cast<WORD>(attribute);
  ::ScrollConsoleScreenBufferW(state.output, &moved, &window, top, &fill);
}

void bell() {
  ::Beep(3000, 100);
}

// Every primitive drew at once, and the console shows its own cursor.
void drawingDone(Held&) {}

// ---------------------------------------------------------------------------
// The stream: the console draws it by its own rules. To a pipe or a file it
// goes as the bytes the screens wrote.

std::string streamBytes(std::string_view text) {
  return std::string(text);
}

bool writeStream(const char* bytes, std::size_t size) {
  if (state.streamIsConsole) return windows::writeCharacters(state.standardOutput, bytes, size);
  return windows::writeAll(state.standardOutput, bytes, size);
}

// ---------------------------------------------------------------------------
// Clearing by command

namespace {

// The interpreter's exit status, or -1 when it cannot be run. "/d": no
// AutoRun command of the registry runs before the command.
int runInterpreter(const char* command, Held& held) {
  try {
    const std::string program = windows::interpreter();
    if (program.empty()) return -1;
    std::string line = program + " /d /c " + command;
    // What the stream holds goes out before the interpreter writes.
    if (!held.bytes.empty()) {
      const bool written = writeStream(held.bytes.data(), held.bytes.size());
      held.fate = written ? Held::Fate::written : Held::Fate::failed;
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                          &startup, &process)) {
      return -1;
    }
    ::CloseHandle(process.hThread);
    DWORD status = static_cast<DWORD>(-1);
    if (::WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0 ||
        !::GetExitCodeProcess(process.hProcess, &status)) {
      status = static_cast<DWORD>(-1);
    }
    ::CloseHandle(process.hProcess);
    return static_cast<int>(status);
  } catch (const std::bad_alloc&) {
    return -1;  // no memory for the command line
  }
}

// What "cls" does, for when the interpreter could not: the window blank in
// the console's own colours, the cursor in its top-left corner.
void blankWindow() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!::GetConsoleScreenBufferInfo(windows::state.output, &info)) return;
  blankCells({0, 0}, 255 * 255, info.wAttributes);
  setCursor({0, 0});
}

}  // namespace

// The menu is drawn on what "cls" leaves, so a "cls" that did not run or
// failed (no interpreter, one that is blocked) is carried out here instead.
int runCommand(const char* command, Held& held) {
  const int status = runInterpreter(command, held);
  if (status != 0 && std::strcmp(command, "cls") == 0) blankWindow();
  return status;
}

}  // namespace platform
}  // namespace console
