// Keys: a key press and the codes readKey returns for it.
//
// Pure (no I/O, no globals): keyCodes looks a press up in keyTable and gives
// the one or two codes of readKey. Presses come from the console's key events,
// or from the bytes a terminal sends through KeyDecoder (console/decoder.hpp).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace console {

// The keys of the key table, by their meaning on the US layout.
enum class Key : std::uint8_t {
  None,  // no row: a character that arrived without key information
  Backspace,
  Tab,
  Enter,
  Esc,
  Space,
  PageUp,
  PageDown,
  End,
  Home,
  Left,
  Up,
  Right,
  Down,
  Insert,
  Delete,
  F1,
  F2,
  F3,
  F4,
  F5,
  F6,
  F7,
  F8,
  F9,
  F10,
  F11,
  F12,
  KeypadMultiply,
  KeypadPlus,
  KeypadMinus,
  KeypadPeriod,
  KeypadSlash,
  Backslash,
  Slash,
  Minus,
  Equals,
  LeftBracket,
  RightBracket,
  Semicolon,
  Quote,
  Comma,
  Period,
  Grave,
  Digit0,
  Digit1,
  Digit2,
  Digit3,
  Digit4,
  Digit5,
  Digit6,
  Digit7,
  Digit8,
  Digit9,
  A,
  B,
  C,
  D,
  E,
  F,
  G,
  H,
  I,
  J,
  K,
  L,
  M,
  N,
  O,
  P,
  Q,
  R,
  S,
  T,
  U,
  V,
  W,
  X,
  Y,
  Z,
  Keypad0,
  Keypad1,
  Keypad2,
  Keypad3,
  Keypad4,
  Keypad5,
  Keypad6,
  Keypad7,
  Keypad8,
  Keypad9,
};

// The key `offset` places after `first` in the order above.
constexpr Key keyAfter(Key first, int offset) {
  return static_cast<Key>(static_cast<int>(first) + offset);
}

// Modifier bits of a KeyPress.
inline constexpr unsigned kShift = 1;
inline constexpr unsigned kAlt = 2;
inline constexpr unsigned kCtrl = 4;

// One key press as decoded from the terminal.
struct KeyPress {
  Key key = Key::None;
  unsigned modifiers = 0;  // kShift | kAlt | kCtrl
  int character = 0;       // the character the keyboard produced (0-255), 0 when none
  bool numLock = false;    // Num Lock was on (only a console that reports key events tells)
  friend bool operator==(const KeyPress&, const KeyPress&) = default;
};

// One result of a key table row.
struct KeyResult {
  enum class Kind : std::uint8_t { Code, Extended, Char };
  Kind kind;
  std::uint8_t value;  // the code (Code) or the second code (Extended); unused for Char
};

struct KeyMapping {
  Key key;
  KeyResult plain, shift, ctrl, alt;
};

// The 89 rows of the key table.
extern const std::array<KeyMapping, 89> keyTable;

// What readKey returns for a press: `code`, and when `code` is 0 the second
// code `extended` that the next readKey returns. No value: the press is skipped.
struct KeyCodes {
  int code;
  int extended;  // -1 when there is no second code
  friend bool operator==(const KeyCodes&, const KeyCodes&) = default;
};
std::optional<KeyCodes> keyCodes(const KeyPress& press);

}  // namespace console
