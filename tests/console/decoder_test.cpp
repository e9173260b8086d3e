// The key decoder: the bytes terminals send, and the codes readKey returns for
// them. The expected codes are the key table's, written out again in
// tabla_teclas.hpp, not from keys.cpp.
#include "console/decoder.hpp"

#include "tabla_teclas.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace console {
namespace {

using namespace std::literals;
using namespace tabla;

// Test names from the name of each case in a table.
template <class Case>
std::string caseName(const testing::TestParamInfo<Case>& param) {
  return param.param.name;
}

// ---------------------------------------------------------------------------
// Decoding: helpers.

void takeCodes(KeyDecoder& decoder, std::vector<int>& codes) {
  KeyPress press;
  while (decoder.take(press)) {
    const std::optional<KeyCodes> c = keyCodes(press);
    if (!c) continue;
    codes.push_back(c->code);
    if (c->extended >= 0) codes.push_back(c->extended);
  }
}

struct Decoded {
  std::vector<int> codes;
  bool waitedAtEnd;  // still waiting after the last byte: expire() was needed
};

// Feeds `bytes` split into two reads at `split` (the reader takes the keys
// after each read), then ends with expire() if the decoder still waits.
Decoded decodeSplit(std::string_view bytes, std::size_t split, unsigned char erase = 0x7F,
                    bool utf8 = true) {
  KeyDecoder decoder(erase, utf8);
  Decoded out{{}, false};
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == split) takeCodes(decoder, out.codes);
    decoder.feed(static_cast<unsigned char>(bytes[i]));
  }
  out.waitedAtEnd = decoder.waiting();
  if (out.waitedAtEnd) decoder.expire();
  takeCodes(decoder, out.codes);
  return out;
}

// Feeds one byte at a time and takes after every byte.
Decoded decodeByteByByte(std::string_view bytes, unsigned char erase = 0x7F, bool utf8 = true) {
  KeyDecoder decoder(erase, utf8);
  Decoded out{{}, false};
  for (char byte : bytes) {
    decoder.feed(static_cast<unsigned char>(byte));
    takeCodes(decoder, out.codes);
  }
  out.waitedAtEnd = decoder.waiting();
  if (out.waitedAtEnd) decoder.expire();
  takeCodes(decoder, out.codes);
  return out;
}

std::string printable(std::string_view bytes) {
  std::string out;
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b == 0x1B) {
      out += "ESC ";
    } else if (b < 0x20 || b >= 0x7F) {
      out += "\\x" + std::string(1, "0123456789abcdef"[b >> 4]) + "0123456789abcdef"[b & 15] + " ";
    } else {
      out += static_cast<char>(b);
    }
  }
  return out;
}

// The same codes whether the bytes come whole, one by one or split in two
// anywhere; and a lone ESC is told by the decoder waiting at the end.
void expectDecodes(std::string_view bytes, const std::vector<int>& codes, bool expires = false,
                   unsigned char erase = 0x7F, bool utf8 = true) {
  SCOPED_TRACE("bytes: " + printable(bytes));
  const Decoded whole = decodeSplit(bytes, bytes.size(), erase, utf8);
  EXPECT_EQ(whole.codes, codes) << "fed whole";
  EXPECT_EQ(whole.waitedAtEnd, expires) << "waiting after the last byte";
  EXPECT_EQ(decodeByteByByte(bytes, erase, utf8).codes, codes) << "fed byte by byte";
  for (std::size_t split = 1; split < bytes.size(); ++split) {
    EXPECT_EQ(decodeSplit(bytes, split, erase, utf8).codes, codes) << "split at " << split;
  }
}

// ---------------------------------------------------------------------------
// What terminals send, case by case.

struct DecodeCase {
  const char* name;
  std::string_view bytes;
  std::vector<int> codes;
  bool expires = false;  // ends in a lone ESC or an unfinished sequence
  unsigned char erase = 0x7F;
  bool utf8 = true;
};
void PrintTo(const DecodeCase& c, std::ostream* out) {
  *out << c.name;
}

const DecodeCase kDecodeCases[] = {
    // Single bytes.
    {"LetterIsItsCharacter", "a"sv, {'a'}},
    {"UpperCaseLetterIsItsCharacter", "Z"sv, {'Z'}},
    {"DigitsAndPunctuation", "5!~ \\|"sv, {'5', '!', '~', ' ', '\\', '|'}},
    {"EnterIs13", "\r"sv, {13}},
    {"LineFeedIsCtrlEnter10", "\n"sv, {10}},
    {"TabIs9", "\t"sv, {9}},
    {"DelIsBackspace8", "\x7f"sv, {8}},
    {"CtrlHIsCtrlBackspace127", "\x08"sv, {127}},
    {"EraseCtrlHIsBackspace8", "\x08"sv, {8}, false, 0x08},
    {"EraseCtrlHMakesDelCtrlBackspace127", "\x7f"sv, {127}, false, 0x08},
    {"EraseDisabledCountsAsDel", "\x7f\x08"sv, {8, 127}, false, 0x00},
    {"CtrlAIs1", "\x01"sv, {1}},
    {"CtrlCIs3", "\x03"sv, {3}},
    {"CtrlZIs26", "\x1a"sv, {26}},
    {"CtrlBackslashIs28", "\x1c"sv, {28}},
    {"CtrlRightBracketIs29", "\x1d"sv, {29}},
    {"Ctrl6Is30", "\x1e"sv, {30}},
    {"CtrlMinusIs31", "\x1f"sv, {31}},
    {"CtrlSpaceIsZeroThen3", "\0"sv, {0, 3}},
    // ESC and Alt.
    {"LoneEscIsEscAfterTheWait", "\033"sv, {27}, true},
    {"EscEscIsAltEsc", "\033\033"sv, {0, 1}, true},
    {"AltAIsZeroThen30", "\033a"sv, {0, 30}},
    {"AltShiftAIsZeroThen30", "\033A"sv, {0, 30}},
    {"Alt1IsZeroThen120", "\0331"sv, {0, 120}},
    {"AltShift1IsZeroThen120", "\033!"sv, {0, 120}},
    {"Alt0IsZeroThen129", "\0330"sv, {0, 129}},
    {"AltMinusIsZeroThen130", "\033-"sv, {0, 130}},
    {"AltEqualsIsZeroThen131", "\033="sv, {0, 131}},
    {"AltBackspaceIsZeroThen14", "\033\x7f"sv, {0, 14}},
    {"AltEnterIsZeroThen166", "\033\r"sv, {0, 166}},
    {"AltTabIsZeroThen165", "\033\t"sv, {0, 165}},
    {"AltSpaceIs32", "\033 "sv, {32}},
    {"AltCtrlAIsAltA", "\033\x01"sv, {0, 30}},
    {"AltLeftBracketAfterTheWait", "\033["sv, {0, 26}, true},
    {"AltShiftOAfterTheWait", "\033O"sv, {0, 24}, true},
    {"AltRightBracket", "\033]"sv, {0, 27}},
    {"AltEAcuteIsItsCharacter", "\033\xc3\xa9"sv, {233}},
    {"AltEscThenALetter", "\033\033x"sv, {0, 1, 'x'}},
    {"AltEscThenEsc", "\033\033\033"sv, {0, 1, 27}, true},
    {"AltUpByEscBeforeTheSequence", "\033\033[A"sv, {0, 152}},
    {"AltF1ByEscBeforeSs3", "\033\033OP"sv, {0, 104}},
    {"AltF5ByEscBeforeLinuxSequence", "\033\033[[E"sv, {0, 108}},
    {"AltBracketThenEnter", "\033[\r"sv, {0, 26, 13}},
    {"AltOThenEnter", "\033O\r"sv, {0, 24, 13}},
    // xterm.
    {"xterm_Up", "\033[A"sv, {0, 72}},
    {"xterm_Down", "\033[B"sv, {0, 80}},
    {"xterm_Right", "\033[C"sv, {0, 77}},
    {"xterm_Left", "\033[D"sv, {0, 75}},
    {"xterm_Home", "\033[H"sv, {0, 71}},
    {"xterm_End", "\033[F"sv, {0, 79}},
    {"xterm_AppUp", "\033OA"sv, {0, 72}},
    {"xterm_AppHome", "\033OH"sv, {0, 71}},
    {"xterm_AppEnd", "\033OF"sv, {0, 79}},
    {"xterm_Insert", "\033[2~"sv, {0, 82}},
    {"xterm_Delete", "\033[3~"sv, {0, 83}},
    {"xterm_PageUp", "\033[5~"sv, {0, 73}},
    {"xterm_PageDown", "\033[6~"sv, {0, 81}},
    {"xterm_F1", "\033OP"sv, {0, 59}},
    {"xterm_F2", "\033OQ"sv, {0, 60}},
    {"xterm_F3", "\033OR"sv, {0, 61}},
    {"xterm_F4", "\033OS"sv, {0, 62}},
    {"xterm_F5", "\033[15~"sv, {0, 63}},
    {"xterm_F6", "\033[17~"sv, {0, 64}},
    {"xterm_F7", "\033[18~"sv, {0, 65}},
    {"xterm_F8", "\033[19~"sv, {0, 66}},
    {"xterm_F9", "\033[20~"sv, {0, 67}},
    {"xterm_F10", "\033[21~"sv, {0, 68}},
    {"xterm_F11", "\033[23~"sv, {0, 133}},
    {"xterm_F12", "\033[24~"sv, {0, 134}},
    {"xterm_ShiftUp", "\033[1;2A"sv, {0, 72}},
    {"xterm_AltUp", "\033[1;3A"sv, {0, 152}},
    {"xterm_CtrlUp", "\033[1;5A"sv, {0, 141}},
    {"xterm_CtrlShiftUpIsCtrlUp", "\033[1;6A"sv, {0, 141}},
    {"xterm_CtrlAltUpIsAltUp", "\033[1;7A"sv, {0, 152}},
    {"xterm_MetaUpIsAltUp", "\033[1;9A"sv, {0, 152}},
    {"xterm_CtrlLeft", "\033[1;5D"sv, {0, 115}},
    {"xterm_CtrlHome", "\033[1;5H"sv, {0, 119}},
    {"xterm_CtrlEnd", "\033[1;5F"sv, {0, 117}},
    {"xterm_ShiftF1", "\033[1;2P"sv, {0, 84}},
    {"xterm_CtrlF1", "\033[1;5P"sv, {0, 94}},
    {"xterm_AltF4", "\033[1;3S"sv, {0, 107}},
    {"xterm_CtrlF3", "\033[1;5R"sv, {0, 96}},
    {"xterm_ShiftF5", "\033[15;2~"sv, {0, 88}},
    {"xterm_ShiftF10", "\033[21;2~"sv, {0, 93}},
    {"xterm_CtrlF10", "\033[21;5~"sv, {0, 103}},
    {"xterm_AltF10", "\033[21;3~"sv, {0, 113}},
    {"xterm_ShiftF11", "\033[23;2~"sv, {0, 135}},
    {"xterm_CtrlF12", "\033[24;5~"sv, {0, 138}},
    {"xterm_AltF12", "\033[24;3~"sv, {0, 140}},
    {"xterm_CtrlDelete", "\033[3;5~"sv, {0, 147}},
    {"xterm_AltInsert", "\033[2;3~"sv, {0, 162}},
    {"xterm_CtrlPageUp", "\033[5;5~"sv, {0, 132}},
    {"xterm_CtrlPageDown", "\033[6;5~"sv, {0, 118}},
    {"xterm_ShiftTab", "\033[Z"sv, {0, 15}},
    {"xterm_AltShiftTab", "\033\033[Z"sv, {0, 165}},
    {"xterm_KeypadStar", "\033Oj"sv, {42}},
    {"xterm_KeypadPlus", "\033Ok"sv, {43}},
    {"xterm_KeypadMinus", "\033Om"sv, {45}},
    {"xterm_KeypadPeriod", "\033On"sv, {46}},
    {"xterm_KeypadSlash", "\033Oo"sv, {47}},
    {"xterm_Keypad0", "\033Op"sv, {'0'}},
    {"xterm_Keypad9", "\033Oy"sv, {'9'}},
    {"xterm_KeypadEnter", "\033OM"sv, {13}},
    {"xterm_KeypadComma", "\033Ol"sv, {','}},
    {"xterm_KeypadEquals", "\033OX"sv, {'='}},
    {"xterm_CtrlKeypadStar", "\033O5j"sv, {0, 150}},
    {"xterm_ShiftKeypad7IsHome", "\033O2w"sv, {0, 71}},
    {"xterm_CtrlKeypad1IsCtrlEnd", "\033O5q"sv, {0, 117}},
    {"xterm_AltKeypad3IsItsDigit", "\033O3s"sv, {'3'}},
    {"xterm_CtrlKeypadEnterIs10", "\033O5M"sv, {10}},
    {"xterm_KeypadBegin", "\033[E"sv, {0, 76}},
    {"xterm_CtrlKeypadBegin", "\033[1;5E"sv, {0, 143}},
    {"oldxterm_CtrlUpBySs3Digit", "\033O5A"sv, {0, 141}},
    {"konsole_ShiftF1BySs3Digit", "\033O2P"sv, {0, 84}},
    {"xterm_CtrlTabByModifyOtherKeys", "\033[27;5;9~"sv, {0, 148}},
    {"xterm_AltTabByModifyOtherKeys", "\033[27;3;9~"sv, {0, 165}},
    {"xterm_CtrlEnterByModifyOtherKeys", "\033[27;5;13~"sv, {10}},
    {"xterm_ShiftEnterByModifyOtherKeys", "\033[27;2;13~"sv, {13}},
    {"xterm_CtrlBackspaceByModifyOtherKeys", "\033[27;5;127~"sv, {127}},
    {"xterm_CtrlBackspaceAs8ByModifyOtherKeys", "\033[27;5;8~"sv, {127}},
    {"xterm_CtrlEscByModifyOtherKeys", "\033[27;5;27~"sv, {27}},
    {"xterm_Ctrl1IsItsCharacter", "\033[27;5;49~"sv, {'1'}},
    {"xterm_Ctrl2IsZeroThen3", "\033[27;5;50~"sv, {0, 3}},
    {"xterm_CtrlSemicolonIsItsCharacter", "\033[27;5;59~"sv, {';'}},
    {"xterm_CtrlShiftAIs1", "\033[27;6;65~"sv, {1}},
    {"xterm_AltShiftExclamationIsAlt1", "\033[27;4;33~"sv, {0, 120}},
    {"xterm_CtrlEAcuteIsItsCharacter", "\033[27;5;233~"sv, {233}},
    {"xterm_CtrlEuroIsQuestionMark", "\033[27;5;8364~"sv, {'?'}},
    {"csiu_CtrlTab", "\033[9;5u"sv, {0, 148}},
    {"csiu_CtrlEnter", "\033[13;5u"sv, {10}},
    {"csiu_AltShift1", "\033[33;4u"sv, {0, 120}},
    {"csiu_ShiftLowerCaseAIsUpperCase", "\033[97;2u"sv, {'A'}},
    {"csiu_WithoutModifiers", "\033[97u"sv, {'a'}},
    {"csiu_KittyEventSubParameterIgnored", "\033[97;5:1u"sv, {1}},
    {"kitty_CtrlUpWithEventType", "\033[1;5:1A"sv, {0, 141}},
    // tmux.
    {"tmux_Home", "\033[1~"sv, {0, 71}},
    {"tmux_End", "\033[4~"sv, {0, 79}},
    {"tmux_CtrlHome", "\033[1;5~"sv, {0, 119}},
    {"tmux_CtrlRight", "\033[1;5C"sv, {0, 116}},
    {"tmux_ExtendedCtrlTab", "\033[27;5;9~"sv, {0, 148}},
    // Linux console.
    {"linux_F1", "\033[[A"sv, {0, 59}},
    {"linux_F2", "\033[[B"sv, {0, 60}},
    {"linux_F3", "\033[[C"sv, {0, 61}},
    {"linux_F4", "\033[[D"sv, {0, 62}},
    {"linux_F5", "\033[[E"sv, {0, 63}},
    {"linux_Home", "\033[1~"sv, {0, 71}},
    {"linux_End", "\033[4~"sv, {0, 79}},
    {"linux_ShiftF1", "\033[25~"sv, {0, 84}},
    {"linux_ShiftF2", "\033[26~"sv, {0, 85}},
    {"linux_ShiftF3", "\033[28~"sv, {0, 86}},
    {"linux_ShiftF4", "\033[29~"sv, {0, 87}},
    {"linux_ShiftF5", "\033[31~"sv, {0, 88}},
    {"linux_ShiftF6", "\033[32~"sv, {0, 89}},
    {"linux_ShiftF7", "\033[33~"sv, {0, 90}},
    {"linux_ShiftF8", "\033[34~"sv, {0, 91}},
    {"linux_KeypadBegin", "\033[G"sv, {0, 76}},
    {"linux_AltX", "\033x"sv, {0, 45}},
    // rxvt.
    {"rxvt_Home", "\033[7~"sv, {0, 71}},
    {"rxvt_End", "\033[8~"sv, {0, 79}},
    {"rxvt_F1", "\033[11~"sv, {0, 59}},
    {"rxvt_F4", "\033[14~"sv, {0, 62}},
    {"rxvt_ShiftUp", "\033[a"sv, {0, 72}},
    {"rxvt_ShiftLeft", "\033[d"sv, {0, 75}},
    {"rxvt_CtrlUp", "\033Oa"sv, {0, 141}},
    {"rxvt_CtrlDown", "\033Ob"sv, {0, 145}},
    {"rxvt_CtrlRight", "\033Oc"sv, {0, 116}},
    {"rxvt_CtrlLeft", "\033Od"sv, {0, 115}},
    {"rxvt_AltUp", "\033\033[A"sv, {0, 152}},
    {"rxvt_AltCtrlUp", "\033\033Oa"sv, {0, 152}},
    {"rxvt_ShiftInsert", "\033[2$"sv, {0, 82}},
    {"rxvt_CtrlInsert", "\033[2^"sv, {0, 146}},
    {"rxvt_CtrlShiftDeleteIsCtrlDelete", "\033[3@"sv, {0, 147}},
    {"rxvt_CtrlHome", "\033[7^"sv, {0, 119}},
    {"rxvt_ShiftEnd", "\033[8$"sv, {0, 79}},
    {"rxvt_CtrlPageDown", "\033[6^"sv, {0, 118}},
    {"rxvt_CtrlF1", "\033[11^"sv, {0, 94}},
    {"rxvt_CtrlF10", "\033[21^"sv, {0, 103}},
    {"rxvt_ShiftF11", "\033[23$"sv, {0, 135}},
    {"rxvt_CtrlF12", "\033[24^"sv, {0, 138}},
    {"rxvt_CtrlShiftF11IsCtrlF11", "\033[23@"sv, {0, 137}},
    {"rxvt_AltF2", "\033\033[12~"sv, {0, 105}},
    // Ambiguous bytes: the likelier key.
    {"Csi23TildeIsF11NotRxvtShiftF1", "\033[23~"sv, {0, 133}},
    {"Csi24TildeIsF12NotRxvtShiftF2", "\033[24~"sv, {0, 134}},
    {"Csi25TildeIsLinuxShiftF1NotRxvtShiftF3", "\033[25~"sv, {0, 84}},
    {"Byte08IsCtrlBackspaceNotCtrlH", "\x08"sv, {127}},
    // Several keys in one read.
    {"TwoArrowsInOneRead", "\033[A\033[B"sv, {0, 72, 0, 80}},
    {"TextAroundASequence", "ab\033[1;5Ccd"sv, {'a', 'b', 0, 116, 'c', 'd'}},
    {"SequenceThenLoneEsc", "\033OP\033"sv, {0, 59, 27}, true},
    // Unknown and malformed sequences are swallowed whole.
    {"UnknownNumberSwallowed", "\033[99~x"sv, {'x'}},
    {"UnknownFinalSwallowed", "\033[1;5Jx"sv, {'x'}},
    {"UnknownSs3Swallowed", "\033Ozx"sv, {'x'}},
    {"UnknownLinuxSwallowed", "\033[[Zx"sv, {'x'}},
    {"DeviceAttributesReplySwallowed", "\033[?1;2cx"sv, {'x'}},
    {"SgrMouseReportSwallowed", "\033[<0;10;20Mx"sv, {'x'}},
    {"CursorReportSwallowed", "\033[12;40Rx"sv, {'x'}},
    {"TooManyParametersSwallowed", "\033[1;5;7;8Ax"sv, {'x'}},
    {"IntermediateByteSwallowed", "\033[1 qx"sv, {'x'}},
    {"BracketedPasteMarkerSwallowed", "\033[200~x"sv, {'x'}},
    {"RxvtFinalWithModifierParameterSwallowed", "\033[2;5$x"sv, {'x'}},
    {"RxvtFinalWithoutNumberSwallowed", "\033[$x"sv, {'x'}},
    {"CsiUWithoutCodeSwallowed", "\033[ux"sv, {'x'}},
    {"ModifyOtherKeysWithoutCodeSwallowed", "\033[27;5~x"sv, {'x'}},
    {"Ss3WithTooManyParametersSwallowed", "\033O1;2;3Ax"sv, {'x'}},
    {"Ss3WithBadFirstParameterSwallowed", "\033O2;5Ax"sv, {'x'}},
    {"HugeParameterSwallowed", "\033[99999999999999999999~x"sv, {'x'}},
    {"HugeModifierStillAKey", "\033[1;99999999999999999999A"sv, {0, 152}},
    {"EnterInsideASequenceEndsIt", "\033[1;5\r"sv, {13}},
    {"EscInsideASequenceStartsAnother", "\033[1;5\033[B"sv, {0, 80}},
    {"UnfinishedSequenceDroppedAfterTheWait", "\033[1;5"sv, {}, true},
    {"UnfinishedSs3DroppedAfterTheWait", "\033O5"sv, {}, true},
    {"UnfinishedLinuxDroppedAfterTheWait", "\033[["sv, {}, true},
    {"NonAsciiInsideASequenceEndsIt", "\033[1\xc3\xa9"sv, {233}},
    // UTF-8.
    {"Utf8EAcuteIs233", "\xc3\xa9"sv, {233}},
    {"Utf8NTildeIs241", "\xc3\xb1"sv, {241}},
    {"Utf8YDiaeresisIs255", "\xc3\xbf"sv, {255}},
    {"Utf8NoBreakSpaceIs160", "\xc2\xa0"sv, {160}},
    {"Utf8AboveLatin1IsQuestionMark", "\xc4\x80"sv, {'?'}},
    {"Utf8EuroIsQuestionMark", "\xe2\x82\xac"sv, {'?'}},
    {"Utf8EmojiIsQuestionMark", "\xf0\x9f\x98\x80"sv, {'?'}},
    {"Utf8TextKeepsItsOrder", "a\xc3\xa9z"sv, {'a', 233, 'z'}},
    {"Utf8LoneContinuationIsQuestionMark", "\x80"sv, {'?'}},
    {"Utf8OverlongTwoBytesIsInvalid", "\xc0\xaf"sv, {'?', '?'}},
    {"Utf8OverlongThreeBytesIsInvalid", "\xe0\x80\xaf"sv, {'?', '?', '?'}},
    {"Utf8OverlongFourBytesIsInvalid", "\xf0\x80\x80\xaf"sv, {'?', '?', '?', '?'}},
    {"Utf8SurrogateIsInvalid", "\xed\xa0\x80"sv, {'?', '?', '?'}},
    {"Utf8AboveMaximumIsInvalid", "\xf4\x90\x80\x80"sv, {'?', '?', '?', '?'}},
    {"Utf8NeverALeadByte", "\xff"sv, {'?'}},
    {"Utf8CutShortThenAscii", "\xc3z"sv, {'?', 'z'}},
    {"Utf8CutShortThenSequence", "\xe2\x82\033[A"sv, {'?', 0, 72}},
    {"Utf8UnfinishedIsQuestionMarkAfterTheWait", "\xe2\x82"sv, {'?'}, true},
    {"Latin1ByteIsItsCharacterWithoutUtf8", "\xe9"sv, {233}, false, 0x7F, false},
    {"Utf8BytesAreTwoCharactersWithoutUtf8", "\xc3\xa9"sv, {195, 169}, false, 0x7F, false},
    {"AltLatin1WithoutUtf8", "\033\xe9"sv, {233}, false, 0x7F, false},
};

class DecodeTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, GivesTheCodesOfTheKeyPressed) {
  const DecodeCase& c = GetParam();
  expectDecodes(c.bytes, c.codes, c.expires, c.erase, c.utf8);
}

INSTANTIATE_TEST_SUITE_P(Terminals, DecodeTest, testing::ValuesIn(kDecodeCases),
                         caseName<DecodeCase>);

// ---------------------------------------------------------------------------
// Every row of the key table, with every modifier, as some terminal sends it.

// xterm's modifier parameter m: 1 + Shift 1 + Alt 2 + Ctrl 4 + Meta 8 (Meta is Alt).
unsigned modifiersOfParameter(int m) {
  const int bits = m - 1;
  unsigned modifiers = 0;
  if ((bits & 1) != 0) modifiers |= kShift;
  if ((bits & 10) != 0) modifiers |= kAlt;
  if ((bits & 4) != 0) modifiers |= kCtrl;
  return modifiers;
}

std::string withParameter(std::string_view form, int m) {
  std::string out(form);
  const std::size_t at = out.find("{m}");
  if (at != std::string::npos) out.replace(at, 3, std::to_string(m));
  return out;
}

// A sequence naming a key; "{m}" stands for the modifier parameter, and a
// form without it is sent for the key with `modifiers` held.
struct KeyForm {
  Key key;
  const char* bytes;
  unsigned modifiers = 0;
  int character = 0;
};

const KeyForm kSequenceForms[] = {
    // Arrows, Home, End: xterm normal and application mode, old xterm, rxvt.
    {Key::Up, "\033[A"},
    {Key::Up, "\033[1;{m}A"},
    {Key::Up, "\033OA"},
    {Key::Up, "\033O{m}A"},
    {Key::Up, "\033[a", kShift},
    {Key::Up, "\033Oa", kCtrl},
    {Key::Down, "\033[B"},
    {Key::Down, "\033[1;{m}B"},
    {Key::Down, "\033OB"},
    {Key::Down, "\033O{m}B"},
    {Key::Down, "\033[b", kShift},
    {Key::Down, "\033Ob", kCtrl},
    {Key::Right, "\033[C"},
    {Key::Right, "\033[1;{m}C"},
    {Key::Right, "\033OC"},
    {Key::Right, "\033O{m}C"},
    {Key::Right, "\033[c", kShift},
    {Key::Right, "\033Oc", kCtrl},
    {Key::Left, "\033[D"},
    {Key::Left, "\033[1;{m}D"},
    {Key::Left, "\033OD"},
    {Key::Left, "\033O{m}D"},
    {Key::Left, "\033[d", kShift},
    {Key::Left, "\033Od", kCtrl},
    {Key::Home, "\033[H"},
    {Key::Home, "\033[1;{m}H"},
    {Key::Home, "\033OH"},
    {Key::Home, "\033[1~"},
    {Key::Home, "\033[1;{m}~"},
    {Key::Home, "\033[7~"},
    {Key::Home, "\033[7;{m}~"},
    {Key::Home, "\033[7$", kShift},
    {Key::Home, "\033[7^", kCtrl},
    {Key::Home, "\033[7@", kCtrl | kShift},
    {Key::End, "\033[F"},
    {Key::End, "\033[1;{m}F"},
    {Key::End, "\033OF"},
    {Key::End, "\033[4~"},
    {Key::End, "\033[4;{m}~"},
    {Key::End, "\033[8~"},
    {Key::End, "\033[8$", kShift},
    {Key::End, "\033[8^", kCtrl},
    {Key::End, "\033[8@", kCtrl | kShift},
    // Editing keys.
    {Key::Insert, "\033[2~"},
    {Key::Insert, "\033[2;{m}~"},
    {Key::Insert, "\033[2$", kShift},
    {Key::Insert, "\033[2^", kCtrl},
    {Key::Insert, "\033[2@", kCtrl | kShift},
    {Key::Delete, "\033[3~"},
    {Key::Delete, "\033[3;{m}~"},
    {Key::Delete, "\033[3$", kShift},
    {Key::Delete, "\033[3^", kCtrl},
    {Key::PageUp, "\033[5~"},
    {Key::PageUp, "\033[5;{m}~"},
    {Key::PageUp, "\033[5$", kShift},
    {Key::PageUp, "\033[5^", kCtrl},
    {Key::PageDown, "\033[6~"},
    {Key::PageDown, "\033[6;{m}~"},
    {Key::PageDown, "\033[6$", kShift},
    {Key::PageDown, "\033[6^", kCtrl},
    // F-keys: xterm, VT220 / rxvt, Linux console.
    {Key::F1, "\033OP"},
    {Key::F1, "\033[1;{m}P"},
    {Key::F1, "\033O{m}P"},
    {Key::F1, "\033[11~"},
    {Key::F1, "\033[11;{m}~"},
    {Key::F1, "\033[11^", kCtrl},
    {Key::F1, "\033[[A"},
    {Key::F1, "\033[25~", kShift},
    {Key::F2, "\033OQ"},
    {Key::F2, "\033[1;{m}Q"},
    {Key::F2, "\033[12~"},
    {Key::F2, "\033[12^", kCtrl},
    {Key::F2, "\033[[B"},
    {Key::F2, "\033[26~", kShift},
    {Key::F3, "\033OR"},
    {Key::F3, "\033[1;{m}R"},
    {Key::F3, "\033[13~"},
    {Key::F3, "\033[[C"},
    {Key::F3, "\033[28~", kShift},
    {Key::F4, "\033OS"},
    {Key::F4, "\033[1;{m}S"},
    {Key::F4, "\033[14~"},
    {Key::F4, "\033[[D"},
    {Key::F4, "\033[29~", kShift},
    {Key::F5, "\033[15~"},
    {Key::F5, "\033[15;{m}~"},
    {Key::F5, "\033[15^", kCtrl},
    {Key::F5, "\033[[E"},
    {Key::F5, "\033[31~", kShift},
    {Key::F6, "\033[17~"},
    {Key::F6, "\033[17;{m}~"},
    {Key::F6, "\033[32~", kShift},
    {Key::F7, "\033[18~"},
    {Key::F7, "\033[18;{m}~"},
    {Key::F7, "\033[33~", kShift},
    {Key::F8, "\033[19~"},
    {Key::F8, "\033[19;{m}~"},
    {Key::F8, "\033[34~", kShift},
    {Key::F9, "\033[20~"},
    {Key::F9, "\033[20;{m}~"},
    {Key::F9, "\033[20^", kCtrl},
    {Key::F10, "\033[21~"},
    {Key::F10, "\033[21;{m}~"},
    {Key::F10, "\033[21^", kCtrl},
    {Key::F11, "\033[23~"},
    {Key::F11, "\033[23;{m}~"},
    {Key::F11, "\033[23$", kShift},
    {Key::F11, "\033[23^", kCtrl},
    {Key::F12, "\033[24~"},
    {Key::F12, "\033[24;{m}~"},
    {Key::F12, "\033[24$", kShift},
    {Key::F12, "\033[24^", kCtrl},
    // The keypad in application mode.
    {Key::KeypadMultiply, "\033Oj", 0, '*'},
    {Key::KeypadMultiply, "\033O{m}j", 0, '*'},
    {Key::KeypadPlus, "\033Ok", 0, '+'},
    {Key::KeypadPlus, "\033O{m}k", 0, '+'},
    {Key::KeypadMinus, "\033Om", 0, '-'},
    {Key::KeypadMinus, "\033O{m}m", 0, '-'},
    {Key::KeypadPeriod, "\033On", 0, '.'},
    {Key::KeypadPeriod, "\033O{m}n", 0, '.'},
    {Key::KeypadSlash, "\033Oo", 0, '/'},
    {Key::KeypadSlash, "\033O{m}o", 0, '/'},
    {Key::Keypad0, "\033Op", 0, '0'},
    {Key::Keypad0, "\033O{m}p", 0, '0'},
    {Key::Keypad1, "\033Oq", 0, '1'},
    {Key::Keypad1, "\033O{m}q", 0, '1'},
    {Key::Keypad2, "\033Or", 0, '2'},
    {Key::Keypad2, "\033O{m}r", 0, '2'},
    {Key::Keypad3, "\033Os", 0, '3'},
    {Key::Keypad3, "\033O{m}s", 0, '3'},
    {Key::Keypad4, "\033Ot", 0, '4'},
    {Key::Keypad4, "\033O{m}t", 0, '4'},
    {Key::Keypad5, "\033Ou", 0, '5'},
    {Key::Keypad5, "\033O{m}u", 0, '5'},
    {Key::Keypad6, "\033Ov", 0, '6'},
    {Key::Keypad6, "\033O{m}v", 0, '6'},
    {Key::Keypad7, "\033Ow", 0, '7'},
    {Key::Keypad7, "\033O{m}w", 0, '7'},
    {Key::Keypad8, "\033Ox", 0, '8'},
    {Key::Keypad8, "\033O{m}x", 0, '8'},
    {Key::Keypad9, "\033Oy", 0, '9'},
    {Key::Keypad9, "\033O{m}y", 0, '9'},
    {Key::Enter, "\033OM", 0, 13},
    {Key::Enter, "\033O{m}M", 0, 13},
    // Tab.
    {Key::Tab, "\033[Z", kShift},
};

// Keys that send a character: the plain byte, and with modifiers xterm's
// modifyOtherKeys and CSI u forms (the key named by its unshifted character).
struct CharacterKey {
  Key key;
  int character;
};

std::vector<CharacterKey> characterKeys() {
  std::vector<CharacterKey> keys = {
      {Key::Backspace, 0x7F},  {Key::Tab, '\t'},         {Key::Enter, '\r'},    {Key::Space, ' '},
      {Key::Backslash, '\\'},  {Key::Slash, '/'},        {Key::Minus, '-'},     {Key::Equals, '='},
      {Key::LeftBracket, '['}, {Key::RightBracket, ']'}, {Key::Semicolon, ';'}, {Key::Quote, '\''},
      {Key::Comma, ','},       {Key::Period, '.'},       {Key::Grave, '`'},
  };
  for (int d = 0; d <= 9; ++d) {
    keys.push_back({static_cast<Key>(static_cast<int>(Key::Digit0) + d), '0' + d});
  }
  for (int i = 0; i < 26; ++i) {
    keys.push_back({static_cast<Key>(static_cast<int>(Key::A) + i), 'a' + i});
  }
  return keys;
}

TEST(EveryTableRow, FromSomeTerminalWithEveryModifier) {
  std::vector<bool> covered(90, false);
  auto check = [&covered](Key key, const std::string& bytes, unsigned modifiers, int character) {
    SCOPED_TRACE("key " + std::to_string(static_cast<int>(key)) + ", modifiers " +
                 std::to_string(modifiers));
    expectDecodes(bytes, expectedCodes(key, modifiers, character));
    // ESC before a key adds Alt (ESC [ is Alt+[ only after the wait).
    expectDecodes("\033" + bytes, expectedCodes(key, modifiers | kAlt, character), bytes == "[");
    covered[static_cast<std::size_t>(key)] = true;
  };
  for (const KeyForm& form : kSequenceForms) {
    if (std::string_view(form.bytes).find("{m}") == std::string_view::npos) {
      check(form.key, form.bytes, form.modifiers, form.character);
      continue;
    }
    for (int m = 2; m <= 16; ++m) {
      check(form.key, withParameter(form.bytes, m), modifiersOfParameter(m), form.character);
    }
  }
  for (const CharacterKey& k : characterKeys()) {
    check(k.key, std::string(1, static_cast<char>(k.character)), 0, k.character);
    for (int m = 1; m <= 16; ++m) {
      const unsigned modifiers = modifiersOfParameter(m);
      const std::string c = std::to_string(k.character);
      check(k.key, "\033[27;" + std::to_string(m) + ";" + c + "~", modifiers, k.character);
      check(k.key, "\033[" + c + ";" + std::to_string(m) + "u", modifiers, k.character);
    }
  }
  // Esc: alone only after the wait; with modifiers by modifyOtherKeys.
  expectDecodes("\033"sv, {27}, true);
  for (int m = 2; m <= 16; ++m) {
    expectDecodes("\033[27;" + std::to_string(m) + ";27~",
                  expectedCodes(Key::Esc, modifiersOfParameter(m), 27));
  }
  covered[static_cast<std::size_t>(Key::Esc)] = true;
  for (std::size_t key = 1; key < covered.size(); ++key) {
    EXPECT_TRUE(covered[key]) << "no terminal form tested for key " << key;
  }
}

TEST(EveryTableRow, PrintableCharactersGiveTheirCodes) {
  for (int c = 0x20; c < 0x7F; ++c) {
    expectDecodes(std::string(1, static_cast<char>(c)), {c});
  }
}

// ESC before a printable character: Alt with the main-block key that gives it.
TEST(EveryTableRow, EscBeforeAPrintableCharacterIsAltWithItsKey) {
  for (int c = 0x20; c < 0x7F; ++c) {
    SCOPED_TRACE("character " + std::to_string(c));
    std::optional<Key> key;
    if (c >= 'a' && c <= 'z') key = static_cast<Key>(static_cast<int>(Key::A) + c - 'a');
    if (c >= 'A' && c <= 'Z') key = static_cast<Key>(static_cast<int>(Key::A) + c - 'A');
    for (const ExpectedRow& row : kExpectedRows) {
      const bool keypad = row.key >= Key::KeypadMultiply && row.key <= Key::KeypadSlash;
      if (key || keypad || row.key >= Key::Keypad0) continue;
      if (codesOf(row.plain, 0) == std::vector<int>{c} ||
          codesOf(row.shift, 0) == std::vector<int>{c}) {
        key = row.key;
      }
    }
    ASSERT_TRUE(key.has_value());
    // ESC [ and ESC O begin sequences: Alt+[ and Alt+O come only after the wait.
    expectDecodes("\033" + std::string(1, static_cast<char>(c)), expectedCodes(*key, kAlt, c),
                  c == '[' || c == 'O');
  }
}

TEST(EveryTableRow, ControlBytesAreCtrlKeys) {
  for (int b = 0; b < 0x20; ++b) {
    if (b == 0x1B) continue;
    SCOPED_TRACE("byte " + std::to_string(b));
    std::vector<int> codes = {b};
    if (b == 0x00) codes = {0, 3};  // Ctrl+Space
    if (b == 0x08) codes = {127};   // Ctrl+Backspace
    expectDecodes(std::string(1, static_cast<char>(b)), codes);
  }
  expectDecodes("\x7f"sv, {8});
}

// ---------------------------------------------------------------------------
// Lone ESC against sequences: the wait.

TEST(EscWait, LoneEscWaitsBrieflyThenIsEsc) {
  KeyDecoder decoder;
  EXPECT_FALSE(decoder.waiting());
  decoder.feed(0x1B);
  KeyPress press;
  EXPECT_FALSE(decoder.take(press)) << "ESC may begin a sequence: no key yet";
  EXPECT_TRUE(decoder.waiting());
  EXPECT_GE(decoder.timeoutMs(), 25);
  EXPECT_LE(decoder.timeoutMs(), 50);
  decoder.expire();
  EXPECT_FALSE(decoder.waiting());
  ASSERT_TRUE(decoder.take(press));
  EXPECT_EQ(keyCodes(press), KeyCodes({27, -1}));
  EXPECT_FALSE(decoder.take(press));
}

TEST(EscWait, BegunSequenceWaitsLonger) {
  for (std::string_view begun : {"\033["sv, "\033O"sv, "\033[1;"sv, "\033[["sv, "\xe2\x82"sv}) {
    SCOPED_TRACE(printable(begun));
    KeyDecoder decoder;
    decoder.feed(0x1B);
    const int escWait = decoder.timeoutMs();
    KeyDecoder begunDecoder;
    for (char b : begun)
      begunDecoder.feed(static_cast<unsigned char>(b));
    EXPECT_TRUE(begunDecoder.waiting());
    EXPECT_GT(begunDecoder.timeoutMs(), escWait);
    EXPECT_GE(begunDecoder.timeoutMs(), 100);
    EXPECT_LE(begunDecoder.timeoutMs(), 200);
  }
}

TEST(EscWait, NotWaitingBetweenKeys) {
  KeyDecoder decoder;
  EXPECT_EQ(decoder.timeoutMs(), -1);
  for (char b : "\033[A"sv)
    decoder.feed(static_cast<unsigned char>(b));
  EXPECT_FALSE(decoder.waiting());
  EXPECT_EQ(decoder.timeoutMs(), -1);
  decoder.expire();  // nothing pending: nothing happens
  std::vector<int> codes;
  takeCodes(decoder, codes);
  EXPECT_EQ(codes, (std::vector<int>{0, 72}));
}

TEST(EscWait, EscThenBracketAfterTheWaitAreTwoKeys) {
  KeyDecoder decoder;
  decoder.feed(0x1B);
  decoder.expire();
  decoder.feed('[');
  decoder.feed('A');
  std::vector<int> codes;
  takeCodes(decoder, codes);
  EXPECT_EQ(codes, (std::vector<int>{27, '[', 'A'}));
}

TEST(EscWait, SequenceCutByTheWaitLeavesNothingBehind) {
  KeyDecoder decoder;
  for (char b : "\033[1;5"sv)
    decoder.feed(static_cast<unsigned char>(b));
  decoder.expire();
  decoder.feed('x');
  std::vector<int> codes;
  takeCodes(decoder, codes);
  EXPECT_EQ(codes, (std::vector<int>{'x'}));
}

// ---------------------------------------------------------------------------
// Bounds: whatever the bytes, no crash, no growth, no press out of range.

static_assert(std::is_trivially_copyable_v<KeyDecoder>,
              "the decoder holds no heap memory: its size is all it uses");

void expectValid(const KeyPress& press) {
  EXPECT_LE(static_cast<int>(press.key), static_cast<int>(Key::Keypad9));
  EXPECT_EQ(press.modifiers & ~(kShift | kAlt | kCtrl), 0u);
  EXPECT_GE(press.character, 0);
  EXPECT_LE(press.character, 255);
  if (const std::optional<KeyCodes> c = keyCodes(press)) {
    EXPECT_GE(c->code, 0);
    EXPECT_LE(c->code, 255);
    if (c->extended != -1) {
      EXPECT_EQ(c->code, 0);
      EXPECT_GE(c->extended, 1);
      EXPECT_LE(c->extended, 255);
    }
  }
}

// Each length of UTF-8, out and back through the decoder whole.
TEST(Utf8, EveryCharacterGoesOutAndComesBackTheSame) {
  struct Caso {
    std::uint32_t character;
    std::string_view bytes;
  };
  const Caso casos[] = {
      {'A', "A"},
      {0xE9, "\xC3\xA9"},
      {0xFF, "\xC3\xBF"},
      {0x7FF, "\xDF\xBF"},
      {0x20AC, "\xE2\x82\xAC"},
      {0xFFFD, "\xEF\xBF\xBD"},
      {0x10000, "\xF0\x90\x80\x80"},
      {0x10FFFF, "\xF4\x8F\xBF\xBF"},
  };
  for (const Caso& caso : casos) {
    char bytes[4];
    EXPECT_EQ(std::string_view(bytes, encodeUtf8(caso.character, bytes)), caso.bytes)
        << caso.character;
    if (caso.bytes.size() == 1) continue;
    Utf8Decoder decoder;
    ASSERT_TRUE(decoder.begin(static_cast<unsigned char>(caso.bytes[0]))) << caso.character;
    Utf8Decoder::Step paso = Utf8Decoder::Step::more;
    for (std::size_t i = 1; i < caso.bytes.size(); ++i)
      paso = decoder.next(static_cast<unsigned char>(caso.bytes[i]));
    EXPECT_EQ(paso, Utf8Decoder::Step::done) << caso.character;
    EXPECT_EQ(decoder.codePoint(), caso.character);
  }
}

TEST(Bounds, QueueKeepsTheOldestWhenNobodyTakes) {
  KeyDecoder decoder;
  for (int i = 0; i < 100000; ++i)
    decoder.feed(static_cast<unsigned char>('a' + i % 26));
  std::vector<int> codes;
  takeCodes(decoder, codes);
  ASSERT_EQ(codes.size(), KeyDecoder::kQueueCapacity);
  for (std::size_t i = 0; i < codes.size(); ++i)
    EXPECT_EQ(codes[i], static_cast<int>('a' + i));
  decoder.feed('z');
  codes.clear();
  takeCodes(decoder, codes);
  EXPECT_EQ(codes, (std::vector<int>{'z'})) << "room again once taken";
}

TEST(Bounds, EndlessParametersAreSwallowedInFixedSpace) {
  KeyDecoder decoder;
  decoder.feed(0x1B);
  decoder.feed('[');
  for (int i = 0; i < 1000000; ++i)
    decoder.feed(i % 3 == 2 ? ';' : '9');
  EXPECT_TRUE(decoder.waiting());
  decoder.feed('A');
  EXPECT_FALSE(decoder.waiting());
  decoder.feed('x');
  std::vector<int> codes;
  takeCodes(decoder, codes);
  EXPECT_EQ(codes, (std::vector<int>{'x'}));
}

TEST(Bounds, RandomBytesNeverBreakTheDecoder) {
  std::mt19937 random(20240611);
  // Mostly bytes that build sequences, so that random strings reach deep.
  const std::string_view likely =
      "\033\033[[O;;:0123456789~$^@ABCDEFHPQRSZuabcdjkpyM?<"
      "\x7f\x08\r\n\t\0\xc3\xa9\xe2\x82\xac\xf0\x9f\xf4\x90\xed\xa0\x80\xbf"sv;
  for (int round = 0; round < 20000; ++round) {
    const unsigned char erase = round % 2 == 0 ? 0x7F : 0x08;
    const bool utf8 = round % 3 != 0;
    KeyDecoder decoder(erase, utf8);
    const int length = static_cast<int>(random() % 48);
    std::size_t fed = 0, expired = 0, taken = 0;
    for (int i = 0; i < length; ++i) {
      const unsigned choice = random() % 16;
      if (choice < 9) {
        decoder.feed(static_cast<unsigned char>(likely[random() % likely.size()]));
        ++fed;
      } else if (choice < 15) {
        decoder.feed(static_cast<unsigned char>(random() % 256));
        ++fed;
      } else {
        if (decoder.waiting()) ++expired;
        decoder.expire();
      }
      if (decoder.waiting()) {
        const int wait = decoder.timeoutMs();
        EXPECT_TRUE(wait == KeyDecoder::kEscTimeoutMs || wait == KeyDecoder::kSequenceTimeoutMs);
      }
      if (random() % 4 == 0) {
        KeyPress press;
        while (decoder.take(press)) {
          expectValid(press);
          ++taken;
        }
      }
    }
    if (decoder.waiting()) ++expired;
    decoder.expire();
    EXPECT_FALSE(decoder.waiting());
    KeyPress press;
    while (decoder.take(press)) {
      expectValid(press);
      ++taken;
    }
    EXPECT_LE(taken, fed + expired) << "never more keys than bytes and waits";
    // Whatever came before, the decoder is back between keys.
    decoder.feed('x');
    ASSERT_TRUE(decoder.take(press));
    EXPECT_EQ(press.character, 'x');
    EXPECT_FALSE(decoder.take(press));
    if (HasFailure()) {
      ADD_FAILURE() << "round " << round;
      return;
    }
  }
}

}  // namespace
}  // namespace console
