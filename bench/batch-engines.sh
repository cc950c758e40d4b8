#!/usr/bin/env bash
# The time of one batch through vornbatch's two engines on this machine:
# GNU parallel (-j, default one per core), and Slurm on a private one-node
# cluster (tests/slurm/cluster.sh; needs root, Slurm and munge) with the
# default 2 CPUs per task and with 1 CPU per task. Every run converts the
# same recordings into its own folder; the final grids must agree.
#
#   bench/batch-engines.sh [-n RECORDINGS] [-d SECONDS] [-r RATE] BINDIR
#
# Defaults: 20 recordings of one hour, three channels at 1000 Hz.
set -u
count=20
seconds=3600
rate=1000
while getopts "n:d:r:" opt; do
  case $opt in
    n) count=$OPTARG ;;
    d) seconds=$OPTARG ;;
    r) rate=$OPTARG ;;
    *) echo "usage: bench/batch-engines.sh [-n RECORDINGS] [-d SECONDS] [-r RATE] BINDIR" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[ $# -eq 1 ] || { echo "usage: bench/batch-engines.sh [-n RECORDINGS] [-d SECONDS] [-r RATE] BINDIR" >&2; exit 2; }
bindir=$(cd "$1" && pwd)
src=$(cd "$(dirname "$0")/.." && pwd)
export PATH="$bindir:$src/scripts:$PATH"
# shellcheck source-path=SCRIPTDIR source=../tests/slurm/cluster.sh
source "$src/tests/slurm/cluster.sh"

work=$(mktemp -d)
trap 'cluster_stop; rm -rf "$work"' EXIT
for ((i = 1; i <= count; i++)); do
  mkdir -p "$work/in/rec$i"
  vornsim -s "$i" -c 3 -r "$rate" -d "$seconds" -t 1483272000.2501 -j 2 -k 4 -o "$work/in/rec$i/rec" || exit 1
done
echo "$count recordings of $seconds s, 3 channels at $rate Hz: $(du -sm "$work/in" | cut -f1) MB of recorder files"

run() {  # LABEL VORNBATCH-ARGS...
  local label=$1 start end out=$work/out
  shift
  rm -rf "$out"
  start=$(date +%s.%N)
  vornbatch -q "$@" "$work/in" "$out" >"$work/table" || { echo "$label: vornbatch failed"; cat "$work/table"; exit 1; }
  end=$(date +%s.%N)
  awk -v l="$label" -v a="$start" -v z="$end" 'BEGIN { printf "%-34s %7.1f s\n", l, z - a }'
  # Each run's grids against the first's.
  if [ -d "$work/first" ]; then
    for ((i = 1; i <= count; i++)); do
      cmp -s "$work/first/rec$i" "$out/rec$i/final.txt" || { echo "rec$i: the grids differ"; exit 1; }
    done
  else
    mkdir "$work/first"
    for ((i = 1; i <= count; i++)); do mv "$out/rec$i/final.txt" "$work/first/rec$i"; done
  fi
}

run "GNU parallel (one per core)"
cluster_start "$work/cluster" >/dev/null || { echo "no Slurm cluster: $(cluster_missing)"; exit 1; }
run "Slurm, 2 CPUs per task (default)" -R slurm
run "Slurm, 1 CPU per task" -R slurm -B --cpus-per-task=1
