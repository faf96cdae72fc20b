#!/bin/sh
# compare_xrun.sh DIRECTORY LINUX_XRUN FILE... -- WINDOWS_XRUN_COMMAND...
# Runs, in DIRECTORY, every mode of xrun its --help names (a FILE alone, --tree, --tokens,
# --code, --disasm, --script, and --app on the shipped window type with each FILE) of the
# Linux build and of the Windows build on every FILE and on a few texts made here, and fails
# unless standard output, standard error and exit status are the same byte for byte.
set -u
directory=$1
linux_xrun=$2
shift 2
files=""
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  files="$files $1"
  shift
done
[ $# -gt 1 ] || { echo "usage: compare_xrun.sh DIRECTORY LINUX_XRUN FILE... -- WINDOWS_XRUN_COMMAND..." >&2; exit 2; }
shift
if [ ! -x "$linux_xrun" ]; then
  echo "no Linux xrun at $linux_xrun: build the Linux tree first (make build)" >&2
  exit 1
fi
cd "$directory" || exit 1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Line ends of every kind, tabs, bytes above 127, an unterminated string, numbers at the edges.
printf 'OBJECT caf\351 : "na\357ve"\r\n\tx = -2147483648;\r$7fffffff 1e39 .5 0.\n"open\n\n' >"$work/mixed.txt"
printf '' >"$work/empty.txt"
files="$files $work/mixed.txt $work/empty.txt $work/absent.txt"

usage=$("$linux_xrun" --help)
modes=""
case "$usage" in *"xrun FILE"*) modes="plain" ;; esac
for option in --tree --tokens --code --disasm --script; do
  case "$usage" in *"xrun $option FILE"*) modes="$modes $option" ;; esac
done
window_type=data/types/window.txt
case "$usage" in *"xrun --app TYPEFILE CONTENTSFILE"*) [ -f "$window_type" ] && modes="$modes --app" ;; esac

failed=0
count=0
compare() {
  count=$((count + 1))
  "$linux_xrun" "$@" >"$work/linux.out" 2>"$work/linux.err"
  linux_status=$?
  $windows_xrun "$@" >"$work/windows.out" 2>"$work/windows.err"
  windows_status=$?
  if [ "$linux_status" != "$windows_status" ] || ! cmp -s "$work/linux.out" "$work/windows.out" ||
     ! cmp -s "$work/linux.err" "$work/windows.err"; then
    echo "differs: xrun $* (exit status $linux_status on Linux, $windows_status on Windows)"
    diff "$work/linux.out" "$work/windows.out" | head -20
    diff "$work/linux.err" "$work/windows.err" | head -5
    failed=$((failed + 1))
  fi
}
windows_xrun="$*"
for mode in $modes; do
  for file in $files; do
    case "$mode" in
      plain) compare "$file" ;;
      --app) compare --app "$window_type" "$file" ;;
      *) compare "$mode" "$file" ;;
    esac
  done
done
echo "$((count - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
