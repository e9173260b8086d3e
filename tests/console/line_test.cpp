// A line typed at a raw terminal: the bytes typed, the line kept, and what the
// screen shows of it, which must never differ from what is kept.
#include "console/posix/line.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <string>

namespace console::posix {
namespace {

using Step = LineEditor::Step;

// The line as the screen shows it: one code per character.
struct Shown final : LineEditor::Echo {
  std::string codes;
  void typed(int code) override { codes += static_cast<char>(code); }
  void erased(std::size_t characters) override {
    ASSERT_LE(characters, codes.size());
    codes.resize(codes.size() - characters);
  }
};

struct LineCase {
  const char* name;
  std::string typed;
  std::string kept;   // the line's bytes, as typed
  std::string shown;  // the codes on the screen
  Step last;          // what the last byte did
  int signal = 0;
};

TEST(LineEditor, EditsAsTheTerminalsLineModeWould) {
  const LineCase cases[] = {
      {"Enter is CR", "Perez\r", "Perez", "Perez", Step::ended},
      {"DEL erases the last character", "Perezz\x7f\r", "Perez", "Perez", Step::ended},
      {"and so does Backspace", "Peres\bz\r", "Perez", "Perez", Step::ended},
      {"erasing an empty line erases nothing",
       "\x7f\x7f"
       "Ana\r",
       "Ana", "Ana", Step::ended},
      {"a UTF-8 character is erased whole", "Mu\xC3\xB1\x7fn\r", "Mun", "Mun", Step::ended},
      {"and shown as its one byte", "Mu\xC3\xB1oz\r", "Mu\xC3\xB1oz", "Mu\xF1oz", Step::ended},
      {"a character cut short shows as unknown",
       "a\xC3"
       "b\r",
       "a\xC3"
       "b",
       "a?b", Step::ended},
      {"a stray continuation byte too", "a\x91\r", "a\x91", "a?", Step::ended},
      {"kill erases the whole line",
       "basura\x15"
       "Ana\r",
       "Ana", "Ana", Step::ended},
      {"word erase takes the last word and the blanks after it", "Ana Maria  \x17\r", "Ana ",
       "Ana ", Step::ended},
      {"and a mark after the word with it", "Ana Maria-\x17\r", "Ana ", "Ana ", Step::ended},
      {"literal next keeps a control character",
       "a\x16\x15"
       "b\r",
       "a\x15"
       "b",
       "a\x15"
       "b",
       Step::ended},
      {"but never a line end", "a\x16\r", "a", "a", Step::ended},
      {"a NUL is a character", std::string("1\0x\r", 4), std::string("1\0x", 3),
       std::string("1\0x", 3), Step::ended},
      {"end of input on an empty line", "\x04", "", "", Step::endOfInput},
      {"elsewhere it does nothing",
       "ab\x04"
       "c",
       "abc", "abc", Step::more},
      {"interrupt", "ab\x03", "ab", "ab", Step::signal, SIGINT},
      {"suspend", "x\x1a", "x", "x", Step::signal, SIGTSTP},
      {"past the limit nothing more is kept or shown", std::string(5000, 'a') + "\x7f\r",
       std::string(LineEditor::kLimit - 1, 'a'), std::string(LineEditor::kLimit - 1, 'a'),
       Step::ended},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.name);
    LineEditor editor(LineKeys{.utf8 = true});
    Shown shown;
    Step last = Step::more;
    for (char byte : c.typed)
      last = editor.feed(static_cast<unsigned char>(byte), shown);
    EXPECT_EQ(std::string(editor.text()), c.kept);
    EXPECT_EQ(shown.codes, c.shown);
    EXPECT_EQ(last, c.last);
    EXPECT_EQ(editor.signal(), c.signal);
  }
}

}  // namespace
}  // namespace console::posix
