#!/usr/bin/env bash
# alumnos.exe must run on a bare Windows: it may import only the system's own
# DLLs, never a toolchain runtime (libstdc++, libgcc, winpthread).
# Usage: importaciones.sh alumnos.exe; exit 77 (skipped) when it is not built.
set -euo pipefail
exe="$1"
if [ ! -f "$exe" ]; then
  echo "skipped: $exe is not built (cmake --preset windows)"
  exit 77
fi
objdump=x86_64-w64-mingw32-objdump
command -v "$objdump" >/dev/null || objdump=objdump
dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
echo "alumnos.exe imports:" $dlls
status=0
for dll in $dlls; do
  case "$dll" in
    kernel32.dll | msvcrt.dll | user32.dll | advapi32.dll | ntdll.dll) ;;
    *) echo "not a system DLL: $dll"; status=1 ;;
  esac
done
[ -n "$dlls" ] || { echo "no imports read from $exe"; status=1; }
exit $status
