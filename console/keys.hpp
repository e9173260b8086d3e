// Keys: from the bytes a terminal sends to the codes readKey returns.
//
// Two steps, both pure (no I/O, no globals): KeyDecoder turns a byte stream
// into key presses with their modifiers, and keyCodes looks a press up in
// keyTable to give the one or two codes of readKey.
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

// Modifier bits of a KeyPress.
inline constexpr unsigned kShift = 1;
inline constexpr unsigned kAlt = 2;
inline constexpr unsigned kCtrl = 4;

// One key press as decoded from the terminal.
struct KeyPress {
  Key key = Key::None;
  unsigned modifiers = 0;  // kShift | kAlt | kCtrl
  int character = 0;       // the character the keyboard produced (0-255), 0 when none
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

// Turns terminal input bytes into key presses. Feed it every byte in order;
// when waiting() is true and no byte arrives within timeoutMs(), call expire().
class KeyDecoder {
 public:
  // eraseChar: the terminal's erase character (VERASE), which is Backspace.
  // utf8: whether multi-byte UTF-8 characters are expected.
  explicit KeyDecoder(unsigned char eraseChar = 0x7F, bool utf8 = true);

  void feed(unsigned char byte);
  void expire();
  bool waiting() const;
  int timeoutMs() const;
  // Takes the oldest decoded press; false when there is none.
  bool take(KeyPress& out);

 private:
  // Implementation detail: filled in by keys.cpp.
  unsigned char erase_;
  bool utf8_;
  std::array<unsigned char, 32> seq_{};  // bytes of the sequence in progress
  std::size_t seqLength_ = 0;
  std::array<KeyPress, 8> ready_{};  // decoded presses not yet taken, oldest first
  std::size_t readyCount_ = 0;
};

}  // namespace console
