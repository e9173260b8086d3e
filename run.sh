#!/usr/bin/env bash
# Builds alumnos (and alumnos-datos beside it) when needed and starts alumnos
# in the directory this was called from, where it keeps its record files.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$repo/build/run"
log="$repo/build/run.log"
mkdir -p "$repo/build"
if [ ! -f "$build/build.ninja" ]; then
  if ! cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DALUMNOS_TESTS=OFF \
      >"$log" 2>&1; then
    cat "$log" >&2
    exit 1
  fi
fi
if ! cmake --build "$build" --target alumnos alumnos-datos >"$log" 2>&1; then
  cat "$log" >&2
  exit 1
fi
exec "$build/alumnos"
