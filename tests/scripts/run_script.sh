#!/bin/sh
# run_script.sh FILE XRUN_COMMAND...
# Runs `xrun --script` on FILE from FILE's folder (so reports name the file alone) and
# compares what it writes with the expectations in FILE's comments, in file order:
#   // expect: LINE          a line of standard output (CR LF ends are stripped)
#   // expect-stderr: LINE   a line of standard error
#   // expect-status: N      the exit status (0 when not given)
# One space after the colon is part of the marker; "// expect:" alone expects an empty line.
set -u
[ $# -ge 2 ] || { echo "usage: run_script.sh FILE XRUN_COMMAND..." >&2; exit 2; }
file=$1
shift
[ -f "$file" ] || { echo "run_script.sh: no script $file" >&2; exit 2; }
folder=$(dirname "$file")
name=$(basename "$file")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

sed -n 's#^.*// expect: \{0,1\}##p' "$file" >"$work/expected.out"
sed -n 's#^.*// expect-stderr: \{0,1\}##p' "$file" >"$work/expected.err"
expected_status=$(sed -n 's#^.*// expect-status: *\([0-9][0-9]*\).*$#\1#p' "$file" | tail -n 1)
[ -n "$expected_status" ] || expected_status=0

(cd "$folder" && "$@" --script "$name") >"$work/raw.out" 2>"$work/raw.err"
status=$?
tr -d '\r' <"$work/raw.out" >"$work/actual.out"
tr -d '\r' <"$work/raw.err" >"$work/actual.err"

failed=0
if ! cmp -s "$work/expected.out" "$work/actual.out"; then
  echo "$name: standard output differs (- expected, + xrun):"
  diff -u "$work/expected.out" "$work/actual.out" | tail -n +3
  failed=1
fi
if ! cmp -s "$work/expected.err" "$work/actual.err"; then
  echo "$name: standard error differs (- expected, + xrun):"
  diff -u "$work/expected.err" "$work/actual.err" | tail -n +3
  failed=1
fi
if [ "$status" != "$expected_status" ]; then
  echo "$name: exit status $status, expected $expected_status"
  failed=1
fi
[ "$failed" -eq 0 ] && echo "$name: $(wc -l <"$work/actual.out") lines as expected"
exit "$failed"
