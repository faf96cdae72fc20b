#!/bin/sh
# compare_xrun.sh LINUX_XRUN FILE... -- WINDOWS_XRUN_COMMAND...
# Runs every file option of xrun (--tokens, --code, --disasm, --script: those its --help names) of the
# Linux build and of the Windows build on every FILE and on a few texts made here, and fails
# unless standard output, standard error and exit status are the same byte for byte.
set -u
linux_xrun=$1
shift
files=""
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  files="$files $1"
  shift
done
[ $# -gt 1 ] || { echo "usage: compare_xrun.sh LINUX_XRUN FILE... -- WINDOWS_XRUN_COMMAND..." >&2; exit 2; }
shift
if [ ! -x "$linux_xrun" ]; then
  echo "no Linux xrun at $linux_xrun: build the Linux tree first (make build)" >&2
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Line ends of every kind, tabs, bytes above 127, an unterminated string, numbers at the edges.
printf 'OBJECT caf\351 : "na\357ve"\r\n\tx = -2147483648;\r$7fffffff 1e39 .5 0.\n"open\n\n' >"$work/mixed.txt"
printf '' >"$work/empty.txt"
files="$files $work/mixed.txt $work/empty.txt $work/absent.txt"

options=""
for option in --tokens --code --disasm --script; do
  if "$linux_xrun" --help | grep -q -- "$option FILE"; then options="$options $option"; fi
done

failed=0
count=0
for option in $options; do
  for file in $files; do
    count=$((count + 1))
    "$linux_xrun" "$option" "$file" >"$work/linux.out" 2>"$work/linux.err"
    linux_status=$?
    "$@" "$option" "$file" >"$work/windows.out" 2>"$work/windows.err"
    windows_status=$?
    if [ "$linux_status" != "$windows_status" ] || ! cmp -s "$work/linux.out" "$work/windows.out" ||
       ! cmp -s "$work/linux.err" "$work/windows.err"; then
      echo "differs: xrun $option $file (exit status $linux_status on Linux, $windows_status on Windows)"
      diff "$work/linux.out" "$work/windows.out" | head -20
      diff "$work/linux.err" "$work/windows.err" | head -5
      failed=$((failed + 1))
    fi
  done
done
echo "$((count - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
