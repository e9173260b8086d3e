// The key decoder: a state machine over the bytes a terminal sends, bounded
// whatever comes. What each byte and finished sequence stands for is looked
// up in console/sequences.cpp; here are the rules of their form: where a
// sequence begins and ends, its parameters, the waits, ESC as Alt.

#include "console/decoder.hpp"

#include <algorithm>
#include <optional>

#include "console/sequences.hpp"

namespace console {
namespace {

using sequences::modifiersOf;

constexpr int kUnknownCharacter = Utf8Decoder::kUnknown;
// Parameters saturate here, above every number a key uses (code points included).
constexpr std::uint32_t kParamLimit = 0x110000;

KeyPress unknownCharacter(unsigned modifiers) {
  return {Key::None, modifiers, kUnknownCharacter};
}

KeyPress withModifiers(KeyPress press, unsigned modifiers) {
  press.modifiers |= modifiers;
  return press;
}

}  // namespace

// Any erase character but 0x08 (one that is disabled, or unusual) counts as
// 0x7F, which is what nearly every terminal sends for Backspace.
KeyDecoder::KeyDecoder(unsigned char eraseChar, bool utf8)
    : erase_(eraseChar == 0x08 ? 0x08 : 0x7F), utf8_(utf8) {}

void KeyDecoder::feed(unsigned char byte) {
  switch (state_) {
    case State::Ground:
      ground(byte, 0);
      return;
    case State::Escape:
      escape(byte);
      return;
    case State::Csi:
      csi(byte);
      return;
    case State::LinuxFn:
      linuxFn(byte);
      return;
    case State::Ss3:
      ss3(byte);
      return;
    case State::Utf8:
      utf8(byte);
      return;
  }
}

void KeyDecoder::expire() {
  switch (state_) {
    case State::Ground:
      return;
    case State::Escape:
      push({Key::Esc, escEsc_ ? kAlt : 0u, 27});
      break;
    case State::Csi:
    case State::Ss3:
      endBarePrefix();  // a longer unfinished sequence gives nothing
      break;
    case State::LinuxFn:
      break;
    case State::Utf8:
      push(unknownCharacter(alt_));
      utf8Character_ = {};
      break;
  }
  state_ = State::Ground;
}

bool KeyDecoder::waiting() const {
  return state_ != State::Ground;
}

int KeyDecoder::timeoutMs() const {
  switch (state_) {
    case State::Ground:
      return -1;
    case State::Escape:
      return kEscTimeoutMs;
    default:
      return kSequenceTimeoutMs;
  }
}

bool KeyDecoder::take(KeyPress& out) {
  if (readyCount_ == 0) return false;
  out = ready_[readyHead_];
  readyHead_ = (readyHead_ + 1) % kQueueCapacity;
  --readyCount_;
  return true;
}

// Full: the press is dropped, as a full keyboard buffer drops keys; the
// presses already queued keep their order.
void KeyDecoder::push(KeyPress press) {
  if (readyCount_ == kQueueCapacity) return;
  ready_[(readyHead_ + readyCount_) % kQueueCapacity] = press;
  ++readyCount_;
}

// A byte between keys; `alt` is kAlt when an ESC came before it.
void KeyDecoder::ground(unsigned char byte, unsigned alt) {
  if (byte == 0x1B) {
    state_ = State::Escape;
    escEsc_ = false;
    return;
  }
  if (byte >= 0x80 && utf8_) {
    if (utf8Character_.begin(byte)) {
      state_ = State::Utf8;
      alt_ = alt;
    } else {
      push(unknownCharacter(alt));
    }
    return;
  }
  push(withModifiers(pressForByte(byte), alt));
}

void KeyDecoder::escape(unsigned char byte) {
  // ESC [ A is Up, not Alt+[ then A: a terminal sends a sequence in one go.
  if (byte == '[' || byte == 'O') {
    // ESC ESC [ A is Alt+Up (rxvt, and xterm without modified keys), not Esc then Up.
    alt_ = escEsc_ ? kAlt : 0;
    beginSequence(byte == '[' ? State::Csi : State::Ss3);
    return;
  }
  if (escEsc_) {  // ESC ESC and then anything else: Alt+Esc, and the byte afresh
    push({Key::Esc, kAlt, 27});
    state_ = State::Ground;
    ground(byte, 0);
    return;
  }
  if (byte == 0x1B) {
    escEsc_ = true;
    return;
  }
  state_ = State::Ground;
  ground(byte, kAlt);
}

void KeyDecoder::beginSequence(State state) {
  state_ = state;
  params_ = {};
  paramCount_ = 0;
  begun_ = false;
  subParam_ = false;
  malformed_ = false;
}

// Takes a parameter byte (0x30-0x3F) into params_; false for any other byte.
bool KeyDecoder::param(unsigned char byte) {
  if (byte < 0x30 || byte > 0x3F) return false;
  begun_ = true;
  if (paramCount_ == 0) paramCount_ = 1;
  if (byte <= '9') {
    if (!subParam_) {
      std::uint32_t& value = params_[paramCount_ - 1u];
      value = std::min<std::uint32_t>(value * 10 + (byte - '0'), kParamLimit);
    }
  } else if (byte == ';') {
    subParam_ = false;
    if (paramCount_ < kMaxParams) {
      ++paramCount_;
    } else {
      malformed_ = true;
    }
  } else if (byte == ':') {
    subParam_ = true;  // kitty-style sub-parameters: only the first counts
  } else {
    malformed_ = true;  // < = > ?: private sequences are reports and mouse events, not keys
  }
  return true;
}

void KeyDecoder::csi(unsigned char byte) {
  if (param(byte)) return;
  if (byte == '[' && !begun_) {
    begun_ = true;
    state_ = State::LinuxFn;
    return;
  }
  // rxvt ends sequences with `$`, which is an intermediate byte elsewhere.
  if ((byte >= 0x40 && byte <= 0x7E) || (byte == '$' && !malformed_)) {
    finishCsi(byte);
    return;
  }
  if (byte >= 0x20 && byte <= 0x2F) {  // intermediate bytes: no key uses them
    begun_ = true;
    malformed_ = true;
    return;
  }
  abortSequence(byte);
}

void KeyDecoder::linuxFn(unsigned char byte) {
  if (byte < 0x20 || byte > 0x7E) {
    abortSequence(byte);
    return;
  }
  state_ = State::Ground;
  if (const auto press = sequences::linuxFinal(byte)) push(withModifiers(*press, alt_));
}

void KeyDecoder::ss3(unsigned char byte) {
  if (param(byte)) return;
  if (byte >= 0x20 && byte <= 0x7E) {
    finishSs3(byte);
    return;
  }
  abortSequence(byte);
}

void KeyDecoder::finishCsi(unsigned char final) {
  state_ = State::Ground;
  if (malformed_) return;
  const std::uint32_t first = params_[0];
  const std::uint32_t second = params_[1];
  std::optional<KeyPress> key;
  unsigned modifiers = alt_;
  switch (final) {
    case '~':
      if (paramCount_ == 3 && first == 27) {  // xterm modifyOtherKeys: CSI 27;m;c~
        push(withModifiers(pressForCode(params_[2]), alt_ | modifiersOf(second)));
        return;
      }
      if (paramCount_ < 1 || paramCount_ > 2) return;
      key = sequences::csiNumber(first);
      modifiers |= modifiersOf(second);
      break;
    case '$':
    case '^':
    case '@':  // rxvt: Shift, Ctrl, Ctrl+Shift
      if (paramCount_ != 1) return;
      key = sequences::csiNumber(first);
      modifiers |= final == '$' ? kShift : final == '^' ? kCtrl : kCtrl | kShift;
      break;
    case 'u':  // CSI c;m u: the key of character code c
      if (paramCount_ < 1 || paramCount_ > 2 || first == 0) return;
      push(withModifiers(pressForCode(first), alt_ | modifiersOf(second)));
      return;
    default:  // CSI x, CSI 1;m x; another first number makes it a report, not a key
      if (paramCount_ > 2 || first > 1) return;
      key = sequences::csiFinal(final);
      modifiers |= modifiersOf(second);
      break;
  }
  if (key) push(withModifiers(*key, modifiers));
}

void KeyDecoder::finishSs3(unsigned char final) {
  state_ = State::Ground;
  if (malformed_ || paramCount_ > 2) return;
  // SS3 m x (old xterm, Konsole), or SS3 1;m x.
  if (paramCount_ == 2 && params_[0] > 1) return;
  const std::uint32_t m = paramCount_ == 2 ? params_[1] : params_[0];
  const std::optional<KeyPress> press = sequences::ss3Final(final);
  if (press) push(withModifiers(*press, alt_ | modifiersOf(m)));
}

void KeyDecoder::utf8(unsigned char byte) {
  switch (utf8Character_.next(byte)) {
    case Utf8Decoder::Step::more:
      return;
    case Utf8Decoder::Step::done:
      state_ = State::Ground;
      push({Key::None, alt_, utf8Character_.character()});
      return;
    case Utf8Decoder::Step::broken:
      // Ill-formed: one '?' for what came so far, and the byte afresh.
      push(unknownCharacter(alt_));
      state_ = State::Ground;
      ground(byte, 0);
      return;
  }
}

// `ESC [` or `ESC O` with nothing after it was Alt+[ or Alt+O.
void KeyDecoder::endBarePrefix() {
  if (begun_) return;
  if (state_ == State::Csi) push({Key::LeftBracket, kAlt, '['});
  if (state_ == State::Ss3) push({Key::O, kAlt | kShift, 'O'});
}

// A byte that cannot be part of the sequence in progress (a control byte or a
// non-ASCII one) ends it without a key, and is decoded afresh.
void KeyDecoder::abortSequence(unsigned char byte) {
  endBarePrefix();
  state_ = State::Ground;
  ground(byte, 0);
}

// One byte on its own (not ESC, not part of UTF-8).
KeyPress KeyDecoder::pressForByte(unsigned char byte) const {
  if (byte == erase_) return {Key::Backspace, 0, 8};
  // 0x08 is also Ctrl+H; xterm, VTE and tmux send it for Ctrl+Backspace, the likelier press.
  if (byte == (erase_ == 0x7F ? 0x08 : 0x7F)) return {Key::Backspace, kCtrl, 127};
  if (const auto press = sequences::controlByte(byte)) return *press;
  if (byte < 0x20) return {keyAfter(Key::A, byte - 1), kCtrl, byte};  // 0x01-0x1A
  if (byte < 0x7F) return sequences::printable(byte);
  return {Key::None, 0, byte};  // 0x80-0xFF when input is not UTF-8
}

// A key given by its character code (modifyOtherKeys, CSI u).
KeyPress KeyDecoder::pressForCode(std::uint32_t code) const {
  // Both 8 and 127 name Backspace here: the modifiers say whether Ctrl was held.
  if (code == 0x08 || code == 0x7F) return {Key::Backspace, 0, 8};
  if (code <= 0xFF) return pressForByte(static_cast<unsigned char>(code));
  return unknownCharacter(0);
}

}  // namespace console
