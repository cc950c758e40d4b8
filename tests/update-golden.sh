#!/usr/bin/env bash
# Rewrites the expected files of golden cases after a deliberate change:
#   tests/update-golden.sh BINDIR [CASEDIR...]   (default: every case)
# Read the diff before committing it.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
bindir=$1
shift
if [ $# -eq 0 ]; then
  set -- "$here"/*/cases/*/
fi
for c in "$@"; do
  [ -f "$c/run" ] && bash "$here/golden.sh" "$bindir" "$c" --update
done
