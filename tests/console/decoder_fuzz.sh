#!/usr/bin/env bash
# Fuzzes the key decoder with libFuzzer for a bounded time, starting from the
# corpus kept beside the tests (new inputs go to a scratch copy). Exits 77
# (skipped) where clang or its fuzzer runtime is missing.
set -euo pipefail
source_dir="$1"   # the repository
work="$2"         # a build directory of its own
seconds="${3:-20}"
mkdir -p "$work"
if ! command -v clang++ >/dev/null; then
  echo "skipped: clang++ is not installed"
  exit 77
fi
if ! echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' |
    clang++ -x c++ -fsanitize=fuzzer - -o "$work/probe" 2>/dev/null; then
  echo "skipped: clang's libFuzzer runtime is not installed (libclang-rt-dev)"
  exit 77
fi
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -I"$source_dir" "$source_dir/tests/console/decoder_fuzz.cpp" "$source_dir/console/decoder.cpp" \
  "$source_dir/console/sequences.cpp" "$source_dir/console/keys.cpp" \
  -o "$work/decoder_fuzz"
rm -rf "$work/corpus"
cp -r "$source_dir/tests/console/fuzz_corpus" "$work/corpus"
"$work/decoder_fuzz" -max_total_time="$seconds" -max_len=256 -timeout=5 "$work/corpus" 2>&1 | tail -n 3
