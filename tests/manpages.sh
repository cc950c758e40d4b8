#!/usr/bin/env bash
# Checks that each program has a manual page, that every option letter of
# the program is described in it (as \-x or -x), and that every page renders
# without a warning from groff.
set -u
man=$1
fail=0
check() {  # page letters...
  local page="$man/$1.1"
  shift
  if [ ! -f "$page" ]; then
    echo "missing manual page $page"
    fail=1
    return
  fi
  for l in "$@"; do
    if ! grep -q -E -- "(\\\\-|(^|[][ (,|])-)${l}([^A-Za-z0-9]|\$)" "$page"; then
      echo "$page does not describe option -$l"
      fail=1
    fi
  done
}
check vornconv x f a u g t d s m i c
check vornconv_classic x u g t a d s
check timefit o t
check regrid o t
check axisturn r
check stampfill
check vornseq
check vornjoin
check vornhead
check vornsim s c r d t f p j u U g G O a x X z V n T N D A F k o
check vornchain s q k A
check vornbatch j S f k q A R B W
check grid2mseed n s l c r e o A
check timereport e r p i
for page in "$man"/*.1; do
  warnings=$(groff -man -ww -z "$page" 2>&1)
  if [ -n "$warnings" ]; then
    echo "$page: groff warns:"
    echo "$warnings"
    fail=1
  fi
done
exit $fail
