// The key table and the codes readKey returns for a press. The expected codes
// are the key table's, written out again in tabla_teclas.hpp, not from keys.cpp.
#include "console/keys.hpp"

#include "tabla_teclas.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace console {
namespace {

using namespace tabla;

KeyResult parseResult(std::string_view text) {
  if (text == "char") return {KeyResult::Kind::Char, 0};
  if (text.substr(0, 2) == "0+") {
    return {KeyResult::Kind::Extended,
            static_cast<std::uint8_t>(std::stoi(std::string(text.substr(2))))};
  }
  return {KeyResult::Kind::Code, static_cast<std::uint8_t>(std::stoi(std::string(text)))};
}

void expectSameResult(const KeyResult& actual, std::string_view expected, const char* state) {
  const KeyResult want = parseResult(expected);
  EXPECT_EQ(actual.kind, want.kind) << state;
  if (want.kind != KeyResult::Kind::Char) {
    EXPECT_EQ(actual.value, want.value) << state;
  }
}

TEST(KeyTable, HasEveryRowEachKeyOnce) {
  ASSERT_EQ(std::size(kExpectedRows), 89u);
  ASSERT_EQ(keyTable.size(), 89u);
  for (const ExpectedRow& expected : kExpectedRows) {
    SCOPED_TRACE("key " + std::to_string(static_cast<int>(expected.key)));
    int found = 0;
    for (const KeyMapping& row : keyTable) {
      if (row.key != expected.key) continue;
      ++found;
      expectSameResult(row.plain, expected.plain, "plain");
      expectSameResult(row.shift, expected.shift, "shift");
      expectSameResult(row.ctrl, expected.ctrl, "ctrl");
      expectSameResult(row.alt, expected.alt, "alt");
    }
    EXPECT_EQ(found, 1);
  }
}

// Test names from the name of each case in a table.
template <class Case>
std::string caseName(const testing::TestParamInfo<Case>& param) {
  return param.param.name;
}

// ---------------------------------------------------------------------------
// keyCodes on the edge cases of the table.

struct CodesCase {
  const char* name;
  KeyPress press;
  std::optional<KeyCodes> codes;
};
void PrintTo(const CodesCase& c, std::ostream* out) {
  *out << c.name;
}

constexpr std::optional<KeyCodes> kSkipped = std::nullopt;
constexpr KeyCodes code(int n) {
  return {n, -1};
}
constexpr KeyCodes ext(int n) {
  return {0, n};
}

const CodesCase kCodesCases[] = {
    {"UpIsZeroThen72", {Key::Up, 0, 0}, ext(72)},
    {"F1IsZeroThen59", {Key::F1, 0, 0}, ext(59)},
    {"AltAIsZeroThen30", {Key::A, kAlt, 'a'}, ext(30)},
    {"ShiftTabIsZeroThen15", {Key::Tab, kShift, 9}, ext(15)},
    {"CtrlAIs1", {Key::A, kCtrl, 1}, code(1)},
    {"CtrlEnterIs10", {Key::Enter, kCtrl, 10}, code(10)},
    {"CtrlBackspaceIs127", {Key::Backspace, kCtrl, 127}, code(127)},
    {"CtrlCIs3", {Key::C, kCtrl, 3}, code(3)},
    {"F10", {Key::F10, 0, 0}, ext(68)},
    {"ShiftF10", {Key::F10, kShift, 0}, ext(93)},
    {"CtrlF10", {Key::F10, kCtrl, 0}, ext(103)},
    {"AltF10", {Key::F10, kAlt, 0}, ext(113)},
    {"F11", {Key::F11, 0, 0}, ext(133)},
    {"ShiftF11", {Key::F11, kShift, 0}, ext(135)},
    {"CtrlF11", {Key::F11, kCtrl, 0}, ext(137)},
    {"AltF11", {Key::F11, kAlt, 0}, ext(139)},
    {"F12", {Key::F12, 0, 0}, ext(134)},
    {"ShiftF12", {Key::F12, kShift, 0}, ext(136)},
    {"CtrlF12", {Key::F12, kCtrl, 0}, ext(138)},
    {"AltF12", {Key::F12, kAlt, 0}, ext(140)},
    {"KeypadStar", {Key::KeypadMultiply, 0, '*'}, code(42)},
    {"CtrlKeypadStar", {Key::KeypadMultiply, kCtrl, '*'}, ext(150)},
    {"AltKeypadPlus", {Key::KeypadPlus, kAlt, '+'}, ext(78)},
    {"CtrlKeypadPeriodIsDelete83", {Key::KeypadPeriod, kCtrl, '.'}, ext(83)},
    {"Keypad5", {Key::Keypad5, 0, '5'}, code(53)},
    {"ShiftKeypad5", {Key::Keypad5, kShift, '5'}, ext(76)},
    {"CtrlKeypad5", {Key::Keypad5, kCtrl, '5'}, ext(143)},
    {"AltKeypad5IsItsCharacter", {Key::Keypad5, kAlt, '5'}, code(53)},
    {"AltKeypad5WithoutCharacterIsSkipped", {Key::Keypad5, kAlt, 0}, kSkipped},
    {"ShiftKeypad0IsInsert", {Key::Keypad0, kShift, '0'}, ext(82)},
    {"CtrlKeypad9IsCtrlPageUp", {Key::Keypad9, kCtrl, '9'}, ext(132)},
    {"AltOverCtrlOverShift", {Key::Up, kAlt | kCtrl | kShift, 0}, ext(152)},
    {"CtrlOverShift", {Key::Up, kCtrl | kShift, 0}, ext(141)},
    {"PlainLetterIsItsCharacter", {Key::A, 0, 'a'}, code('a')},
    {"PlainLetterWithCapsLockIsUpperCase", {Key::A, 0, 'A'}, code('A')},
    {"PlainLetterZeroIsReturnedAsZero", {Key::A, 0, 0}, code(0)},
    {"ShiftLetterIsUpperCaseWhateverTheCharacter", {Key::Q, kShift, 'q'}, code('Q')},
    {"CtrlSemicolonIsItsCharacter", {Key::Semicolon, kCtrl, ';'}, code(';')},
    {"CtrlSemicolonWithoutCharacterIsSkipped", {Key::Semicolon, kCtrl, 0}, kSkipped},
    {"Ctrl2IsZeroThen3", {Key::Digit2, kCtrl, 0}, ext(3)},
    {"Ctrl6Is30", {Key::Digit6, kCtrl, 0}, code(30)},
    {"Alt0IsZeroThen129", {Key::Digit0, kAlt, '0'}, ext(129)},
    {"Alt9IsZeroThen128", {Key::Digit9, kAlt, '9'}, ext(128)},
    {"AltSpaceIs32", {Key::Space, kAlt, ' '}, code(32)},
    {"NoRowGivesItsCharacter", {Key::None, 0, 233}, code(233)},
    {"NoRowWithModifiersGivesItsCharacter", {Key::None, kCtrl | kAlt, 'e'}, code('e')},
    {"NoRowWithoutCharacterIsSkipped", {Key::None, 0, 0}, kSkipped},
    {"NoRowWithCharacterOutOfRangeIsSkipped", {Key::None, 0, 256}, kSkipped},
};

class KeyCodesTest : public testing::TestWithParam<CodesCase> {};

TEST_P(KeyCodesTest, GivesTheTablesCodes) {
  EXPECT_EQ(keyCodes(GetParam().press), GetParam().codes);
}

INSTANTIATE_TEST_SUITE_P(EdgeCases, KeyCodesTest, testing::ValuesIn(kCodesCases),
                         caseName<CodesCase>);

}  // namespace
}  // namespace console
