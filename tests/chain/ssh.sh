#!/usr/bin/env bash
# vornbatch -S through a real sshd: the test starts sshd on 127.0.0.1 at a
# free port with a throwaway host key and client key in a temporary folder,
# runs vornbatch over it (GNU parallel's ssh mode) on two recordings, and
# checks that every output equals that of a local run and that the work did
# go through ssh. The sshd it started is ended by its process id.
#
#   ssh.sh BINDIR SCRIPTDIR
set -u
bindir=$(cd "$1" && pwd)
scripts=$(cd "$2" && pwd)
sshd=$(command -v sshd || echo /usr/sbin/sshd)
for tool in "$sshd" ssh ssh-keygen parallel; do
  command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is missing (openssh-server, openssh-client, parallel)"; exit 77; }
done
export PATH="$bindir:$scripts:$PATH" LC_ALL=C

tmp=$(mktemp -d)
pid=
# shellcheck disable=SC2317  # run by the EXIT trap
cleanup() {
  if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  fi
  rm -rf -- "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $1"; [ -f "$tmp/sshd.log" ] && sed 's/^/sshd: /' "$tmp/sshd.log"; exit 1; }

ssh-keygen -q -t ed25519 -N '' -C host -f "$tmp/host_key" || fail "ssh-keygen"
ssh-keygen -q -t ed25519 -N '' -C client -f "$tmp/client_key" || fail "ssh-keygen"
cp "$tmp/client_key.pub" "$tmp/authorized_keys"
mkdir -p /run/sshd 2>/dev/null

# A free port: nothing answers on it; sshd is tried on a few in turn.
free_port() {
  local p
  for _ in $(seq 1 50); do
    p=$((20000 + RANDOM % 40000))
    (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null || { echo "$p"; return 0; }
  done
  return 1
}
up=0
for _ in 1 2 3 4 5; do
  port=$(free_port) || fail "no free port"
  cat >"$tmp/sshd_config" <<CONF
Port $port
ListenAddress 127.0.0.1
HostKey $tmp/host_key
PidFile $tmp/sshd.pid
AuthorizedKeysFile $tmp/authorized_keys
PermitRootLogin yes
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
SetEnv PATH=$bindir:$scripts:/usr/local/bin:/usr/bin:/bin LC_ALL=C
LogLevel INFO
CONF
  "$sshd" -D -e -f "$tmp/sshd_config" 2>"$tmp/sshd.log" &
  pid=$!
  for _ in $(seq 1 50); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then up=1; break; fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  [ $up -eq 1 ] && break
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  pid=
done
[ $up -eq 1 ] || fail "sshd did not start"

# GNU parallel calls this for ssh (PARALLEL_SSH): the port, the key and a
# known-hosts file of the test's own.
cat >"$tmp/ssh" <<WRAP
#!/bin/sh
exec ssh -p $port -i "$tmp/client_key" -o StrictHostKeyChecking=no -o UserKnownHostsFile="$tmp/known_hosts" -o BatchMode=yes -o LogLevel=ERROR "\$@"
WRAP
chmod +x "$tmp/ssh"
export PARALLEL_SSH="$tmp/ssh" HOME="$tmp/home"
mkdir -p "$HOME"
remote_path=$("$tmp/ssh" 127.0.0.1 printenv PATH) || fail "ssh to 127.0.0.1 refused"
case ":$remote_path:" in *":$bindir:"*) ;; *) fail "the remote PATH is $remote_path" ;; esac

# Two recordings, one with a space and a quote in its name.
mkdir -p "$tmp/in/site one" "$tmp/in/it's two"
vornsim -s 1 -c 2 -r 100 -d 150 -k 2 -o "$tmp/in/site one/r" || fail "vornsim"
vornsim -s 2 -c 3 -r 100 -d 200 -k 3 -o "$tmp/in/it's two/r" || fail "vornsim"

vornbatch -q -S 1/127.0.0.1 "$tmp/in" "$tmp/out" >"$tmp/table.ssh" 2>"$tmp/err.ssh"
st=$?
cat "$tmp/table.ssh" "$tmp/err.ssh"
[ $st -eq 0 ] || fail "vornbatch -S ended with status $st"
logins=$(grep -c 'Accepted publickey' "$tmp/sshd.log")
[ "$logins" -ge 2 ] || fail "the work did not go through ssh ($logins logins)"
mv "$tmp/out" "$tmp/out.ssh"

vornbatch -q "$tmp/in" "$tmp/out" >"$tmp/table.local" 2>"$tmp/err.local" || fail "local vornbatch"
cmp -s "$tmp/table.ssh" "$tmp/table.local" || fail "the tables differ"
# Every file equal but the time stamps in DONE.
diff -r -x DONE "$tmp/out.ssh" "$tmp/out" || fail "outputs differ"
for r in "site one" "it's two"; do
  if [ ! -f "$tmp/out.ssh/$r/DONE" ] || [ ! -f "$tmp/out/$r/DONE" ]; then fail "$r: no DONE"; fi
  [ -s "$tmp/out/$r/final.txt" ] || fail "$r: empty grid"
done
echo "vornbatch -S over $logins ssh logins: outputs equal a local run's"
exit 0
