#!/usr/bin/env bash
# A synthetic recording written as four numbered recorder files, ordered by
# vornseq and joined by vornjoin, must be the recording written as one
# stream, and vornconv must give the same lines for both.
#   split_recording.sh BINDIR
# Exit status 77 (skipped) when vornsim or vornconv is not built.
set -u
bindir=$(cd "$1" && pwd)
export PATH="$bindir:$PATH" LC_ALL=C
for p in vornsim vornconv vornseq vornjoin; do
  [ -x "$bindir/$p" ] || { echo "skipped: $p is not built"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

# Seven minutes of three channels at 100 Hz with jitter, aux groups, status
# blocks and runs, damaged stretches and a stretch without GPS.
opts=(-s 11 -c 3 -r 100 -d 420 -j 3 -g 200:30 -a 30 -x 60 -X 45 -z 3 -N 7)
mkdir rec
vornsim "${opts[@]}" -k 4 -o rec/part || { echo "vornsim -k failed"; exit 1; }
vornsim "${opts[@]}" > whole.vrn || { echo "vornsim failed"; exit 1; }

# Order the files by their numbers (listed here in reverse on purpose).
: > order.txt
for f in $(printf '%s\n' rec/*.vrn | sort -r); do
  n=$(vornseq "$f") || { echo "vornseq $f failed"; exit 1; }
  echo "$n $f" >> order.txt
done
numbers=$(sort -n order.txt | cut -d' ' -f1 | paste -sd' ')
[ "$numbers" = "7 8 9 10" ] || { echo "numbers: $numbers"; exit 1; }
mapfile -t files < <(sort -n order.txt | cut -d' ' -f2)

vornjoin "${files[@]}" > joined.vrn 2> join.err || { echo "vornjoin failed"; cat join.err; exit 1; }
expected_progress=$(printf 'processing file #%d rec/part%04d.vrn (seqno %d)\n' 1 7 7 2 8 8 3 9 9 4 10 10)
[ "$(cat join.err)" = "$expected_progress" ] || { echo "progress lines:"; cat join.err; exit 1; }
cmp joined.vrn whole.vrn || { echo "joined stream differs from the whole recording"; exit 1; }

vornconv < joined.vrn > joined.txt 2> joined.err
s1=$?
vornconv < whole.vrn > whole.txt 2> whole.err
s2=$?
[ "$s1" = "$s2" ] || { echo "vornconv status $s1 on the joined stream, $s2 on the whole"; exit 1; }
cmp joined.txt whole.txt || { echo "vornconv lines differ"; exit 1; }
cmp joined.err whole.err || { echo "vornconv messages differ"; exit 1; }
# The comparison means something only if there are timed sample lines.
timed=$(awk 'NR > 1 && NF == 6 && $5 != "-1"' joined.txt | wc -l)
[ "$timed" -gt 100 ] || { echo "only $timed timed sample lines"; exit 1; }
echo "ok: $(wc -l < joined.txt) lines, $timed timed"
