// A line typed at a terminal that stays in raw mode, edited by the program as
// the terminal's own line mode would edit it.
//
// Keeping the terminal raw for the whole run is what lets keys typed ahead of
// a line, or of a key wait, reach the program exactly as they were typed: a
// terminal does not edit, echo or end a line with bytes that arrived while it
// was raw, so its line mode cannot be trusted with them. The editing is done
// here instead, with the characters of the mode the terminal had at start-up.
#pragma once

#include <termios.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "console/utf8.hpp"

namespace console::posix {

// The characters that edit a line; kUnset where the terminal's mode leaves
// one unset or turns its feature off.
struct LineKeys {
  static constexpr int kUnset = -1;
  int erase = 0x7F;        // the last character off; Backspace (0x08) and DEL (0x7F) always are
  int kill = 0x15;         // the whole line off
  int wordErase = 0x17;    // the last word off
  int literalNext = 0x16;  // the next byte is a character, whatever it means otherwise
  int endOfInput = 0x04;   // on an empty line: no more input; elsewhere nothing
  int interrupt = 0x03;    // the signals the terminal sends for these
  int quit = 0x1C;
  int suspend = 0x1A;
  bool utf8 = false;  // characters of several bytes, each erased whole
};

LineKeys lineKeysFrom(const termios& mode, bool utf8);

// Bytes in; the line's text, and what the screen must show of it, out.
// Pure: no I/O.
class LineEditor {
 public:
  // What the screen shows of the line as it changes.
  class Echo {
   public:
    // A character added at the end, as the single-byte code it is kept as.
    virtual void typed(int code) = 0;
    // `characters` characters taken off the end.
    virtual void erased(std::size_t characters) = 0;

   protected:
    ~Echo() = default;
  };

  enum class Step : std::uint8_t {
    more,        // the line goes on
    ended,       // Enter (CR or LF): the line is whole
    endOfInput,  // the end-of-input character on an empty line
    signal,      // a signal character: signal() says which
  };

  // Bytes a line holds at most, as a terminal's line does; more are dropped
  // until Enter.
  static constexpr std::size_t kLimit = 4095;

  explicit LineEditor(const LineKeys& keys) : keys_(keys) {}

  Step feed(unsigned char byte, Echo& echo);
  // The line so far, as typed: a UTF-8 character keeps its bytes.
  std::string_view text() const { return text_; }
  int signal() const { return signal_; }

 private:
  bool is(unsigned char byte, int key) const { return key != LineKeys::kUnset && byte == key; }
  void add(std::string_view bytes, int code, Echo& echo);
  void take(unsigned char byte, Echo& echo);
  void eraseLast(std::size_t count, Echo& echo);
  std::size_t lastWord() const;

  LineKeys keys_;
  std::string text_;
  std::vector<std::size_t> starts_;  // where each character begins in text_
  std::string partial_;              // a UTF-8 character not yet whole
  Utf8Decoder utf8_;
  bool literal_ = false;  // the byte before was the literal-next character
  int signal_ = 0;
};

}  // namespace console::posix
