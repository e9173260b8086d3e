#!/usr/bin/env bash
# Installs what the tests need, builds alumnos twice (plain, and with
# AddressSanitizer and UndefinedBehaviorSanitizer) and runs every test in both.
# Builds alumnos.exe and its tests with MinGW-w64 and runs them under wine;
# where that cannot be done it says why, and the other suites still run.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cd "$repo"

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
install() {
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$@" >/dev/null
}

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
  install "${missing[@]}"
fi

# The Windows build: its own packages, which a machine may fail to get
# without the rest failing.
windows=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || windows+=(g++-mingw-w64-x86-64-posix)
[ -f /usr/src/googletest/CMakeLists.txt ] || windows+=(googletest)
command -v wine >/dev/null || windows+=(wine)
if [ ${#windows[@]} -gt 0 ]; then
  echo "Installing what the Windows build needs: ${windows[*]}"
  install "${windows[@]}" || echo "Could not install ${windows[*]}"
fi

# The packages' tests: the manual is made with pandoc, the .deb's
# dependencies by dpkg-shlibdeps, its pages read with man and the whole
# checked by lintian. Without them those tests say why they skip.
paquetes=()
command -v pandoc >/dev/null || paquetes+=(pandoc)
command -v dpkg-shlibdeps >/dev/null || paquetes+=(dpkg-dev)
command -v man >/dev/null || paquetes+=(man-db)
command -v lintian >/dev/null || paquetes+=(lintian)
if [ ${#paquetes[@]} -gt 0 ]; then
  echo "Installing what the package tests need: ${paquetes[*]}"
  install "${paquetes[@]}" || echo "Could not install ${paquetes[*]}"
fi

jobs=$(nproc 2>/dev/null || echo 2)
status=0
skip=""
if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
  skip="MinGW-w64 (g++-mingw-w64-x86-64-posix) is not installed"
else
  echo "== Windows build (MinGW-w64)"
  cmake --preset windows >/dev/null
  cmake --build --preset windows -j "$jobs" || { status=1; skip="the Windows build failed"; }
fi

# A scratch wine prefix for this run, quiet, with no installer offered.
export WINEPREFIX="$repo/build/wine"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ -z "$skip" ]; then
  if ! command -v wine >/dev/null; then
    skip="wine is not installed"
  else
    rm -rf "$WINEPREFIX"
    mkdir -p build
    if ! timeout 300 wineboot -i >build/wineboot.log 2>&1; then
      skip="wine could not make its prefix ($(tail -n 1 build/wineboot.log))"
    elif ! printf '0\n' | timeout 120 wine build/windows/alumnos.exe >/dev/null 2>&1; then
      skip="wine cannot run alumnos.exe here"
    fi
  fi
fi
if [ -n "$skip" ]; then
  echo "== Windows suites skipped: $skip"
fi
export ALUMNOS_WINE_SKIP="$skip"

cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/test -j "$jobs"
cmake -S . -B build/san -G Ninja -DCMAKE_BUILD_TYPE=Debug -DALUMNOS_SANITIZE=ON >/dev/null
cmake --build build/san -j "$jobs"

echo "== tests, plain build (with the Windows suites under wine)"
ctest --test-dir build/test --output-on-failure -j "$jobs" || status=1
echo "== tests, sanitizer build"
ctest --test-dir build/san --output-on-failure -j "$jobs" || status=1
exit $status
