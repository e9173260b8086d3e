// libFuzzer entry point for the key decoder (built by decoder_fuzz.sh with
// clang where its fuzzer runtime is installed).
#include "decoder_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  keycheck::exerciseDecoder(data, size);
  return 0;
}
