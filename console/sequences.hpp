// What the bytes and sequences a terminal sends stand for. Each lookup gives
// the press that a byte or a parsed sequence names, with the modifiers it
// implies itself; no value when it names no key.
#pragma once

#include <cstdint>
#include <optional>

#include "console/keys.hpp"

namespace console::sequences {

// A control byte other than Ctrl+letters (0x01-0x1A) and the erase pair.
std::optional<KeyPress> controlByte(unsigned char byte);
// `CSI x` and `CSI 1;m x` by final byte x.
std::optional<KeyPress> csiFinal(std::uint32_t final);
// `SS3 x` and `SS3 m x` by final byte x.
std::optional<KeyPress> ss3Final(std::uint32_t final);
// `CSI n ~` (and rxvt's `CSI n $ ^ @`) by the number n.
std::optional<KeyPress> csiNumber(std::uint32_t number);
// The Linux console's `CSI [ x`.
std::optional<KeyPress> linuxFinal(std::uint32_t final);
// A printable ASCII character: its key on the US layout.
KeyPress printable(unsigned char c);
// xterm's modifier parameter: m = 1 + (Shift 1 | Alt 2 | Ctrl 4 | Meta 8); 0 or 1: none.
unsigned modifiersOf(std::uint32_t m);

}  // namespace console::sequences
