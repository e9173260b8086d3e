// Keys and lines on the Windows console. A key is read from the console's key
// events (ReadConsoleInputW) with the input mode at 0 (no line input, no echo,
// no Ctrl+C handling) for the length of one readKey, saved and given back
// around it; a line is the console's own line input, read from standard
// input with ReadConsoleW. Both are taken as wide characters and kept as
// Latin-1, whatever the console's code page, so a key stores the same byte as
// on a POSIX terminal. When standard input is not the console, keys and lines
// come from it as bytes and are decoded as on a terminal, so a session can be
// scripted.
#include <windows.h>

#include <algorithm>
#include <array>
#include <iterator>

#include "console/platform.hpp"
#include "console/windows/signals.hpp"
#include "console/windows/terminal.hpp"

namespace console {
namespace windows {
namespace {

// The virtual-key codes of the key table's rows. The codes name keys by their
// meaning on the US layout, as the console reports them on every layout.
struct VirtualKey {
  WORD code;
  Key key;
};
// clang-format off
constexpr VirtualKey kVirtualKeys[] = {
    {VK_BACK, Key::Backspace},      {VK_TAB, Key::Tab},            {VK_RETURN, Key::Enter},
    {VK_ESCAPE, Key::Esc},          {VK_SPACE, Key::Space},        {VK_PRIOR, Key::PageUp},
    {VK_NEXT, Key::PageDown},       {VK_END, Key::End},            {VK_HOME, Key::Home},
    {VK_LEFT, Key::Left},           {VK_UP, Key::Up},              {VK_RIGHT, Key::Right},
    {VK_DOWN, Key::Down},           {VK_INSERT, Key::Insert},      {VK_DELETE, Key::Delete},
    {VK_F11, Key::F11},             {VK_F12, Key::F12},            {VK_MULTIPLY, Key::KeypadMultiply},
    {VK_ADD, Key::KeypadPlus},      {VK_SUBTRACT, Key::KeypadMinus}, {VK_DECIMAL, Key::KeypadPeriod},
    {VK_DIVIDE, Key::KeypadSlash},  {VK_OEM_5, Key::Backslash},    {VK_OEM_2, Key::Slash},
    {VK_OEM_MINUS, Key::Minus},     {VK_OEM_PLUS, Key::Equals},    {VK_OEM_4, Key::LeftBracket},
    {VK_OEM_6, Key::RightBracket},  {VK_OEM_1, Key::Semicolon},    {VK_OEM_7, Key::Quote},
    {VK_OEM_COMMA, Key::Comma},     {VK_OEM_PERIOD, Key::Period},  {VK_OEM_3, Key::Grave},
};
// clang-format on

// The row's key for a virtual-key code; Key::None for keys without a row
// (Shift, Ctrl, Alt and Caps Lock alone among them).
Key keyOf(WORD code) {
  if (code >= 'A' && code <= 'Z') return keyAfter(Key::A, code - 'A');
  if (code >= '0' && code <= '9') return keyAfter(Key::Digit0, code - '0');
  if (code >= VK_NUMPAD0 && code <= VK_NUMPAD9) return keyAfter(Key::Keypad0, code - VK_NUMPAD0);
  if (code >= VK_F1 && code <= VK_F10) return keyAfter(Key::F1, code - VK_F1);
  // Keypad 5 as a navigation key: Num Lock off, or Shift with it on.
  if (code == VK_CLEAR) return Key::Keypad5;
  const auto* found = std::find_if(std::begin(kVirtualKeys), std::end(kVirtualKeys),
                                   [code](const VirtualKey& k) { return k.code == code; });
  return found == std::end(kVirtualKeys) ? Key::None : found->key;
}

// A character of the console as single-byte text: Latin-1 as it is, any other
// '?'; -1 for the second half of a surrogate pair, whose first half gave the '?'.
int latin1(WCHAR c) {
  if (c < 0x100) return c;
  if (c >= 0xDC00 && c <= 0xDFFF) return -1;
  return '?';
}

// One key event as a press: the key, the modifiers held (either Alt, either
// Ctrl, Shift), Num Lock, and the character the keyboard produced.
KeyPress pressOf(const KEY_EVENT_RECORD& event) {
  const DWORD state = event.dwControlKeyState;
  KeyPress press;
  press.key = keyOf(event.wVirtualKeyCode);
  if ((state & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) != 0) press.modifiers |= kAlt;
  if ((state & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED)) != 0) press.modifiers |= kCtrl;
  // Keypad 5's navigation code is its row's Shift result, as a terminal's
  // keypad 5 gives it, whether or not the console still reports the Shift.
  if ((state & SHIFT_PRESSED) != 0 || event.wVirtualKeyCode == VK_CLEAR) press.modifiers |= kShift;
  press.numLock = (state & NUMLOCK_ON) != 0;
  press.character = std::max(latin1(event.uChar.UnicodeChar), 0);
  return press;
}

}  // namespace
}  // namespace windows

namespace platform {

using windows::console;

bool beginKeys() {
  if (!console().keysAreEvents) return true;
  DWORD& before = console().modeBeforeKey;
  if (!::GetConsoleMode(console().input, &before)) return false;
  windows::keyModeForHandler(before, true);
  if (!::SetConsoleMode(console().input, 0)) {
    windows::keyModeForHandler(before, false);
    return false;
  }
  return true;
}

bool endKeys() {
  if (!console().keysAreEvents) return true;
  const DWORD before = console().modeBeforeKey;
  const bool restored = ::SetConsoleMode(console().input, before) != 0;
  windows::keyModeForHandler(before, false);
  return restored;
}

// Every event but a key press is skipped, releases too; an event standing for
// several repeats of a held key is one press.
Read nextKeyPress(KeyPress& press) {
  for (;;) {
    INPUT_RECORD record;
    DWORD read = 0;
    if (!::ReadConsoleInputW(console().input, &record, 1, &read) || read != 1) return Read::Error;
    if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) continue;
    press = windows::pressOf(record.Event.KeyEvent);
    return Read::Got;
  }
}

namespace {

// The console's line input, as Latin-1; the rest of a line longer than
// `capacity` stays with the console for the next read.
Read readConsoleLine(unsigned char* bytes, std::size_t capacity, std::size_t& got) {
  WCHAR characters[1024];
  const auto want = static_cast<DWORD>(std::min<std::size_t>(capacity, std::size(characters)));
  got = 0;
  while (got == 0) {  // a read may hold only the second half of a pair
    DWORD read = 0;
    if (!::ReadConsoleW(console().standardInput, characters, want, &read, nullptr)) {
      return Read::Error;
    }
    if (read == 0) return Read::End;
    for (DWORD i = 0; i < read; ++i) {
      const int code = windows::latin1(characters[i]);
      if (code >= 0) bytes[got++] = static_cast<unsigned char>(code);
    }
  }
  return Read::Got;
}

}  // namespace

// A pipe is waited on by asking how much it holds; a file or the console is
// read at once (the console gives one whole line per read).
Read readInput(unsigned char* bytes, std::size_t capacity, int timeoutMs, std::size_t& got, Held&) {
  if (console().linesFromConsole) return readConsoleLine(bytes, capacity, got);
  const HANDLE input = console().standardInput;
  if (timeoutMs >= 0 && ::GetFileType(input) == FILE_TYPE_PIPE) {
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    DWORD available = 0;
    while (::PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr) && available == 0) {
      if (::GetTickCount64() >= deadline) return Read::Timeout;
      ::Sleep(1);
    }
  }
  DWORD read = 0;
  const auto want = static_cast<DWORD>(std::min<std::size_t>(capacity, 1u << 20));
  if (!::ReadFile(input, bytes, want, &read, nullptr)) {
    return ::GetLastError() == ERROR_BROKEN_PIPE ? Read::End : Read::Error;
  }
  if (read == 0) return Read::End;
  got = read;
  return Read::Got;
}

// The console echoes a line and moves its own cursor: nothing to follow.
void lineStarts() {}
void lineEnds() {}

}  // namespace platform
}  // namespace console
