#!/usr/bin/env bash
# Deleting one student from a million, against what the same file costs to
# read (cat) and to copy durably (cp, then sync), all measured in one run on
# one machine. Usage: bench/eliminar.sh [path to alumnos] (default: build/alumnos).
# Reports ratios; absolute times say more about the disk than the program.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
alumnos="$(realpath "${1:-$repo/build/alumnos}")"
alumnosCount=1000000
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"

# A million 59-byte students, codes 00000001A up: the code and its zero and
# five spare bytes, "Perez" and "Juan" in 20-byte fields, age 20 (little-endian).
seq -f '%08.0fA' 1 "$alumnosCount" |
  sed 's/$/######Perez###############Juan################~###/' |
  tr -d '\n' | tr '#~' '\000\024' >ALUMNO.txt
size=$(stat -c %s ALUMNO.txt)
[ "$size" -eq $((alumnosCount * 59)) ] || { echo "generated $size bytes" >&2; exit 1; }
sync

seconds() { # runs "$@", prints its wall time in seconds
  local start end
  start=$(date +%s%N)
  "$@"
  end=$(date +%s%N)
  awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }'
}

readFile() { cat ALUMNO.txt >/dev/null; }
copyFile() { cp ALUMNO.txt COPIA.txt && sync; }
# The middle student, with its three keys and the way out through the menu;
# no terminal, so keys and lines both come from standard input.
deleteOne() { printf '5\n00500000A\nSabc0\n' | setsid -w "$alumnos" >/dev/null 2>&1; }

readFile # the file in the page cache for everyone alike
tRead=$(seconds readFile)
tCopy=$(seconds copyFile)
rm -f COPIA.txt
sync
tDelete=$(seconds deleteOne)
after=$(stat -c %s ALUMNO.txt)
[ "$after" -eq $((size - 59)) ] || { echo "after the deletion: $after bytes" >&2; exit 1; }

echo "file: $alumnosCount students, $size bytes"
echo "cat:        ${tRead} s"
echo "cp + sync:  ${tCopy} s"
echo "deletion:   ${tDelete} s (whole program run: start, search, rewrite, fsyncs, exit)"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
echo "deletion / (cp + sync): $(ratio "$tDelete" "$tCopy")"
echo "deletion / cat:         $(ratio "$tDelete" "$tRead")"
if [ -x /usr/bin/time ]; then
  printf '5\n00000001A\nSabc0\n' >input
  peak=$(/usr/bin/time -f %M setsid -w "$alumnos" <input 2>&1 >/dev/null | tail -1)
  echo "peak memory of a deletion: ${peak} KiB"
fi
