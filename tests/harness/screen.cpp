#include "screen.hpp"

#include <vterm.h>

#include <algorithm>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace harness {

namespace {

void appendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

Colour colourOf(const VTermColor& c, bool isDefault) {
  if (isDefault) return Colour::terminalDefault();
  if (VTERM_COLOR_IS_INDEXED(&c)) return Colour::indexed(c.indexed.idx);
  return Colour::rgb(std::uint32_t{c.rgb.red} << 16 | std::uint32_t{c.rgb.green} << 8 | c.rgb.blue);
}

VTermScreenCell cellAt(VTermScreen* screen, int column, int row) {
  VTermScreenCell cell{};
  vterm_screen_get_cell(screen, VTermPos{row - 1, column - 1}, &cell);
  return cell;
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const Colour& colour) {
  switch (colour.kind) {
    case Colour::Kind::Default:
      return out << "default";
    case Colour::Kind::Indexed:
      return out << "indexed " << colour.value;
    case Colour::Kind::Rgb:
      break;
  }
  const auto flags = out.flags();
  out << "rgb #" << std::hex << colour.value;
  out.flags(flags);
  return out;
}

std::ostream& operator<<(std::ostream& out, const Position& position) {
  return out << "(" << position.column << ", " << position.row << ")";
}

Screen::Screen(int columns, int rows)
    : columns_(columns), rows_(rows), vt_(vterm_new(rows, columns)) {
  if (vt_ == nullptr) throw std::runtime_error("vterm_new failed");
  vterm_set_utf8(vt_, 1);
  screen_ = vterm_obtain_screen(vt_);
  // Also turns autowrap on, as a real terminal has it.
  vterm_screen_reset(screen_, 1);
  vterm_output_set_callback(
      vt_,
      [](const char* bytes, std::size_t length, void* self) {
        static_cast<Screen*>(self)->replies_.append(bytes, length);
      },
      this);
}

Screen::~Screen() {
  if (vt_ != nullptr) vterm_free(vt_);
}

void Screen::feed(std::string_view bytes) {
  vterm_input_write(vt_, bytes.data(), bytes.size());
}

std::string Screen::takeReplies() {
  return std::exchange(replies_, {});
}

void Screen::checkCell(int column, int row, int length) const {
  if (row < 1 || row > rows_ || column < 1 || length < 0 || column + length - 1 > columns_) {
    std::ostringstream message;
    message << "cells " << length << " from (" << column << ", " << row
            << ") are not all on a screen of " << columns_ << "x" << rows_;
    throw std::out_of_range(message.str());
  }
}

std::string Screen::text(int column, int row, int length) const {
  checkCell(column, row, std::max(length, 1));
  std::string out;
  for (int c = column; c < column + length; ++c) {
    const VTermScreenCell cell = cellAt(screen_, c, row);
    if (cell.chars[0] == static_cast<std::uint32_t>(-1)) continue;  // right half of a wide one
    if (cell.chars[0] == 0) out += ' ';
    for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && cell.chars[i] != 0; ++i) {
      appendUtf8(out, cell.chars[i]);
    }
  }
  return out;
}

std::string Screen::row(int row) const {
  std::string out = text(1, row, columns_);
  out.erase(out.find_last_not_of(' ') + 1);
  return out;
}

Colour Screen::foreground(int column, int row) const {
  checkCell(column, row, 1);
  const VTermScreenCell cell = cellAt(screen_, column, row);
  return colourOf(cell.fg, VTERM_COLOR_IS_DEFAULT_FG(&cell.fg));
}

Colour Screen::background(int column, int row) const {
  checkCell(column, row, 1);
  const VTermScreenCell cell = cellAt(screen_, column, row);
  return colourOf(cell.bg, VTERM_COLOR_IS_DEFAULT_BG(&cell.bg));
}

Position Screen::cursor() const {
  VTermPos pos{};
  vterm_state_get_cursorpos(vterm_obtain_state(vt_), &pos);
  return {pos.col + 1, pos.row + 1};
}

std::string Screen::dump() const {
  std::ostringstream out;
  out << "screen " << columns_ << "x" << rows_ << ", cursor " << cursor() << "\n";
  for (int r = 1; r <= rows_; ++r)
    out << (r < 10 ? " " : "") << r << "|" << row(r) << "\n";
  return out.str();
}

}  // namespace harness
