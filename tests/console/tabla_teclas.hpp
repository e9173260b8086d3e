// The key table the program answers to, row by row, and what readKey must
// return for a press: written out independently of console/keys.cpp, so that
// a slip in one shows against the other.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "console/keys.hpp"

namespace console::tabla {

// The key table written out a second time, row by row: plain, Shift, Ctrl, Alt.
// "N" is the code N, "0+N" the extended code N, "char" the keyboard's character.

struct ExpectedRow {
  Key key;
  const char* plain;
  const char* shift;
  const char* ctrl;
  const char* alt;
};

// clang-format off
inline const ExpectedRow kExpectedRows[] = {
    {Key::Backspace, "8", "8", "127", "0+14"},
    {Key::Tab, "9", "0+15", "0+148", "0+165"},
    {Key::Enter, "13", "13", "10", "0+166"},
    {Key::Esc, "27", "27", "27", "0+1"},
    {Key::Space, "32", "32", "0+3", "32"},
    {Key::PageUp, "0+73", "0+73", "0+132", "0+153"},
    {Key::PageDown, "0+81", "0+81", "0+118", "0+161"},
    {Key::End, "0+79", "0+79", "0+117", "0+159"},
    {Key::Home, "0+71", "0+71", "0+119", "0+151"},
    {Key::Left, "0+75", "0+75", "0+115", "0+155"},
    {Key::Up, "0+72", "0+72", "0+141", "0+152"},
    {Key::Right, "0+77", "0+77", "0+116", "0+157"},
    {Key::Down, "0+80", "0+80", "0+145", "0+160"},
    {Key::Insert, "0+82", "0+82", "0+146", "0+162"},
    {Key::Delete, "0+83", "0+83", "0+147", "0+163"},
    {Key::F11, "0+133", "0+135", "0+137", "0+139"},
    {Key::F12, "0+134", "0+136", "0+138", "0+140"},
    {Key::KeypadMultiply, "42", "42", "0+150", "0+55"},
    {Key::KeypadPlus, "43", "43", "0+144", "0+78"},
    {Key::KeypadMinus, "45", "45", "0+142", "0+74"},
    {Key::KeypadPeriod, "46", "46", "0+83", "0+147"},
    {Key::KeypadSlash, "47", "47", "0+149", "0+164"},
    {Key::Backslash, "92", "124", "28", "0+43"},
    {Key::Slash, "47", "63", "char", "0+53"},
    {Key::Minus, "45", "95", "31", "0+130"},
    {Key::Equals, "61", "43", "char", "0+131"},
    {Key::LeftBracket, "91", "123", "27", "0+26"},
    {Key::RightBracket, "93", "125", "29", "0+27"},
    {Key::Semicolon, "59", "58", "char", "0+39"},
    {Key::Quote, "39", "34", "char", "0+40"},
    {Key::Comma, "44", "60", "char", "0+51"},
    {Key::Period, "46", "62", "char", "0+52"},
    {Key::Grave, "96", "126", "char", "0+41"},
    {Key::F1, "0+59", "0+84", "0+94", "0+104"},
    {Key::F2, "0+60", "0+85", "0+95", "0+105"},
    {Key::F3, "0+61", "0+86", "0+96", "0+106"},
    {Key::F4, "0+62", "0+87", "0+97", "0+107"},
    {Key::F5, "0+63", "0+88", "0+98", "0+108"},
    {Key::F6, "0+64", "0+89", "0+99", "0+109"},
    {Key::F7, "0+65", "0+90", "0+100", "0+110"},
    {Key::F8, "0+66", "0+91", "0+101", "0+111"},
    {Key::F9, "0+67", "0+92", "0+102", "0+112"},
    {Key::F10, "0+68", "0+93", "0+103", "0+113"},
    {Key::Digit0, "48", "41", "char", "0+129"},
    {Key::Digit1, "49", "33", "char", "0+120"},
    {Key::Digit2, "50", "64", "0+3", "0+121"},
    {Key::Digit3, "51", "35", "char", "0+122"},
    {Key::Digit4, "52", "36", "char", "0+123"},
    {Key::Digit5, "53", "37", "char", "0+124"},
    {Key::Digit6, "54", "94", "30", "0+125"},
    {Key::Digit7, "55", "38", "char", "0+126"},
    {Key::Digit8, "56", "42", "char", "0+127"},
    {Key::Digit9, "57", "40", "char", "0+128"},
    {Key::A, "char", "65", "1", "0+30"},
    {Key::B, "char", "66", "2", "0+48"},
    {Key::C, "char", "67", "3", "0+46"},
    {Key::D, "char", "68", "4", "0+32"},
    {Key::E, "char", "69", "5", "0+18"},
    {Key::F, "char", "70", "6", "0+33"},
    {Key::G, "char", "71", "7", "0+34"},
    {Key::H, "char", "72", "8", "0+35"},
    {Key::I, "char", "73", "9", "0+23"},
    {Key::J, "char", "74", "10", "0+36"},
    {Key::K, "char", "75", "11", "0+37"},
    {Key::L, "char", "76", "12", "0+38"},
    {Key::M, "char", "77", "13", "0+50"},
    {Key::N, "char", "78", "14", "0+49"},
    {Key::O, "char", "79", "15", "0+24"},
    {Key::P, "char", "80", "16", "0+25"},
    {Key::Q, "char", "81", "17", "0+16"},
    {Key::R, "char", "82", "18", "0+19"},
    {Key::S, "char", "83", "19", "0+31"},
    {Key::T, "char", "84", "20", "0+20"},
    {Key::U, "char", "85", "21", "0+22"},
    {Key::V, "char", "86", "22", "0+47"},
    {Key::W, "char", "87", "23", "0+17"},
    {Key::X, "char", "88", "24", "0+45"},
    {Key::Y, "char", "89", "25", "0+21"},
    {Key::Z, "char", "90", "26", "0+44"},
    {Key::Keypad0, "48", "0+82", "0+146", "char"},
    {Key::Keypad1, "49", "0+79", "0+117", "char"},
    {Key::Keypad2, "50", "0+80", "0+145", "char"},
    {Key::Keypad3, "51", "0+81", "0+118", "char"},
    {Key::Keypad4, "52", "0+75", "0+115", "char"},
    {Key::Keypad5, "53", "0+76", "0+143", "char"},
    {Key::Keypad6, "54", "0+77", "0+116", "char"},
    {Key::Keypad7, "55", "0+71", "0+119", "char"},
    {Key::Keypad8, "56", "0+72", "0+141", "char"},
    {Key::Keypad9, "57", "0+73", "0+132", "char"},
};
// clang-format on

inline const ExpectedRow& expectedRow(Key key) {
  for (const ExpectedRow& row : kExpectedRows) {
    if (row.key == key) return row;
  }
  ADD_FAILURE() << "no row for key " << static_cast<int>(key);
  return kExpectedRows[0];
}

inline bool isLetter(Key key) {
  return key >= Key::A && key <= Key::Z;
}

// The codes readKey returns for a result written as in kExpectedRows.
inline std::vector<int> codesOf(std::string_view result, int character) {
  if (result == "char") {
    if (character >= 1 && character <= 255) return {character};
    return {};
  }
  if (result.substr(0, 2) == "0+") return {0, std::stoi(std::string(result.substr(2)))};
  return {std::stoi(std::string(result))};
}

// What readKey must return for `key` with `modifiers` held,
// when the keyboard produced `character`: Alt, else Ctrl, else Shift, else
// for a letter its character, else plain.
inline std::vector<int> expectedCodes(Key key, unsigned modifiers, int character) {
  if (key == Key::None) return codesOf("char", character);
  const ExpectedRow& row = expectedRow(key);
  if ((modifiers & kAlt) != 0) return codesOf(row.alt, character);
  if ((modifiers & kCtrl) != 0) return codesOf(row.ctrl, character);
  if ((modifiers & kShift) != 0) return codesOf(row.shift, character);
  if (isLetter(key)) return {character};
  return codesOf(row.plain, character);
}

}  // namespace console::tabla
