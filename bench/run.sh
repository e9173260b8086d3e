#!/usr/bin/env bash
# Builds alumnos and alumnos-datos optimised and measures them on a million
# students (and grades) against cat, cp + sync and empty files (see
# bench/bench.cpp). Arguments go to the benchmark: --records N, --runs N.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$repo/build/bench"
log="$repo/build/bench.log"
mkdir -p "$repo/build"
if ! { cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DALUMNOS_TESTS=OFF &&
       cmake --build "$build" --target alumnos_bench; } >"$log" 2>&1; then
  cat "$log" >&2
  exit 1
fi
exec "$build/bench/alumnos_bench" "$@"
