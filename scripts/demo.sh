#!/usr/bin/env bash
# Builds the toolchain, makes a synthetic recording of four numbered recorder
# files with vornsim and runs the whole chain on it, showing its progress and
# summary; the final grid, the tag list and every stage's messages stay in
# demo-out/. Ends with a non-zero status when the chain fails.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" -j "$(nproc)" >/dev/null
export PATH="$root/build/bin:$root/scripts:$PATH"

demo="$root/demo-out"
rm -rf "$demo"
mkdir -p "$demo/recording"
# Ten minutes (from 2017-01-01 12:00 UTC) of three channels at 100 Hz, a 40 s loss of GPS lock, three GPS
# outliers, aux readings, status blocks and a few damaged stretches.
vornsim -s 7 -c 3 -r 100 -d 600 -t 1483272000.2501 -p 3.5 -j 3 -g 200:40 -O 3 -a 30 -x 60 -z 3 -k 4 -o "$demo/recording/rec"
echo "recorder files: $(cd "$demo/recording" && printf '%s ' *)"
# The chain shows its progress on a terminal, then the summary.
if ! vornchain -s "$demo" "$demo/recording"; then
  echo "demo: the chain failed; its messages are in $demo" >&2
  exit 1
fi
echo "the results and every stage's messages: $demo"
