// The key decoder: the bytes a terminal sends, in, key presses with their
// modifiers, out (keys.hpp gives their codes).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "console/keys.hpp"
#include "console/utf8.hpp"

namespace console {

// Turns terminal input bytes into key presses. Feed it every byte in order;
// when waiting() is true and no byte arrives within timeoutMs(), call expire().
// Pure and bounded: no I/O, no clock, no heap; any byte string is safe.
class KeyDecoder {
 public:
  // Presses held for take(); when full, further presses are dropped, so
  // feed() stays safe even if nobody takes.
  static constexpr std::size_t kQueueCapacity = 8;
  // How long to wait for the byte after a lone ESC, and inside a sequence
  // (`ESC [`, `ESC O`, a UTF-8 character) once it has begun.
  static constexpr int kEscTimeoutMs = 40;
  static constexpr int kSequenceTimeoutMs = 150;

  // eraseChar: the terminal's erase character (VERASE), which is Backspace.
  // utf8: whether multi-byte UTF-8 characters are expected.
  explicit KeyDecoder(unsigned char eraseChar = 0x7F, bool utf8 = true);

  void feed(unsigned char byte);
  // No byte came in time: ends what is pending (a lone ESC becomes Esc).
  void expire();
  // Whether a sequence is pending and more bytes may complete it.
  bool waiting() const;
  // While waiting(): kEscTimeoutMs or kSequenceTimeoutMs; otherwise -1 (no limit).
  int timeoutMs() const;
  // Takes the oldest decoded press; false when there is none.
  bool take(KeyPress& out);

 private:
  enum class State : std::uint8_t {
    Ground,   // between keys
    Escape,   // after ESC (or ESC ESC)
    Csi,      // after ESC [
    LinuxFn,  // after ESC [ [ (Linux console F1-F5)
    Ss3,      // after ESC O
    Utf8,     // inside a multi-byte UTF-8 character
  };
  static constexpr std::size_t kMaxParams = 3;

  void ground(unsigned char byte, unsigned alt);
  void escape(unsigned char byte);
  void csi(unsigned char byte);
  void linuxFn(unsigned char byte);
  void ss3(unsigned char byte);
  void utf8(unsigned char byte);
  void beginSequence(State state);
  bool param(unsigned char byte);
  void finishCsi(unsigned char final);
  void finishSs3(unsigned char final);
  void endBarePrefix();
  void abortSequence(unsigned char byte);
  KeyPress pressForByte(unsigned char byte) const;
  KeyPress pressForCode(std::uint32_t code) const;
  void push(KeyPress press);

  unsigned char erase_;  // 0x08 or 0x7F: the byte that is Backspace; the other is Ctrl+Backspace
  bool utf8_;            // bytes 0x80-0xFF are UTF-8, not single characters
  State state_ = State::Ground;
  bool escEsc_ = false;  // Escape state reached by ESC ESC: Alt+Esc, or Alt with a sequence
  unsigned alt_ = 0;     // kAlt when an ESC came before the sequence or character in progress

  // The CSI / SS3 sequence in progress: parameters, not bytes, so that it is
  // bounded however long the sequence grows.
  std::array<std::uint32_t, kMaxParams> params_{};  // 0 when absent; saturated
  std::uint8_t paramCount_ = 0;                     // parameters begun; digits go to the last
  bool begun_ = false;                              // a byte came after `ESC [` / `ESC O`
  bool subParam_ = false;                           // after ':' until the next ';': digits ignored
  bool malformed_ = false;  // private marker, intermediates, too many parameters: no key

  Utf8Decoder utf8Character_;  // the UTF-8 character in progress

  std::array<KeyPress, kQueueCapacity> ready_{};  // ring of presses not yet taken
  std::size_t readyHead_ = 0;                     // the oldest
  std::size_t readyCount_ = 0;
};

}  // namespace console
