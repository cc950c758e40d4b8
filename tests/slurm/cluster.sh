#!/usr/bin/env bash
# A private one-node Slurm cluster for the tests, started and stopped by
# process id.
#
#   source tests/slurm/cluster.sh
#   cluster_start DIR     start munged, slurmctld and slurmd with their files
#                         in DIR; exports SLURM_CONF; status 77 (skip) when
#                         not root or when Slurm or munge are missing
#   cluster_stop          stop the daemons that cluster_start started
#
#   cluster.sh start DIR  the same from a shell (the daemons stay running)
#   cluster.sh stop DIR
#
# The cluster has its own munge key and socket, its own ports (free ones,
# chosen at start), state and spool folders, and log files, all in DIR, so
# it does not meet a Slurm or munge already running on the machine. Its one
# node is this host under its short name with 2 CPUs and 4 GiB; finished
# jobs stay known to scontrol for an hour, and their records go to
# DIR/jobcomp.txt.

# cluster_missing: prints why this machine cannot run the cluster, if so.
cluster_missing() {
  local p
  if [ "$(id -u)" -ne 0 ]; then
    echo "slurmd and slurmctld of a private cluster need root"
    return 0
  fi
  for p in munged mungekey slurmctld slurmd sbatch squeue scontrol scancel sinfo; do
    if ! command -v "$p" >/dev/null 2>&1; then
      echo "$p is missing (packages slurm-wlm and munge, scripts/deps.sh installs them)"
      return 0
    fi
  done
  return 1
}

# cluster_free_port: a TCP port that nothing listens on, from a range
# away from the usual services.
cluster_free_port() {
  local port used
  used=$(awk 'NR > 1 && $4 == "0A" { split($2, a, ":"); print a[2] }' /proc/net/tcp /proc/net/tcp6 2>/dev/null)
  while :; do
    port=$((20000 + RANDOM % 30000))
    printf -v hex '%04X' "$port"
    grep -qx "$hex" <<<"$used" || break
  done
  echo "$port"
}

cluster_write_conf() {  # DIR HOST CTLDPORT SLURMDPORT
  local dir=$1 host=$2
  cat >"$dir/slurm.conf" <<EOF
ClusterName=vorntest
SlurmctldHost=$host(127.0.0.1)
SlurmUser=root
SlurmdUser=root
SlurmctldPort=$3
SlurmdPort=$4
AuthType=auth/munge
AuthInfo=socket=$dir/munge/socket
CredType=cred/munge
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/slurmctld.log
SlurmdLogFile=$dir/slurmd.log
SlurmctldDebug=info
SlurmdDebug=info
PlugStackConfig=$dir/plugstack.conf
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core_Memory
SlurmdParameters=config_overrides
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/filetxt
JobCompLoc=$dir/jobcomp.txt
MpiDefault=none
SwitchType=switch/none
ReturnToService=2
MinJobAge=3600
DefMemPerCPU=256
KillWait=5
SchedulerType=sched/backfill
NodeName=$host NodeAddr=127.0.0.1 CPUs=2 RealMemory=4096 State=UNKNOWN
PartitionName=main Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
  : >"$dir/plugstack.conf"
}

# cluster_wait_up: waits until the node takes jobs; 1 when a daemon died
# or it took too long.
cluster_wait_up() {
  local i state
  for ((i = 0; i < 150; i++)); do
    kill -0 "$CLUSTER_CTLD_PID" 2>/dev/null || return 1
    kill -0 "$CLUSTER_SLURMD_PID" 2>/dev/null || return 1
    state=$(sinfo -h -N -o '%T' 2>/dev/null)
    case $state in idle | mixed | allocated) return 0 ;; esac
    sleep 0.2
  done
  return 1
}

cluster_start() {  # DIR
  local why dir host try
  if why=$(cluster_missing); then
    echo "skipped: $why"
    return 77
  fi
  mkdir -p "$1" || return 1
  dir=$(cd "$1" && pwd) || return 1
  CLUSTER_DIR=$dir
  host=$(hostname -s)
  mkdir -p "$dir/munge" "$dir/state" "$dir/spool" || return 1
  chmod 700 "$dir/munge"
  mungekey -c -f -k "$dir/munge/key" || return 1
  munged -F -f --socket="$dir/munge/socket" --key-file="$dir/munge/key" \
    --pid-file="$dir/munge/pid" --log-file="$dir/munge/log" \
    --seed-file="$dir/munge/seed" </dev/null >"$dir/munge/out" 2>&1 &
  CLUSTER_MUNGED_PID=$!
  for ((try = 0; try < 50; try++)); do
    [ -S "$dir/munge/socket" ] && break
    sleep 0.1
  done
  if [ ! -S "$dir/munge/socket" ]; then
    echo "munged did not start: $(cat "$dir/munge/out" "$dir/munge/log" 2>/dev/null | tail -n 1)"
    cluster_stop
    return 1
  fi
  export SLURM_CONF=$dir/slurm.conf
  # A port taken between the choice and the start makes a daemon end;
  # then the cluster starts again on other ports.
  for ((try = 0; try < 3; try++)); do
    cluster_write_conf "$dir" "$host" "$(cluster_free_port)" "$(cluster_free_port)"
    rm -rf "${dir:?}/state/"* "${dir:?}/spool/"*
    slurmctld -D -i -f "$SLURM_CONF" </dev/null >"$dir/slurmctld.out" 2>&1 &
    CLUSTER_CTLD_PID=$!
    slurmd -D -N "$host" -f "$SLURM_CONF" </dev/null >"$dir/slurmd.out" 2>&1 &
    CLUSTER_SLURMD_PID=$!
    if cluster_wait_up; then
      return 0
    fi
    cluster_stop_slurm
  done
  echo "the private Slurm cluster did not start; the end of its logs:"
  tail -n 5 "$dir/slurmctld.log" "$dir/slurmd.log" "$dir/slurmctld.out" "$dir/slurmd.out" 2>/dev/null
  cluster_stop
  return 1
}

cluster_stop_pid() {  # PID
  local i
  [ -n "$1" ] || return 0
  kill "$1" 2>/dev/null || return 0
  for ((i = 0; i < 100; i++)); do
    kill -0 "$1" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$1" 2>/dev/null
  wait "$1" 2>/dev/null
  return 0
}

cluster_stop_slurm() {
  cluster_stop_pid "${CLUSTER_SLURMD_PID-}"
  cluster_stop_pid "${CLUSTER_CTLD_PID-}"
  CLUSTER_SLURMD_PID=
  CLUSTER_CTLD_PID=
}

cluster_stop() {
  local i
  # Job steps outlive slurmd: cancel what still runs, and give it a moment.
  if [ -n "${CLUSTER_CTLD_PID-}" ] && kill -0 "$CLUSTER_CTLD_PID" 2>/dev/null; then
    scancel --full --user=root 2>/dev/null
    for ((i = 0; i < 50; i++)); do
      [ -z "$(squeue -h -o %i 2>/dev/null)" ] && break
      sleep 0.2
    done
  fi
  cluster_stop_slurm
  cluster_stop_pid "${CLUSTER_MUNGED_PID-}"
  CLUSTER_MUNGED_PID=
}

# From a shell: the process ids are kept in DIR/pids between start and stop.
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -u
  case ${1-}:${2-} in
    start:?*)
      cluster_start "$2" || exit
      printf '%s %s %s\n' "$CLUSTER_MUNGED_PID" "$CLUSTER_CTLD_PID" "$CLUSTER_SLURMD_PID" >"$CLUSTER_DIR/pids"
      echo "export SLURM_CONF=$SLURM_CONF"
      ;;
    stop:?*)
      read -r CLUSTER_MUNGED_PID CLUSTER_CTLD_PID CLUSTER_SLURMD_PID <"$2/pids" || exit 1
      export SLURM_CONF=$2/slurm.conf
      # Not children of this shell: wait for them by polling.
      cluster_stop
      rm -f "$2/pids"
      ;;
    *)
      echo "usage: cluster.sh start|stop DIR" >&2
      exit 2
      ;;
  esac
fi
