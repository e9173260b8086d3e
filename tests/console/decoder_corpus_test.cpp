// Replays every input of the key decoder's fuzzing corpus, everywhere, with or
// without a fuzzer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "decoder_check.hpp"

TEST(DecoderCorpus, EveryInputDecodesWithinBounds) {
  const std::filesystem::path corpus = DECODER_CORPUS;
  std::size_t inputs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    std::ifstream file(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), {});
    SCOPED_TRACE(entry.path().filename().string());
    keycheck::exerciseDecoder(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    ++inputs;
  }
  EXPECT_GE(inputs, 10u) << "the corpus in " << corpus << " is missing";
}
