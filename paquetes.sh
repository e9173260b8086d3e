#!/usr/bin/env bash
# Builds what a school installs, in dist/: alumnos-VERSION-windows-x64.zip
# (alumnos.exe, alumnos-datos.exe and LEEME.txt, to unpack and run) and
# alumnos_VERSION_amd64.deb (both programs, their manual pages, the manual
# and the copyright), each from an optimised build of its own. Installs what
# it needs on a Debian machine, checks the .deb with lintian, and lists what
# each package holds.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cd "$repo"

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v ninja >/dev/null || missing+=(ninja-build)
command -v g++ >/dev/null || missing+=(g++)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64-posix)
# The manual is made with pandoc; the package's dependencies by dpkg-shlibdeps.
command -v pandoc >/dev/null || missing+=(pandoc)
command -v dpkg-shlibdeps >/dev/null || missing+=(dpkg-dev)
command -v lintian >/dev/null || missing+=(lintian)
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing what the packages need: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

jobs=$(nproc 2>/dev/null || echo 2)
dist="$repo/dist"
rm -rf "$dist"
mkdir -p "$dist"

# $1 the build's directory, then its configure options: built, then packed
# by CPack into dist/.
empaquetar() {
  local build="$1"
  shift
  mkdir -p "$build"
  # Only what is installed is built: not the benchmark, nor the tests.
  if ! { cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DALUMNOS_TESTS=OFF \
           -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON "$@" &&
         cmake --build "$build" -j "$jobs" --target alumnos alumnos-datos manual &&
         (cd "$build" && cpack -B "$dist"); } >"$build/paquete.log" 2>&1; then
    cat "$build/paquete.log" >&2
    exit 1
  fi
}

echo "== Debian package"
# Debian's hardening flags, all of them, as its own packages can be built with.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  empaquetar build/paquetes/debian
echo "== Windows zip"
empaquetar build/paquetes/windows --toolchain cmake/mingw-w64.cmake
rm -rf "$dist/_CPack_Packages"

deb=("$dist"/alumnos_*_amd64.deb)
zip=("$dist"/alumnos-*-windows-x64.zip)
echo "== lintian"
# Run as root, lintian says it would rather not: that line is not a finding.
if ! lintian --fail-on error "${deb[0]}" >build/paquetes/lintian.log 2>&1; then
  grep -v 'running with root privileges' build/paquetes/lintian.log
  echo "lintian found errors in $(basename "${deb[0]}")"
  exit 1
fi
grep -v 'running with root privileges' build/paquetes/lintian.log || true

echo "== dist/"
for paquete in "${deb[0]}" "${zip[0]}"; do
  printf '%s  %s bytes\n' "$(basename "$paquete")" "$(stat -c %s "$paquete")"
done
echo "-- $(basename "${deb[0]}")"
dpkg-deb --contents "${deb[0]}" | awk '$1 !~ /^d/ { printf "  %-42s %8s bytes\n", substr($6, 2), $3 }'
echo "-- $(basename "${zip[0]}")"
cmake -E tar tvf "${zip[0]}" | awk '{ printf "  %-42s %8s bytes\n", $NF, $5 }'
