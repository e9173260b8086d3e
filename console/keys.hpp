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

// UTF-8 to the program's single-byte text, one byte at a time: a character
// up to U+00FF is the Latin-1 code of the same number; any other character,
// and every ill-formed sequence, is '?'. Pure and bounded.
class Utf8Decoder {
 public:
  enum class Step : std::uint8_t {
    more,    // the character goes on
    done,    // the character is whole: character() gives its code
    broken,  // the byte does not belong: the character so far is '?', and
             // the byte is to be taken afresh
  };
  static constexpr int kUnknown = '?';

  // A byte from 0x80 on, between characters: true when it begins a
  // character of several bytes, which is then pending; false when it is a
  // stray continuation byte or never a lead byte ('?').
  bool begin(unsigned char lead);
  // The next byte of the pending character.
  Step next(unsigned char byte);
  bool pending() const { return left_ > 0; }
  // The code of the character just completed.
  int character() const { return codePoint_ <= 0xFF ? static_cast<int>(codePoint_) : kUnknown; }
  // The character just completed, whatever its number.
  std::uint32_t codePoint() const { return codePoint_; }

 private:
  std::uint32_t codePoint_ = 0;
  std::uint8_t left_ = 0;             // continuation bytes still to come
  unsigned char low_ = 0, high_ = 0;  // allowed range of the next one
};

// The other way: the UTF-8 bytes of character `codePoint` (a single-byte
// code is the character of the same number) put at `out`, which has room
// for four; returns how many.
constexpr std::size_t encodeUtf8(std::uint32_t codePoint, char* out) noexcept {
  auto byte = [](std::uint32_t bits) { return static_cast<char>(bits & 0xFF); };
  if (codePoint < 0x80) {
    out[0] = byte(codePoint);
    return 1;
  }
  if (codePoint < 0x800) {
    out[0] = byte(0xC0 | codePoint >> 6);
    out[1] = byte(0x80 | (codePoint & 0x3F));
    return 2;
  }
  if (codePoint < 0x10000) {
    out[0] = byte(0xE0 | codePoint >> 12);
    out[1] = byte(0x80 | (codePoint >> 6 & 0x3F));
    out[2] = byte(0x80 | (codePoint & 0x3F));
    return 3;
  }
  out[0] = byte(0xF0 | codePoint >> 18);
  out[1] = byte(0x80 | (codePoint >> 12 & 0x3F));
  out[2] = byte(0x80 | (codePoint >> 6 & 0x3F));
  out[3] = byte(0x80 | (codePoint & 0x3F));
  return 4;
}

// Turns terminal input bytes into key presses. Feed it every byte in order;
// when waiting() is true and no byte arrives within timeoutMs(), call expire().
// Pure and bounded: no I/O, no clock, no heap; any byte string is safe.
class KeyDecoder {
 public:
  // Presses held for take(); when full, further presses are dropped, so
  // feed() stays safe even if nobody takes.
  static constexpr std::size_t kQueueCapacity = 8;
  // How long to wait for the byte after a lone ESC, and inside a sequence
  // (`ESC [`, `ESC O`, a UTF-8 character) once it has begun.
  static constexpr int kEscTimeoutMs = 40;
  static constexpr int kSequenceTimeoutMs = 150;

  // eraseChar: the terminal's erase character (VERASE), which is Backspace.
  // utf8: whether multi-byte UTF-8 characters are expected.
  explicit KeyDecoder(unsigned char eraseChar = 0x7F, bool utf8 = true);

  void feed(unsigned char byte);
  // No byte came in time: ends what is pending (a lone ESC becomes Esc).
  void expire();
  // Whether a sequence is pending and more bytes may complete it.
  bool waiting() const;
  // While waiting(): kEscTimeoutMs or kSequenceTimeoutMs; otherwise -1 (no limit).
  int timeoutMs() const;
  // Takes the oldest decoded press; false when there is none.
  bool take(KeyPress& out);

 private:
  enum class State : std::uint8_t {
    Ground,   // between keys
    Escape,   // after ESC (or ESC ESC)
    Csi,      // after ESC [
    LinuxFn,  // after ESC [ [ (Linux console F1-F5)
    Ss3,      // after ESC O
    Utf8,     // inside a multi-byte UTF-8 character
  };
  static constexpr std::size_t kMaxParams = 3;

  void ground(unsigned char byte, unsigned alt);
  void escape(unsigned char byte);
  void csi(unsigned char byte);
  void linuxFn(unsigned char byte);
  void ss3(unsigned char byte);
  void utf8(unsigned char byte);
  void beginSequence(State state);
  bool param(unsigned char byte);
  void finishCsi(unsigned char final);
  void finishSs3(unsigned char final);
  void endBarePrefix();
  void abortSequence(unsigned char byte);
  KeyPress pressForByte(unsigned char byte) const;
  KeyPress pressForCode(std::uint32_t code) const;
  void push(KeyPress press);

  unsigned char erase_;  // 0x08 or 0x7F: the byte that is Backspace; the other is Ctrl+Backspace
  bool utf8_;            // bytes 0x80-0xFF are UTF-8, not single characters
  State state_ = State::Ground;
  bool escEsc_ = false;  // Escape state reached by ESC ESC: Alt+Esc, or Alt with a sequence
  unsigned alt_ = 0;     // kAlt when an ESC came before the sequence or character in progress

  // The CSI / SS3 sequence in progress: parameters, not bytes, so that it is
  // bounded however long the sequence grows.
  std::array<std::uint32_t, kMaxParams> params_{};  // 0 when absent; saturated
  std::uint8_t paramCount_ = 0;                     // parameters begun; digits go to the last
  bool begun_ = false;                              // a byte came after `ESC [` / `ESC O`
  bool subParam_ = false;                           // after ':' until the next ';': digits ignored
  bool malformed_ = false;  // private marker, intermediates, too many parameters: no key

  Utf8Decoder utf8Character_;  // the UTF-8 character in progress

  std::array<KeyPress, kQueueCapacity> ready_{};  // ring of presses not yet taken
  std::size_t readyHead_ = 0;                     // the oldest
  std::size_t readyCount_ = 0;
};

}  // namespace console
