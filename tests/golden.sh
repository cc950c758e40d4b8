#!/usr/bin/env bash
# Runs one golden case and compares its whole output with the expected files.
#
#   golden.sh BINDIR CASEDIR            compare
#   golden.sh BINDIR CASEDIR --update   write the expected files anew
#
# The case's `run` script runs in a fresh temporary folder with BINDIR first
# on PATH (so programs are invoked by their plain names) and CASE set to the
# case folder (for input files kept there); the chain scripts are on PATH too. Its standard output, standard
# error and exit status are compared with `stdout`, `stderr` and `status`.
set -u
bindir=$(cd "$1" && pwd)
case_dir=$(cd "$2" && pwd)
mode=${3:-compare}
scripts=$(cd "$(dirname "$0")/../scripts" && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(
  cd "$work" || exit 99
  export PATH="$bindir:$scripts:$PATH" CASE="$case_dir" LC_ALL=C
  bash "$case_dir/run" >"$work/.stdout" 2>"$work/.stderr"
  echo $? >"$work/.status"
) </dev/null

if [ "$mode" = "--update" ]; then
  cp "$work/.stdout" "$case_dir/stdout"
  cp "$work/.stderr" "$case_dir/stderr"
  cp "$work/.status" "$case_dir/status"
  echo "updated $case_dir"
  exit 0
fi

fail=0
for f in stdout stderr status; do
  if [ ! -f "$case_dir/$f" ]; then
    echo "missing expected file $case_dir/$f"
    fail=1
  elif ! cmp -s "$case_dir/$f" "$work/.$f"; then
    echo "--- $f differs (expected vs actual):"
    diff <(od -c "$case_dir/$f" | head -c 4000) <(od -c "$work/.$f" | head -c 4000) | head -40
    fail=1
  fi
done
exit $fail
