#!/usr/bin/env bash
# vornbatch -R slurm on a private one-node Slurm cluster (tests/slurm/cluster.sh):
#   - three recordings (a space and a quote in one name; $, a leading - and a
#     non-ASCII letter in another; one of random bytes): every file equals a
#     local run's byte for byte, the tables and statuses agree, nothing is
#     written into the submitting folder, -B options arrive as one argument;
#   - an array task cancelled while it runs: stopped by the cluster, status
#     1, and a rerun converts it;
#   - SIGTERM to a waiting vornbatch cancels its array;
#   - an unknown partition, no controller, no sbatch, a name holding a line
#     feed: one line, a non-zero status, nothing submitted;
#   - -W returns while the task still runs, a later run prints the table;
#   - progress on a terminal (script), none with -q.
# A task is held at will by a vornjoin in front of the real one that waits
# for a file while it joins a recording named "slow".
#
#   batch.sh BINDIR      status 77 (skipped) without root, Slurm or munge
set -u
bindir=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
scripts=$(cd "$here/../../scripts" && pwd)
# shellcheck source-path=SCRIPTDIR source=cluster.sh
source "$here/cluster.sh"

work=$(cd "$(mktemp -d)" && pwd -P)
cleanup() {
  cluster_stop
  rm -rf "$work"
}
trap cleanup EXIT
cluster_start "$work/cluster"
st=$?
[ $st -eq 0 ] || exit $st
export PATH="$bindir:$scripts:$PATH" LC_ALL=C.UTF-8

failures=0
check() {  # TEXT COMMAND...: runs the command, says ok or FAIL
  if "${@:2}"; then
    echo "ok   $1"
  else
    echo "FAIL $1"
    failures=$((failures + 1))
  fi
}
# Waits up to 60 s for a file to appear.
await() {
  local i
  for ((i = 0; i < 300; i++)); do
    [ -e "$1" ] && return 0
    sleep 0.2
  done
  echo "no $1 after 60 s"
  return 1
}
jobs_known() { scontrol -o show job 2>/dev/null | grep -c '^JobId='; }

cd "$work" || exit 1
mkdir -p sub in "in/it's a b" "in/-\$x ü" in/noise
vornsim -s 1 -c 2 -r 50 -d 120 -t 1483272000.2501 -k 2 -o "in/it's a b/rec"
vornsim -s 2 -c 3 -r 100 -d 90 -t 1483272000.2501 -k 3 -o "in/-\$x ü/rec"
head -c 200000 /dev/urandom >in/noise/rec0001.vrn

# Same files and table as a local run (into a folder of the same name, which
# the batch page shows); nothing in the submitting folder.
mkdir l
vornbatch in l/out >local.table 2>local.err
local_status=$?
(cd sub && vornbatch -R slurm -B "--comment=one arg \$HOME" ../in ../out >../slurm.table 2>../slurm.err)
slurm_status=$?
check "the tables agree" cmp local.table slurm.table
check "the statuses agree ($local_status)" [ "$local_status" = "$slurm_status" ]
check "one recording fails" grep -q '^noise  *failed' slurm.table
check "nothing on standard error" [ ! -s slurm.err ]
check "nothing in the submitting folder" [ -z "$(ls -A sub)" ]
same_files() {
  local f rel ok=0
  while IFS= read -r -d '' f; do
    rel=${f#l/out/}
    case $rel in
      joblog.txt) continue ;;
      */DONE) [ -f "out/$rel" ] || { echo "missing out/$rel"; ok=1; }; continue ;;
    esac
    # The summary names its own folder.
    if [[ $rel == */summary.txt ]]; then
      cmp -s <(sed "s|^== $work/l/out/|== $work/out/|" "$f") "out/$rel" || { echo "differs: $rel"; ok=1; }
    else
      cmp -s "$f" "out/$rel" || { echo "differs: $rel"; ok=1; }
    fi
  done < <(find l/out -type f -print0)
  # Besides those: only Slurm's task output and the array's own folder.
  while IFS= read -r -d '' f; do
    rel=${f#out/}
    case $rel in .slurm/* | */slurm-*.out) continue ;; esac
    [ -e "l/out/$rel" ] || { echo "extra: $rel"; ok=1; }
  done < <(find out -type f -print0)
  return $ok
}
check "every file equals the local run's" same_files
job=$(cat out/.slurm/batch-1/jobid)
check "the task output lands in the recording's folder" [ -f "out/it's a b/slurm-${job}_1.out" ]
check "the job script names the vornchain it runs" grep -qF "chain=$scripts/vornchain" out/.slurm/batch-1/job.sh
check "the list file holds the recordings" cmp out/.slurm/batch-1/recordings.txt <(ls in)
info=$(scontrol -o show job "${job}_0")
check "defaults: the job name" grep -q ' JobName=vornbatch ' <<<"$info"
check "defaults: 2 CPUs, 1 GiB" grep -q 'TRES=cpu=2,mem=1G,' <<<"$info"
# shellcheck disable=SC2016 # the text as it stands
check "-B is one argument" grep -qF ' Comment=one arg $HOME ' <<<"$info"
vornbatch -R slurm in out >again.table 2>&1
check "a second run: the converted ones are done" [ "$(grep -c ' done ' again.table)" = 2 ]
check "... and only the failed one goes again" [ "$(cat out/.slurm/batch-2/recordings.txt)" = noise ]

# A task cancelled while it runs.
mkdir -p hold wrap cin/slow cin/fast
cp "in/it's a b/"* cin/slow/
cp "in/it's a b/"* cin/fast/
cat >wrap/vornjoin <<EOF
#!/usr/bin/env bash
case "\$*" in
  */slow/*) : >"$work/hold/started"; while [ ! -e "$work/hold/release" ]; do sleep 0.2; done ;;
esac
exec "$bindir/vornjoin" "\$@"
EOF
chmod +x wrap/vornjoin
export PATH="$work/wrap:$PATH"
vornbatch -R slurm -B --cpus-per-task=1 cin cout >cancel.table 2>cancel.err &
pid=$!
await hold/started
job=$(cat cout/.slurm/batch-1/jobid)
slow=$(grep -n '^slow$' cout/.slurm/batch-1/recordings.txt | cut -d: -f1)
scancel "${job}_$((slow - 1))"
wait $pid
st=$?
check "a cancelled task: status 1" [ $st = 1 ]
check "a cancelled task: stopped by the cluster" grep -q '^slow  *stopped  *by the cluster (CANCELLED)$' cancel.table
check "a cancelled task: the other one converted" grep -q '^fast  *ok' cancel.table
check "a cancelled task: no DONE" [ ! -e cout/slow/DONE ]
: >hold/release
vornbatch -R slurm cin cout >rerun.table 2>&1
st=$?
check "the rerun converts it" grep -q '^slow  *ok' rerun.table
check "the rerun: status 0" [ $st = 0 ]
rm -f hold/*

# SIGTERM while waiting cancels the array.
vornbatch -R slurm -f cin tout >term.out 2>term.err &
pid=$!
await hold/started
kill -TERM $pid
wait $pid
st=$?
job=$(cat tout/.slurm/batch-1/jobid)
check "SIGTERM: status 143" [ $st = 143 ]
check "SIGTERM: says the array is cancelled" grep -qx "vornbatch: interrupted: job array $job cancelled (scancel)" term.err
# scancel asks; the tasks take a moment to end.
queue_empty() {
  local i
  for ((i = 0; i < 75; i++)); do
    [ -z "$(squeue -h -j "$1" -o %i 2>/dev/null)" ] && return 0
    sleep 0.2
  done
  return 1
}
check "SIGTERM: nothing left in the queue" queue_empty "$job"

# Refused before anything runs.
before=$(jobs_known)
vornbatch -R slurm -B --partition=nosuch in nout >nosuch.out 2>nosuch.err
st=$?
check "an unknown partition: status 1" [ $st = 1 ]
check "an unknown partition: one line naming it" [ "$(wc -l <nosuch.err)" = 1 ] && grep -q '^vornbatch: sbatch failed, nothing submitted: .*nosuch' nosuch.err
check "an unknown partition: nothing submitted" [ "$(jobs_known)" = "$before" ]
check "an unknown partition: nothing left in OUTDIR" [ -z "$(ls -A nout)" ]
sed 's/^SlurmctldPort=.*/SlurmctldPort=1/' "$SLURM_CONF" >dead.conf
SLURM_CONF=$work/dead.conf vornbatch -R slurm in dout >dead.out 2>dead.err
st=$?
check "no controller: status 1, one line" [ $st = 1 ] && [ "$(wc -l <dead.err)" = 1 ] && grep -q 'Unable to contact' dead.err
check "no controller: nothing left in OUTDIR" [ -z "$(ls -A dout)" ]
mkdir nosbatch
for f in /usr/bin/*; do [ "${f##*/}" = sbatch ] || ln -s "$f" nosbatch/; done
PATH=$bindir:$scripts:$work/nosbatch vornbatch -R slurm in sout >nosb.out 2>nosb.err
st=$?
check "no sbatch: status 2, one line" [ $st = 2 ] && [ "$(wc -l <nosb.err)" = 1 ] && grep -q '^vornbatch: sbatch not found' nosb.err
mkdir -p "lin/a
b"
cp "in/it's a b/"* "lin/a
b/"
vornbatch -R slurm lin lout >lf.out 2>lf.err
st=$?
check "a line feed in a name: refused" [ $st = 1 ] && [ "$(wc -l <lf.err)" = 1 ] && grep -q 'line feed' lf.err
check "a line feed in a name: nothing submitted" [ "$(jobs_known)" = "$before" ]

# -W returns at once; a later run waits for the array and prints the table.
rm -f hold/*
vornbatch -R slurm -W -j 1 cin wout >w.out 2>w.err
st=$?
job=$(cat wout/.slurm/batch-1/jobid)
check "-W: status 0" [ $st = 0 ]
check "-W: names the job id" grep -q "job array $job" w.out
check "-W: returns while the task runs" [ -n "$(squeue -h -j "$job" -o %i)" ]
check "-j: tasks at once" grep -q ' ArrayTaskThrottle=1 ' <(scontrol -o show job "$job")
await hold/started
# Interrupting a run that waits for an earlier array leaves that array.
: >wterm.err
vornbatch -R slurm cin wout >/dev/null 2>wterm.err &
pid=$!
# A loaded machine (the sanitizer build, other tests at once) may take a while.
for ((i = 0; i < 600; i++)); do
  grep -q 'waiting for it' wterm.err && break
  sleep 0.1
done
kill -TERM $pid
wait $pid
st=$?
check "SIGTERM while waiting for an earlier array: status 143" [ $st = 143 ]
check "... which goes on" grep -qx "vornbatch: interrupted: job array $job of an earlier run goes on" wterm.err
check "... still in the queue" [ -n "$(squeue -h -j "$job" -o %i)" ]
: >hold/release
vornbatch -R slurm cin wout >w.table 2>w.err
st=$?
check "-W: the later run prints the table" [ "$(grep -c -E '^(fast|slow)  *(ok|done) ' w.table)" = 2 ]
check "-W: the later run: status 0" [ $st = 0 ]
check "-W: the later run submits nothing new" [ ! -e wout/.slurm/batch-2 ]

# Progress on a terminal only, and not with -q.
if command -v script >/dev/null; then
  script -qec "vornbatch -R slurm -f cin pout" /dev/null >tty.out 2>&1
  check "a terminal shows the recordings done, running and waiting" grep -q -E 'recordings: [0-2] done, [0-2] running, [0-2] waiting' tty.out
  check "... and then the table" grep -q '^slow  *ok' tty.out
  script -qec "vornbatch -q -R slurm -f cin pout" /dev/null >tty.out 2>&1
  check "-q: no progress" eval '! grep -q "recordings:" tty.out'
fi

if [ $failures -gt 0 ]; then
  for f in slurm.err cancel.table cancel.err rerun.table nosuch.err dead.err nosb.err lf.err w.out wterm.err w.table w.err; do
    echo "--- $f"
    cat "$f"
  done
  echo "--- end of the controller's log"
  tail -n 20 "$work/cluster/slurmctld.log"
fi
[ $failures -eq 0 ]
