// The key table and the choice of a press's codes by its modifiers.

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

}  // namespace console
