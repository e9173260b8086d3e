// Keys: the key table and its lookup (keyCodes), and the decoder that turns
// the bytes a terminal sends into key presses (KeyDecoder).
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

#include "console/keys.hpp"

#include <algorithm>

namespace console {

namespace {

constexpr std::uint8_t u8(int value) {
  return static_cast<std::uint8_t>(value);
}
constexpr KeyResult code(std::uint8_t n) {
  return {KeyResult::Kind::Code, n};
}
constexpr KeyResult ext(std::uint8_t n) {
  return {KeyResult::Kind::Extended, n};
}
constexpr KeyResult kChar{KeyResult::Kind::Char, 0};

constexpr Key keyAfter(Key first, int offset) {
  return static_cast<Key>(static_cast<int>(first) + offset);
}

// The rows that follow no rule, one by one.
constexpr KeyMapping kListedRows[] = {
    {Key::Backspace, code(8), code(8), code(127), ext(14)},
    {Key::Tab, code(9), ext(15), ext(148), ext(165)},
    {Key::Enter, code(13), code(13), code(10), ext(166)},
    {Key::Esc, code(27), code(27), code(27), ext(1)},
    {Key::Space, code(32), code(32), ext(3), code(32)},
    {Key::PageUp, ext(73), ext(73), ext(132), ext(153)},
    {Key::PageDown, ext(81), ext(81), ext(118), ext(161)},
    {Key::End, ext(79), ext(79), ext(117), ext(159)},
    {Key::Home, ext(71), ext(71), ext(119), ext(151)},
    {Key::Left, ext(75), ext(75), ext(115), ext(155)},
    {Key::Up, ext(72), ext(72), ext(141), ext(152)},
    {Key::Right, ext(77), ext(77), ext(116), ext(157)},
    {Key::Down, ext(80), ext(80), ext(145), ext(160)},
    {Key::Insert, ext(82), ext(82), ext(146), ext(162)},
    {Key::Delete, ext(83), ext(83), ext(147), ext(163)},
    {Key::F11, ext(133), ext(135), ext(137), ext(139)},
    {Key::F12, ext(134), ext(136), ext(138), ext(140)},
    {Key::KeypadMultiply, code(42), code(42), ext(150), ext(55)},
    {Key::KeypadPlus, code(43), code(43), ext(144), ext(78)},
    {Key::KeypadMinus, code(45), code(45), ext(142), ext(74)},
    {Key::KeypadPeriod, code(46), code(46), ext(83), ext(147)},
    {Key::KeypadSlash, code(47), code(47), ext(149), ext(164)},
    {Key::Backslash, code(92), code(124), code(28), ext(43)},
    {Key::Slash, code(47), code(63), kChar, ext(53)},
    {Key::Minus, code(45), code(95), code(31), ext(130)},
    {Key::Equals, code(61), code(43), kChar, ext(131)},
    {Key::LeftBracket, code(91), code(123), code(27), ext(26)},
    {Key::RightBracket, code(93), code(125), code(29), ext(27)},
    {Key::Semicolon, code(59), code(58), kChar, ext(39)},
    {Key::Quote, code(39), code(34), kChar, ext(40)},
    {Key::Comma, code(44), code(60), kChar, ext(51)},
    {Key::Period, code(46), code(62), kChar, ext(52)},
    {Key::Grave, code(96), code(126), kChar, ext(41)},
};

// The data of the rows that follow a rule.
constexpr std::uint8_t kDigitShift[10] = {41, 33, 64, 35, 36, 37, 94, 38, 42, 40};
constexpr std::uint8_t kLetterAlt[26] = {30, 48, 46, 32, 18, 33, 34, 35, 23, 36, 37, 38, 50,
                                         49, 24, 25, 16, 19, 31, 20, 22, 47, 17, 45, 21, 44};
constexpr std::uint8_t kKeypadShift[10] = {82, 79, 80, 81, 75, 76, 77, 71, 72, 73};
constexpr std::uint8_t kKeypadCtrl[10] = {146, 117, 145, 118, 115, 143, 116, 119, 141, 132};

// The table in the order of Key, so that a key's row is found by its value.
constexpr std::array<KeyMapping, 89> buildKeyTable() {
  std::array<KeyMapping, 89> table{};
  auto put = [&table](const KeyMapping& row) {
    table[static_cast<std::size_t>(row.key) - 1] = row;
  };
  for (const KeyMapping& row : kListedRows)
    put(row);
  for (int n = 1; n <= 10; ++n) {
    put({keyAfter(Key::F1, n - 1), ext(u8(58 + n)), ext(u8(83 + n)), ext(u8(93 + n)),
         ext(u8(103 + n))});
  }
  for (int d = 0; d <= 9; ++d) {
    const KeyResult ctrl = d == 2 ? ext(3) : d == 6 ? code(30) : kChar;
    put({keyAfter(Key::Digit0, d), code(u8('0' + d)), code(kDigitShift[d]), ctrl,
         ext(u8(d == 0 ? 129 : 119 + d))});
  }
  for (int i = 0; i < 26; ++i) {
    put({keyAfter(Key::A, i), kChar, code(u8('A' + i)), code(u8(1 + i)), ext(kLetterAlt[i])});
  }
  for (int d = 0; d <= 9; ++d) {
    put({keyAfter(Key::Keypad0, d), code(u8('0' + d)), ext(kKeypadShift[d]), ext(kKeypadCtrl[d]),
         kChar});
  }
  return table;
}

}  // namespace

constexpr std::array<KeyMapping, 89> keyTable = buildKeyTable();

namespace {

constexpr bool tableInKeyOrder() {
  for (std::size_t i = 0; i < keyTable.size(); ++i) {
    if (static_cast<std::size_t>(keyTable[i].key) != i + 1) return false;
  }
  return true;
}
static_assert(static_cast<std::size_t>(Key::Keypad9) == keyTable.size());
static_assert(tableInKeyOrder(), "every key has exactly one row, in the order of Key");

constexpr const KeyMapping* findRow(Key key) {
  const auto index = static_cast<std::size_t>(key);
  if (index == 0 || index > keyTable.size()) return nullptr;
  return &keyTable[index - 1];
}

constexpr bool isLetter(Key key) {
  return key >= Key::A && key <= Key::Z;
}

std::optional<KeyCodes> characterCodes(int character) {
  if (character < 1 || character > 255) return std::nullopt;
  return KeyCodes{character, -1};
}

}  // namespace

std::optional<KeyCodes> keyCodes(const KeyPress& press) {
  // With Num Lock on, Delete is looked up as the keypad's period.
  const Key key = press.numLock && press.key == Key::Delete ? Key::KeypadPeriod : press.key;
  const KeyMapping* row = findRow(key);
  if (row == nullptr) return characterCodes(press.character);
  KeyResult result = row->plain;
  if ((press.modifiers & kAlt) != 0) {
    result = row->alt;
  } else if ((press.modifiers & kCtrl) != 0) {
    result = row->ctrl;
  } else if ((press.modifiers & kShift) != 0) {
    result = row->shift;
  } else if (isLetter(key)) {
    // The keyboard's own character, 0 included (Caps Lock and the layout decide).
    if (press.character < 0 || press.character > 255) return std::nullopt;
    return KeyCodes{press.character, -1};
  }
  switch (result.kind) {
    case KeyResult::Kind::Code:
      return KeyCodes{result.value, -1};
    case KeyResult::Kind::Extended:
      return KeyCodes{0, result.value};
    case KeyResult::Kind::Char:
      break;
  }
  return characterCodes(press.character);
}

// ---------------------------------------------------------------------------
// The decoder's tables.

namespace {

// A key that a byte or a sequence names, with the modifiers it implies itself.
struct SeqKey {
  std::uint8_t id;  // the byte, final byte or number that names it
  Key key;
  unsigned modifiers;
  std::uint8_t character;  // what the keyboard produced, for char results; 0: nothing
};

// Control bytes other than 0x01-0x1A (Ctrl+letter) and the erase pair.
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

// `CSI x` and `CSI 1;m x` by final byte x.
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

// `SS3 x` and `SS3 m x` by final byte x.
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

// `CSI n ~` (and rxvt's `CSI n $ ^ @`) by the number n.
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

// Linux console `CSI [ x`.
constexpr SeqKey kLinuxFinals[] = {
    {'A', Key::F1, 0, 0}, {'B', Key::F2, 0, 0}, {'C', Key::F3, 0, 0},
    {'D', Key::F4, 0, 0}, {'E', Key::F5, 0, 0},
};

// Well-formed UTF-8 lead bytes (Unicode table 3-7): how many continuation
// bytes follow and the range allowed for the first of them, which rules out
// overlong forms, surrogates and code points beyond U+10FFFF.
struct Utf8Lead {
  std::uint8_t first, last;
  std::uint8_t continuations;
  std::uint8_t low, high;
};
// clang-format off
constexpr Utf8Lead kUtf8Leads[] = {
    {0xC2, 0xDF, 1, 0x80, 0xBF},  // U+0080-U+07FF (C0, C1: overlong)
    {0xE0, 0xE0, 2, 0xA0, 0xBF},  // U+0800-U+0FFF
    {0xE1, 0xEC, 2, 0x80, 0xBF},
    {0xED, 0xED, 2, 0x80, 0x9F},  // no surrogates
    {0xEE, 0xEF, 2, 0x80, 0xBF},
    {0xF0, 0xF0, 3, 0x90, 0xBF},  // U+10000-U+3FFFF
    {0xF1, 0xF3, 3, 0x80, 0xBF},
    {0xF4, 0xF4, 3, 0x80, 0x8F},  // up to U+10FFFF
};
// clang-format on

constexpr int kUnknownCharacter = Utf8Decoder::kUnknown;
// Parameters saturate here, above every number a key uses (code points included).
constexpr std::uint32_t kParamLimit = 0x110000;

template <std::size_t N>
const SeqKey* findSeqKey(const SeqKey (&table)[N], std::uint32_t id) {
  const auto* it = std::find_if(std::begin(table), std::end(table),
                                [id](const SeqKey& k) { return k.id == id; });
  return it == std::end(table) ? nullptr : it;
}

KeyPress pressFor(const SeqKey& k, unsigned modifiers) {
  return {k.key, k.modifiers | modifiers, k.character};
}

KeyPress unknownCharacter(unsigned modifiers) {
  return {Key::None, modifiers, kUnknownCharacter};
}

// A printable ASCII character: its key on the US layout.
KeyPress pressForPrintable(unsigned char c) {
  if (c >= 'a' && c <= 'z') return {keyAfter(Key::A, c - 'a'), 0, c};
  if (c >= 'A' && c <= 'Z') return {keyAfter(Key::A, c - 'A'), kShift, c};
  for (const CharKey& k : kUsLayout) {
    if (c == k.plain) return {k.key, 0, c};
    if (c == k.shifted) return {k.key, kShift, c};
  }
  return {Key::None, 0, c};
}

// xterm's modifier parameter: m = 1 + (Shift 1 | Alt 2 | Ctrl 4 | Meta 8); 0 or 1: none.
unsigned modifiersOf(std::uint32_t m) {
  if (m < 2) return 0;
  const std::uint32_t bits = m - 1;
  unsigned modifiers = 0;
  if ((bits & 1u) != 0) modifiers |= kShift;
  if ((bits & (2u | 8u)) != 0) modifiers |= kAlt;  // Meta counts as Alt
  if ((bits & 4u) != 0) modifiers |= kCtrl;
  return modifiers;
}

KeyPress withModifiers(KeyPress press, unsigned modifiers) {
  press.modifiers |= modifiers;
  return press;
}

}  // namespace

// ---------------------------------------------------------------------------
// UTF-8 characters.

bool Utf8Decoder::begin(unsigned char lead) {
  for (const Utf8Lead& l : kUtf8Leads) {
    if (lead < l.first || lead > l.last) continue;
    codePoint_ = lead & (0x3Fu >> l.continuations);
    left_ = l.continuations;
    low_ = l.low;
    high_ = l.high;
    return true;
  }
  left_ = 0;
  return false;
}

Utf8Decoder::Step Utf8Decoder::next(unsigned char byte) {
  if (byte < low_ || byte > high_) {
    left_ = 0;
    return Step::broken;
  }
  codePoint_ = (codePoint_ << 6) | (byte & 0x3Fu);
  low_ = 0x80;
  high_ = 0xBF;
  return --left_ > 0 ? Step::more : Step::done;
}

// ---------------------------------------------------------------------------
// The decoder.

// Any erase character but 0x08 (one that is disabled, or unusual) counts as
// 0x7F, which is what nearly every terminal sends for Backspace.
KeyDecoder::KeyDecoder(unsigned char eraseChar, bool utf8)
    : erase_(eraseChar == 0x08 ? 0x08 : 0x7F), utf8_(utf8) {}

void KeyDecoder::feed(unsigned char byte) {
  switch (state_) {
    case State::Ground:
      ground(byte, 0);
      return;
    case State::Escape:
      escape(byte);
      return;
    case State::Csi:
      csi(byte);
      return;
    case State::LinuxFn:
      linuxFn(byte);
      return;
    case State::Ss3:
      ss3(byte);
      return;
    case State::Utf8:
      utf8(byte);
      return;
  }
}

void KeyDecoder::expire() {
  switch (state_) {
    case State::Ground:
      return;
    case State::Escape:
      push({Key::Esc, escEsc_ ? kAlt : 0u, 27});
      break;
    case State::Csi:
    case State::Ss3:
      endBarePrefix();  // a longer unfinished sequence gives nothing
      break;
    case State::LinuxFn:
      break;
    case State::Utf8:
      push(unknownCharacter(alt_));
      utf8Character_ = {};
      break;
  }
  state_ = State::Ground;
}

bool KeyDecoder::waiting() const {
  return state_ != State::Ground;
}

int KeyDecoder::timeoutMs() const {
  switch (state_) {
    case State::Ground:
      return -1;
    case State::Escape:
      return kEscTimeoutMs;
    default:
      return kSequenceTimeoutMs;
  }
}

bool KeyDecoder::take(KeyPress& out) {
  if (readyCount_ == 0) return false;
  out = ready_[readyHead_];
  readyHead_ = (readyHead_ + 1) % kQueueCapacity;
  --readyCount_;
  return true;
}

// Full: the press is dropped, as a full keyboard buffer drops keys; the
// presses already queued keep their order.
void KeyDecoder::push(KeyPress press) {
  if (readyCount_ == kQueueCapacity) return;
  ready_[(readyHead_ + readyCount_) % kQueueCapacity] = press;
  ++readyCount_;
}

// A byte between keys; `alt` is kAlt when an ESC came before it.
void KeyDecoder::ground(unsigned char byte, unsigned alt) {
  if (byte == 0x1B) {
    state_ = State::Escape;
    escEsc_ = false;
    return;
  }
  if (byte >= 0x80 && utf8_) {
    if (utf8Character_.begin(byte)) {
      state_ = State::Utf8;
      alt_ = alt;
    } else {
      push(unknownCharacter(alt));
    }
    return;
  }
  push(withModifiers(pressForByte(byte), alt));
}

void KeyDecoder::escape(unsigned char byte) {
  // ESC [ A is Up, not Alt+[ then A: a terminal sends a sequence in one go.
  if (byte == '[' || byte == 'O') {
    // ESC ESC [ A is Alt+Up (rxvt, and xterm without modified keys), not Esc then Up.
    alt_ = escEsc_ ? kAlt : 0;
    beginSequence(byte == '[' ? State::Csi : State::Ss3);
    return;
  }
  if (escEsc_) {  // ESC ESC and then anything else: Alt+Esc, and the byte afresh
    push({Key::Esc, kAlt, 27});
    state_ = State::Ground;
    ground(byte, 0);
    return;
  }
  if (byte == 0x1B) {
    escEsc_ = true;
    return;
  }
  state_ = State::Ground;
  ground(byte, kAlt);
}

void KeyDecoder::beginSequence(State state) {
  state_ = state;
  params_ = {};
  paramCount_ = 0;
  begun_ = false;
  subParam_ = false;
  malformed_ = false;
}

// Takes a parameter byte (0x30-0x3F) into params_; false for any other byte.
bool KeyDecoder::param(unsigned char byte) {
  if (byte < 0x30 || byte > 0x3F) return false;
  begun_ = true;
  if (paramCount_ == 0) paramCount_ = 1;
  if (byte <= '9') {
    if (!subParam_) {
      std::uint32_t& value = params_[paramCount_ - 1u];
      value = std::min<std::uint32_t>(value * 10 + (byte - '0'), kParamLimit);
    }
  } else if (byte == ';') {
    subParam_ = false;
    if (paramCount_ < kMaxParams) {
      ++paramCount_;
    } else {
      malformed_ = true;
    }
  } else if (byte == ':') {
    subParam_ = true;  // kitty-style sub-parameters: only the first counts
  } else {
    malformed_ = true;  // < = > ?: private sequences are reports and mouse events, not keys
  }
  return true;
}

void KeyDecoder::csi(unsigned char byte) {
  if (param(byte)) return;
  if (byte == '[' && !begun_) {
    begun_ = true;
    state_ = State::LinuxFn;
    return;
  }
  // rxvt ends sequences with `$`, which is an intermediate byte elsewhere.
  if ((byte >= 0x40 && byte <= 0x7E) || (byte == '$' && !malformed_)) {
    finishCsi(byte);
    return;
  }
  if (byte >= 0x20 && byte <= 0x2F) {  // intermediate bytes: no key uses them
    begun_ = true;
    malformed_ = true;
    return;
  }
  abortSequence(byte);
}

void KeyDecoder::linuxFn(unsigned char byte) {
  if (byte < 0x20 || byte > 0x7E) {
    abortSequence(byte);
    return;
  }
  state_ = State::Ground;
  if (const SeqKey* k = findSeqKey(kLinuxFinals, byte)) push(pressFor(*k, alt_));
}

void KeyDecoder::ss3(unsigned char byte) {
  if (param(byte)) return;
  if (byte >= 0x20 && byte <= 0x7E) {
    finishSs3(byte);
    return;
  }
  abortSequence(byte);
}

void KeyDecoder::finishCsi(unsigned char final) {
  state_ = State::Ground;
  if (malformed_) return;
  const std::uint32_t first = params_[0];
  const std::uint32_t second = params_[1];
  const SeqKey* key = nullptr;
  unsigned modifiers = alt_;
  switch (final) {
    case '~':
      if (paramCount_ == 3 && first == 27) {  // xterm modifyOtherKeys: CSI 27;m;c~
        push(withModifiers(pressForCode(params_[2]), alt_ | modifiersOf(second)));
        return;
      }
      if (paramCount_ < 1 || paramCount_ > 2) return;
      key = findSeqKey(kCsiNumbers, first);
      modifiers |= modifiersOf(second);
      break;
    case '$':
    case '^':
    case '@':  // rxvt: Shift, Ctrl, Ctrl+Shift
      if (paramCount_ != 1) return;
      key = findSeqKey(kCsiNumbers, first);
      modifiers |= final == '$' ? kShift : final == '^' ? kCtrl : kCtrl | kShift;
      break;
    case 'u':  // CSI c;m u: the key of character code c
      if (paramCount_ < 1 || paramCount_ > 2 || first == 0) return;
      push(withModifiers(pressForCode(first), alt_ | modifiersOf(second)));
      return;
    default:  // CSI x, CSI 1;m x; another first number makes it a report, not a key
      if (paramCount_ > 2 || first > 1) return;
      key = findSeqKey(kCsiFinals, final);
      modifiers |= modifiersOf(second);
      break;
  }
  if (key != nullptr) push(pressFor(*key, modifiers));
}

void KeyDecoder::finishSs3(unsigned char final) {
  state_ = State::Ground;
  if (malformed_ || paramCount_ > 2) return;
  // SS3 m x (old xterm, Konsole), or SS3 1;m x.
  if (paramCount_ == 2 && params_[0] > 1) return;
  const std::uint32_t m = paramCount_ == 2 ? params_[1] : params_[0];
  if (const SeqKey* k = findSeqKey(kSs3Finals, final)) push(pressFor(*k, alt_ | modifiersOf(m)));
}

void KeyDecoder::utf8(unsigned char byte) {
  switch (utf8Character_.next(byte)) {
    case Utf8Decoder::Step::more:
      return;
    case Utf8Decoder::Step::done:
      state_ = State::Ground;
      push({Key::None, alt_, utf8Character_.character()});
      return;
    case Utf8Decoder::Step::broken:
      // Ill-formed: one '?' for what came so far, and the byte afresh.
      push(unknownCharacter(alt_));
      state_ = State::Ground;
      ground(byte, 0);
      return;
  }
}

// `ESC [` or `ESC O` with nothing after it was Alt+[ or Alt+O.
void KeyDecoder::endBarePrefix() {
  if (begun_) return;
  if (state_ == State::Csi) push({Key::LeftBracket, kAlt, '['});
  if (state_ == State::Ss3) push({Key::O, kAlt | kShift, 'O'});
}

// A byte that cannot be part of the sequence in progress (a control byte or a
// non-ASCII one) ends it without a key, and is decoded afresh.
void KeyDecoder::abortSequence(unsigned char byte) {
  endBarePrefix();
  state_ = State::Ground;
  ground(byte, 0);
}

// One byte on its own (not ESC, not part of UTF-8).
KeyPress KeyDecoder::pressForByte(unsigned char byte) const {
  if (byte == erase_) return {Key::Backspace, 0, 8};
  // 0x08 is also Ctrl+H; xterm, VTE and tmux send it for Ctrl+Backspace, the likelier press.
  if (byte == (erase_ == 0x7F ? 0x08 : 0x7F)) return {Key::Backspace, kCtrl, 127};
  if (const SeqKey* k = findSeqKey(kControlBytes, byte)) return pressFor(*k, 0);
  if (byte < 0x20) return {keyAfter(Key::A, byte - 1), kCtrl, byte};  // 0x01-0x1A
  if (byte < 0x7F) return pressForPrintable(byte);
  return {Key::None, 0, byte};  // 0x80-0xFF when input is not UTF-8
}

// A key given by its character code (modifyOtherKeys, CSI u).
KeyPress KeyDecoder::pressForCode(std::uint32_t code) const {
  // Both 8 and 127 name Backspace here: the modifiers say whether Ctrl was held.
  if (code == 0x08 || code == 0x7F) return {Key::Backspace, 0, 8};
  if (code <= 0xFF) return pressForByte(static_cast<unsigned char>(code));
  return unknownCharacter(0);
}

}  // namespace console
