#!/usr/bin/env bash
# alumnos.exe and alumnos-datos.exe must run on a bare Windows: each may import
# only the system's own DLLs, never a toolchain runtime (libstdc++, libgcc,
# winpthread).
# Usage: importaciones.sh program.exe...; exit 77 (skipped) when one is not
# built.
set -euo pipefail
for exe in "$@"; do
  if [ ! -f "$exe" ]; then
    echo "skipped: $exe is not built (cmake --preset windows)"
    exit 77
  fi
done
objdump=x86_64-w64-mingw32-objdump
command -v "$objdump" >/dev/null || objdump=objdump
status=0
for exe in "$@"; do
  dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
  echo "$(basename "$exe") imports:" $dlls
  for dll in $dlls; do
    case "$dll" in
      kernel32.dll | msvcrt.dll | user32.dll | advapi32.dll | ntdll.dll) ;;
      *) echo "not a system DLL in $exe: $dll"; status=1 ;;
    esac
  done
  [ -n "$dlls" ] || { echo "no imports read from $exe"; status=1; }
done
exit $status
