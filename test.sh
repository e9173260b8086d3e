#!/usr/bin/env bash
# Installs what the tests need, builds alumnos twice (plain, and with
# AddressSanitizer and UndefinedBehaviorSanitizer) and runs every test in both.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cd "$repo"

missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v ninja >/dev/null || missing+=(ninja-build)
command -v g++ >/dev/null || missing+=(g++)
command -v pkg-config >/dev/null || missing+=(pkg-config)
command -v strace >/dev/null || missing+=(strace)
# The CSV exports are read back by Python's csv module.
command -v python3 >/dev/null || missing+=(python3)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
[ -f /usr/include/vterm.h ] || missing+=(libvterm-dev)
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing what the tests need: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/test -j "$jobs"
cmake -S . -B build/san -G Ninja -DCMAKE_BUILD_TYPE=Debug -DALUMNOS_SANITIZE=ON >/dev/null
cmake --build build/san -j "$jobs"

status=0
echo "== tests, plain build"
ctest --test-dir build/test --output-on-failure -j "$jobs" || status=1
echo "== tests, sanitizer build"
ctest --test-dir build/san --output-on-failure -j "$jobs" || status=1
exit $status
