// One run of the key decoder over arbitrary bytes, checking what must hold
// whatever a terminal (or line noise) sends. Shared by the fuzzer and by the
// test that replays the fuzzer's corpus.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "console/decoder.hpp"

namespace keycheck {

// Stops the run loudly: the fuzzer and the replay test both see a crash.
inline void require(bool condition) {
  if (!condition) std::abort();
}

inline void takeAll(console::KeyDecoder& decoder) {
  console::KeyPress press;
  while (decoder.take(press)) {
    require(press.character >= 0 && press.character <= 255);
    require(press.modifiers <= (console::kShift | console::kAlt | console::kCtrl));
    require(static_cast<int>(press.key) <= static_cast<int>(console::Key::Keypad9));
    if (auto codes = console::keyCodes(press)) {
      require(codes->code >= 0 && codes->code <= 255);
      require(codes->extended >= -1 && codes->extended <= 255);
      require(codes->extended == -1 || codes->code == 0);
    }
  }
}

// The first byte chooses the decoder (UTF-8 or not, DEL or BS as erase) and
// how often a timeout falls between bytes; the rest is the input.
inline void exerciseDecoder(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return;
  const std::uint8_t setup = data[0];
  console::KeyDecoder decoder((setup & 2) ? 0x08 : 0x7F, (setup & 1) != 0);
  const std::size_t timeoutEvery = (setup >> 2) + 1u;
  for (std::size_t i = 1; i < size; ++i) {
    decoder.feed(data[i]);
    if (i % timeoutEvery == 0 && decoder.waiting()) decoder.expire();
    // A reader that takes only now and then: the queue must stay bounded.
    if (i % 3 == 0) takeAll(decoder);
    const int timeout = decoder.timeoutMs();
    require(decoder.waiting() ? timeout > 0 : timeout == -1);
  }
  decoder.expire();
  takeAll(decoder);
  require(!decoder.waiting());
}

}  // namespace keycheck
