#include "console/posix/line.hpp"

#include <unistd.h>

#include <algorithm>
#include <csignal>

namespace console::posix {

LineKeys lineKeysFrom(const termios& mode, bool utf8) {
  auto key = [&mode](int index, tcflag_t flags, tcflag_t needed) {
    const cc_t c = mode.c_cc[index];
    return (flags & needed) == needed && c != _POSIX_VDISABLE ? static_cast<int>(c)
                                                              : LineKeys::kUnset;
  };
  LineKeys keys;
  keys.erase = key(VERASE, 0, 0);
  keys.kill = key(VKILL, 0, 0);
  keys.wordErase = key(VWERASE, mode.c_lflag, IEXTEN);
  keys.literalNext = key(VLNEXT, mode.c_lflag, IEXTEN);
  keys.endOfInput = key(VEOF, 0, 0);
  keys.interrupt = key(VINTR, mode.c_lflag, ISIG);
  keys.quit = key(VQUIT, mode.c_lflag, ISIG);
  keys.suspend = key(VSUSP, mode.c_lflag, ISIG);
  keys.utf8 = utf8;
  return keys;
}

LineEditor::Step LineEditor::feed(unsigned char byte, Echo& echo) {
  if (utf8_.pending()) {
    switch (utf8_.next(byte)) {
      case Utf8Decoder::Step::more:
        partial_ += static_cast<char>(byte);
        return Step::more;
      case Utf8Decoder::Step::done:
        partial_ += static_cast<char>(byte);
        add(partial_, utf8_.character(), echo);
        partial_.clear();
        return Step::more;
      case Utf8Decoder::Step::broken:
        // What came of the character is one, shown and kept as unknown.
        add(partial_, Utf8Decoder::kUnknown, echo);
        partial_.clear();
        break;  // and the byte afresh
    }
  }
  // A line never holds its own end, not even a literal one.
  if (byte == '\r' || byte == '\n') {
    literal_ = false;
    return Step::ended;
  }
  if (literal_) {
    literal_ = false;
    take(byte, echo);
    return Step::more;
  }
  for (const auto& [key, number] :
       {std::pair{keys_.interrupt, SIGINT}, {keys_.quit, SIGQUIT}, {keys_.suspend, SIGTSTP}}) {
    if (is(byte, key)) {
      signal_ = number;
      return Step::signal;
    }
  }
  if (byte == 0x08 || byte == 0x7F || is(byte, keys_.erase)) {
    eraseLast(1, echo);
  } else if (is(byte, keys_.kill)) {
    eraseLast(starts_.size(), echo);
  } else if (is(byte, keys_.wordErase)) {
    eraseLast(lastWord(), echo);
  } else if (is(byte, keys_.literalNext)) {
    literal_ = true;
  } else if (is(byte, keys_.endOfInput)) {
    if (text_.empty()) return Step::endOfInput;
  } else {
    take(byte, echo);
  }
  return Step::more;
}

void LineEditor::take(unsigned char byte, Echo& echo) {
  const char c = static_cast<char>(byte);
  if (keys_.utf8 && byte >= 0x80) {
    if (utf8_.begin(byte)) {
      partial_.assign(1, c);
      return;
    }
    return add(std::string_view(&c, 1), Utf8Decoder::kUnknown, echo);
  }
  add(std::string_view(&c, 1), byte, echo);
}

void LineEditor::add(std::string_view bytes, int code, Echo& echo) {
  if (text_.size() + bytes.size() > kLimit) return;
  starts_.push_back(text_.size());
  text_ += bytes;
  echo.typed(code);
}

void LineEditor::eraseLast(std::size_t count, Echo& echo) {
  count = std::min(count, starts_.size());
  if (count == 0) return;
  const std::size_t kept = starts_.size() - count;
  text_.resize(starts_[kept]);
  starts_.resize(kept);
  echo.erased(count);
}

// The characters of the last word and of the blanks after it: a word is
// letters, digits, '_' and every character beyond ASCII.
std::size_t LineEditor::lastWord() const {
  auto inWord = [this](std::size_t i) {
    const auto c = static_cast<unsigned char>(text_[starts_[i]]);
    return c >= 0x80 || c == '_' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
           (c >= 'a' && c <= 'z');
  };
  std::size_t i = starts_.size();
  while (i > 0 && !inWord(i - 1))
    --i;
  while (i > 0 && inWord(i - 1))
    --i;
  return starts_.size() - i;
}

}  // namespace console::posix
