#!/usr/bin/env bash
# Builds the libFuzzer harnesses of fuzz/ with clang and runs each of them.
#
#   scripts/fuzz.sh [SECONDS] [HARNESS...]
#
# SECONDS per harness (default 60); the harnesses named, or all of them. Each
# runs on a copy of its seed corpus fuzz/corpus/<harness>/; what it finds is
# written to fuzz/findings/ (crash-*, leak-*, timeout-*, oom-*, with the
# harness's name in front). The run fails, naming the input, when a harness
# finds a crash, a leak, undefined behaviour, an input that runs longer than
# 10 s or one that needs more than 2 GB.
#
# Environment: FUZZ_JOBS harnesses at a time (default 1), FUZZ_LOGS a folder
# that keeps each harness's log and grown corpus (default: a temporary
# folder, removed at the end), FUZZ_BUILD the build folder (default
# build-fuzz/).
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
all=(vornconv vornconv_classic timefit stampfill regrid axisturn header_line recorder_header integer_scan decimal_scan grid2mseed timereport)

seconds=${1:-60}
if ! [[ $seconds =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "fuzz.sh: SECONDS must be a whole number above 0, not '$seconds'" >&2
  exit 2
fi
[ $# -gt 0 ] && shift
harnesses=("$@")
[ ${#harnesses[@]} -eq 0 ] && harnesses=("${all[@]}")
for h in "${harnesses[@]}"; do
  if [ ! -f "$root/fuzz/${h}_fuzz.cpp" ]; then
    echo "fuzz.sh: no harness '$h' (there are: ${all[*]})" >&2
    exit 2
  fi
done
jobs=${FUZZ_JOBS:-1}
[[ $jobs =~ ^[1-9][0-9]*$ ]] || jobs=1

if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz.sh: clang++ not found (install clang and libclang-rt-dev)" >&2
  exit 2
fi

build=${FUZZ_BUILD:-$root/build-fuzz}
if ! cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DVORN_FUZZ=ON -DVORN_TESTS=OFF >"$build.configure.log" 2>&1; then
  echo "fuzz.sh: configuring the harnesses failed, see $build.configure.log" >&2
  exit 2
fi
rm -f "$build.configure.log"
targets=()
for h in "${harnesses[@]}"; do targets+=("${h}_fuzz"); done
if ! cmake --build "$build" -j "$(nproc)" --target "${targets[@]}" >"$build.build.log" 2>&1; then
  tail -n 30 "$build.build.log" >&2
  echo "fuzz.sh: building the harnesses failed, see $build.build.log" >&2
  exit 2
fi
rm -f "$build.build.log"

findings="$root/fuzz/findings"
mkdir -p "$findings"
if [ -n "${FUZZ_LOGS:-}" ]; then
  logs=$FUZZ_LOGS
  mkdir -p "$logs"
else
  logs=$(mktemp -d)
  trap 'rm -rf "$logs"' EXIT
fi

# Leaks are faults; UBSan stops at the first report (the build makes every
# check fatal), and so does ASan.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:symbolize=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

run_one() {
  local h=$1 corpus="$logs/$1.corpus" log="$logs/$1.log"
  rm -rf "$corpus"
  mkdir -p "$corpus"
  cp "$root/fuzz/corpus/$h/." "$corpus/" -R
  "$build/bin/${h}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$findings/$h-" "$corpus" >"$log" 2>&1
  local status=$?
  local execs cov
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1)
  if [ "$status" -eq 0 ]; then
    echo "$h: clean, ${execs:-?} executions, ${cov:-cov: ?}"
    return 0
  fi
  local input
  input=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -n 1)
  echo "$h: FINDING (status $status): ${input:-no input written}; log: $log" >&2
  grep -m 3 -E '^(==[0-9]+==ERROR|SUMMARY|invariant broken|.*runtime error)' "$log" >&2
  return 1
}

failed=0
running=0
for h in "${harnesses[@]}"; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
  run_one "$h" &
  running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
if [ "$failed" -ne 0 ]; then
  echo "fuzz.sh: a harness found a fault; the inputs are in $findings" >&2
  [ -z "${FUZZ_LOGS:-}" ] && trap - EXIT && echo "fuzz.sh: logs kept in $logs" >&2
  exit 1
fi
echo "fuzz.sh: every harness ran clean for ${seconds} s"
