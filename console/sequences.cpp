// What the bytes and sequences a terminal sends stand for: the tables the key
// decoder (console/decoder.cpp) looks a byte or a whole sequence up in.
//
// What a terminal cannot tell us: Num Lock, Caps Lock, and whether a digit or
// an operator came from the keypad or the main block. A character is taken as
// the main-block key that gives it on the US layout (with Shift when it is the
// shifted character, which gives the same code whatever Caps Lock did); the
// keypad rows are reached only through the keypad's application-mode
// sequences (SS3 j..y); and Delete is always Delete, never Keypad . .
//
// Sequences decoded (CSI is ESC [, SS3 is ESC O; m is xterm's modifier
// parameter, 1 + Shift 1 + Alt 2 + Ctrl 4 + Meta 8, Meta counted as Alt):
//   CSI A B C D H F, CSI 1;m A..      arrows, Home, End (xterm, tmux, rxvt)
//   SS3 A B C D H F, SS3 m A..        the same in application cursor mode
//   CSI P Q R S, SS3 P Q R S          F1-F4 (xterm), with CSI 1;m P.. / SS3 m P..
//   CSI n ~, CSI n;m ~                editing keys and F-keys by number (kCsiNumbers)
//   CSI n $, CSI n ^, CSI n @         rxvt: the same with Shift, Ctrl, Ctrl+Shift
//   CSI [ A..E                        Linux console F1-F5
//   CSI a..d, SS3 a..d                rxvt Shift+arrows, Ctrl+arrows
//   CSI Z                             Shift+Tab
//   SS3 j k l m n o p..y M X I        keypad in application mode
//   CSI 27;m;c ~, CSI c;m u           xterm modifyOtherKeys / tmux extended keys:
//                                     the key of character code c with modifiers m
//   ESC key, ESC sequence             Alt with that key
// Anything else that is a well-formed CSI / SS3 sequence is swallowed whole.

#include "console/sequences.hpp"

#include <algorithm>
#include <cstddef>
#include <iterator>

namespace console::sequences {
namespace {

// A key that a byte or a sequence names, with the modifiers it implies itself.
struct SeqKey {
  std::uint8_t id;  // the byte, final byte or number that names it
  Key key;
  unsigned modifiers;
  std::uint8_t character;  // what the keyboard produced, for char results; 0: nothing
};

// Ctrl+I, Ctrl+M, Ctrl+J, Ctrl+[ and Ctrl+2 send the same bytes as the keys
// below and have the same codes in the table.
constexpr SeqKey kControlBytes[] = {
    {0x00, Key::Space, kCtrl, 0},
    {0x09, Key::Tab, 0, 9},
    {0x0A, Key::Enter, kCtrl, 10},
    {0x0D, Key::Enter, 0, 13},
    {0x1B, Key::Esc, 0, 27},  // only by code (CSI 27;m;27~); the byte starts a sequence
    {0x1C, Key::Backslash, kCtrl, 28},
    {0x1D, Key::RightBracket, kCtrl, 29},
    {0x1E, Key::Digit6, kCtrl, 30},
    {0x1F, Key::Minus, kCtrl, 31},  // xterm's Ctrl+/ too: the same code, 31
};

// Printable characters other than letters: the US-layout key and its shifted character.
struct CharKey {
  char plain, shifted;
  Key key;
};
constexpr CharKey kUsLayout[] = {
    {' ', ' ', Key::Space},        {'`', '~', Key::Grave},      {'1', '!', Key::Digit1},
    {'2', '@', Key::Digit2},       {'3', '#', Key::Digit3},     {'4', '$', Key::Digit4},
    {'5', '%', Key::Digit5},       {'6', '^', Key::Digit6},     {'7', '&', Key::Digit7},
    {'8', '*', Key::Digit8},       {'9', '(', Key::Digit9},     {'0', ')', Key::Digit0},
    {'-', '_', Key::Minus},        {'=', '+', Key::Equals},     {'[', '{', Key::LeftBracket},
    {']', '}', Key::RightBracket}, {'\\', '|', Key::Backslash}, {';', ':', Key::Semicolon},
    {'\'', '"', Key::Quote},       {',', '<', Key::Comma},      {'.', '>', Key::Period},
    {'/', '?', Key::Slash},
};

// clang-format off
constexpr SeqKey kCsiFinals[] = {
    {'A', Key::Up, 0, 0},
    {'B', Key::Down, 0, 0},
    {'C', Key::Right, 0, 0},
    {'D', Key::Left, 0, 0},
    {'H', Key::Home, 0, 0},
    {'F', Key::End, 0, 0},
    {'E', Key::Keypad5, kShift, 0},  // keypad 5 without Num Lock (xterm): its navigation code
    {'G', Key::Keypad5, kShift, 0},  // the same on the Linux console
    {'P', Key::F1, 0, 0},
    {'Q', Key::F2, 0, 0},
    {'R', Key::F3, 0, 0},  // CSI 1;mR is also a cursor report, but we never ask for one
    {'S', Key::F4, 0, 0},
    {'Z', Key::Tab, kShift, 0},
    {'a', Key::Up, kShift, 0},  // rxvt Shift+arrows
    {'b', Key::Down, kShift, 0},
    {'c', Key::Right, kShift, 0},
    {'d', Key::Left, kShift, 0},
};
// clang-format on

constexpr SeqKey kSs3Finals[] = {
    {'A', Key::Up, 0, 0},  // PuTTY's Ctrl+Up in normal cursor mode too; plain Up is likelier
    {'B', Key::Down, 0, 0},
    {'C', Key::Right, 0, 0},
    {'D', Key::Left, 0, 0},
    {'H', Key::Home, 0, 0},
    {'F', Key::End, 0, 0},
    {'E', Key::Keypad5, kShift, 0},
    {'P', Key::F1, 0, 0},
    {'Q', Key::F2, 0, 0},
    {'R', Key::F3, 0, 0},
    {'S', Key::F4, 0, 0},
    {'a', Key::Up, kCtrl, 0},  // rxvt Ctrl+arrows
    {'b', Key::Down, kCtrl, 0},
    {'c', Key::Right, kCtrl, 0},
    {'d', Key::Left, kCtrl, 0},
    // The keypad in application mode (Num Lock on, as the keypad rows assume).
    {'j', Key::KeypadMultiply, 0, '*'},
    {'k', Key::KeypadPlus, 0, '+'},
    {'l', Key::None, 0, ','},  // VT220 keypad comma: no row
    {'m', Key::KeypadMinus, 0, '-'},
    {'n', Key::KeypadPeriod, 0, '.'},
    {'o', Key::KeypadSlash, 0, '/'},
    {'p', Key::Keypad0, 0, '0'},
    {'q', Key::Keypad1, 0, '1'},
    {'r', Key::Keypad2, 0, '2'},
    {'s', Key::Keypad3, 0, '3'},
    {'t', Key::Keypad4, 0, '4'},
    {'u', Key::Keypad5, 0, '5'},
    {'v', Key::Keypad6, 0, '6'},
    {'w', Key::Keypad7, 0, '7'},
    {'x', Key::Keypad8, 0, '8'},
    {'y', Key::Keypad9, 0, '9'},
    {'M', Key::Enter, 0, 13},  // keypad Enter: the table has one Enter row
    {'X', Key::None, 0, '='},  // keypad =: no row
    {'I', Key::Tab, 0, 9},
};

constexpr SeqKey kCsiNumbers[] = {
    {1, Key::Home, 0, 0},  // Linux console, tmux
    {2, Key::Insert, 0, 0},
    {3, Key::Delete, 0, 0},
    {4, Key::End, 0, 0},  // Linux console, tmux
    {5, Key::PageUp, 0, 0},
    {6, Key::PageDown, 0, 0},
    {7, Key::Home, 0, 0},  // rxvt
    {8, Key::End, 0, 0},   // rxvt
    {11, Key::F1, 0, 0},   // VT220, rxvt, PuTTY
    {12, Key::F2, 0, 0},
    {13, Key::F3, 0, 0},
    {14, Key::F4, 0, 0},
    {15, Key::F5, 0, 0},
    {17, Key::F6, 0, 0},
    {18, Key::F7, 0, 0},
    {19, Key::F8, 0, 0},
    {20, Key::F9, 0, 0},
    {21, Key::F10, 0, 0},
    {23, Key::F11, 0, 0},  // also rxvt's Shift+F1: F11 is sent by every terminal, so likelier
    {24, Key::F12, 0, 0},  // also rxvt's Shift+F2: likewise
    // F13-F20 are Shift+F1-F8 on the Linux console and VT220 keyboards; rxvt
    // sends them for Shift+F3-F10. The Linux console's reading is taken.
    {25, Key::F1, kShift, 0},
    {26, Key::F2, kShift, 0},
    {28, Key::F3, kShift, 0},
    {29, Key::F4, kShift, 0},
    {31, Key::F5, kShift, 0},
    {32, Key::F6, kShift, 0},
    {33, Key::F7, kShift, 0},
    {34, Key::F8, kShift, 0},
};

constexpr SeqKey kLinuxFinals[] = {
    {'A', Key::F1, 0, 0}, {'B', Key::F2, 0, 0}, {'C', Key::F3, 0, 0},
    {'D', Key::F4, 0, 0}, {'E', Key::F5, 0, 0},
};

template <std::size_t N>
std::optional<KeyPress> find(const SeqKey (&table)[N], std::uint32_t id) {
  const auto* it = std::find_if(std::begin(table), std::end(table),
                                [id](const SeqKey& k) { return k.id == id; });
  if (it == std::end(table)) return std::nullopt;
  return KeyPress{it->key, it->modifiers, it->character};
}

}  // namespace

std::optional<KeyPress> controlByte(unsigned char byte) {
  return find(kControlBytes, byte);
}

std::optional<KeyPress> csiFinal(std::uint32_t final) {
  return find(kCsiFinals, final);
}

std::optional<KeyPress> ss3Final(std::uint32_t final) {
  return find(kSs3Finals, final);
}

std::optional<KeyPress> csiNumber(std::uint32_t number) {
  return find(kCsiNumbers, number);
}

std::optional<KeyPress> linuxFinal(std::uint32_t final) {
  return find(kLinuxFinals, final);
}

KeyPress printable(unsigned char c) {
  if (c >= 'a' && c <= 'z') return {keyAfter(Key::A, c - 'a'), 0, c};
  if (c >= 'A' && c <= 'Z') return {keyAfter(Key::A, c - 'A'), kShift, c};
  for (const CharKey& k : kUsLayout) {
    if (c == k.plain) return {k.key, 0, c};
    if (c == k.shifted) return {k.key, kShift, c};
  }
  return {Key::None, 0, c};
}

unsigned modifiersOf(std::uint32_t m) {
  if (m < 2) return 0;
  const std::uint32_t bits = m - 1;
  unsigned modifiers = 0;
  if ((bits & 1u) != 0) modifiers |= kShift;
  if ((bits & (2u | 8u)) != 0) modifiers |= kAlt;  // Meta counts as Alt
  if ((bits & 4u) != 0) modifiers |= kCtrl;
  return modifiers;
}

}  // namespace console::sequences
