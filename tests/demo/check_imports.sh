#!/bin/sh
# check_imports.sh OBJDUMP PROGRAM...
# Fails unless every PROGRAM imports only libraries every Windows has, so that one copied
# alone (with its music) runs: no MinGW runtime, no C++ library, no thread library.
set -u
objdump=$1
shift
status=0
for program in "$@"; do
  libraries=$("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
  [ -n "$libraries" ] || { echo "$program: no imports found"; status=1; continue; }
  for library in $libraries; do
    case "$library" in
      kernel32.dll | user32.dll | gdi32.dll | opengl32.dll | winmm.dll | msacm32.dll | msvcrt.dll) ;;
      *) echo "$program imports $library, which Windows does not ship"; status=1 ;;
    esac
  done
done
[ "$status" -eq 0 ] && echo "only system libraries imported"
exit "$status"
