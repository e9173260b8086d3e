// UTF-8 and the program's single-byte text: a character up to U+00FF is the
// Latin-1 code of the same number; any other character, and every ill-formed
// sequence, is '?'. Pure and bounded; used by the key decoder and by the lines
// a terminal types.
#pragma once

#include <cstddef>
#include <cstdint>

namespace console {

// UTF-8 to single-byte text, one byte at a time.
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
  constexpr bool begin(unsigned char lead);
  // The next byte of the pending character.
  constexpr Step next(unsigned char byte);
  constexpr bool pending() const { return left_ > 0; }
  // The code of the character just completed.
  constexpr int character() const {
    return codePoint_ <= 0xFF ? static_cast<int>(codePoint_) : kUnknown;
  }
  // The character just completed, whatever its number.
  constexpr std::uint32_t codePoint() const { return codePoint_; }

 private:
  // Well-formed lead bytes (Unicode table 3-7): how many continuation bytes
  // follow and the range allowed for the first of them, which rules out
  // overlong forms, surrogates and code points beyond U+10FFFF.
  struct Lead {
    std::uint8_t first, last;
    std::uint8_t continuations;
    std::uint8_t low, high;
  };
  // clang-format off
  static constexpr Lead kLeads[] = {
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

  std::uint32_t codePoint_ = 0;
  std::uint8_t left_ = 0;             // continuation bytes still to come
  unsigned char low_ = 0, high_ = 0;  // allowed range of the next one
};

constexpr bool Utf8Decoder::begin(unsigned char lead) {
  for (const Lead& l : kLeads) {
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

constexpr Utf8Decoder::Step Utf8Decoder::next(unsigned char byte) {
  if (byte < low_ || byte > high_) {
    left_ = 0;
    return Step::broken;
  }
  codePoint_ = (codePoint_ << 6) | (byte & 0x3Fu);
  low_ = 0x80;
  high_ = 0xBF;
  return --left_ > 0 ? Step::more : Step::done;
}

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

}  // namespace console
