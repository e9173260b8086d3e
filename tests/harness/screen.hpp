// A terminal screen kept by libvterm: fed the bytes a program writes, it
// answers what a clerk would see at each cell.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

struct VTerm;
struct VTermScreen;

namespace harness {

// A colour as the terminal holds it: its default, a palette index (SGR 30-37,
// 90-97 give 0-7 and 8-15), or direct RGB.
struct Colour {
  enum class Kind { Default, Indexed, Rgb };
  Kind kind = Kind::Default;
  std::uint32_t value = 0;  // the index, or 0xRRGGBB

  static constexpr Colour terminalDefault() { return {}; }
  static constexpr Colour indexed(std::uint32_t index) { return {Kind::Indexed, index}; }
  static constexpr Colour rgb(std::uint32_t rrggbb) { return {Kind::Rgb, rrggbb}; }
  friend bool operator==(const Colour&, const Colour&) = default;
};
std::ostream& operator<<(std::ostream& out, const Colour& colour);

// A screen cell, 1-based: column 1 is the left edge, row 1 the top.
struct Position {
  int column = 1;
  int row = 1;
  friend bool operator==(const Position&, const Position&) = default;
};
std::ostream& operator<<(std::ostream& out, const Position& position);
// libvterm's screen (autowrap on, UTF-8), columns x rows.
class Screen {
 public:
  Screen(int columns, int rows);
  ~Screen();
  Screen(const Screen&) = delete;
  Screen& operator=(const Screen&) = delete;

  void feed(std::string_view bytes);
  // What the terminal answered to the program's queries since the last call.
  std::string takeReplies();

  // Contents as UTF-8, 1-based. text() is exactly `length` cells, blanks
  // included; row() is the whole row with trailing blanks removed. Cells off
  // the screen throw std::out_of_range.
  std::string text(int column, int row, int length) const;
  std::string row(int row) const;
  Colour foreground(int column, int row) const;
  Colour background(int column, int row) const;
  Position cursor() const;
  int columns() const { return columns_; }
  int rows() const { return rows_; }
  // Numbered rows and the cursor, for failure messages.
  std::string dump() const;

 private:
  void checkCell(int column, int row, int length) const;

  int columns_;
  int rows_;
  VTerm* vt_ = nullptr;
  VTermScreen* screen_ = nullptr;
  std::string replies_;
};

}  // namespace harness
