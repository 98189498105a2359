#!/usr/bin/env bash
# Stands up a one-node Slurm on this machine, runs a command against it and
# shuts it down again:
#
#   tests/slurm/one_node_slurm.sh COMMAND [ARG ...]
#
# munged, slurmctld and slurmd are started as root, in the foreground as
# children of this script, with every file under a fresh temporary folder,
# the node's own name and CPU count, and two loopback ports that were free
# a moment before (so that neither a real cluster nor a second run of this
# script is disturbed). COMMAND runs with SLURM_CONF naming that
# configuration, so every Slurm command it starts talks to this Slurm. On
# the way out, whatever the way, the jobs still in the queue are cancelled
# and the three daemons stopped by their process ids.
#
# Exit status: COMMAND's; 77, with the reason on standard output, where the
# Slurm and munge commands are missing, this is not root, or the one-node
# Slurm does not start.
set -u
SKIPPED=77
skip() { echo "skipped: $*"; exit $SKIPPED; }

[ $# -gt 0 ] || { echo "usage: $0 COMMAND [ARG ...]" >&2; exit 2; }
for command in munged munge slurmctld slurmd sbatch squeue scancel sinfo; do
  command -v "$command" >/dev/null 2>&1 ||
    skip "$command not found (Debian packages slurm-wlm and munge)"
done
[ "$(id -u)" -eq 0 ] || skip "not root (the one-node Slurm's daemons run as root)"

T=$(mktemp -d "${TMPDIR:-/tmp}/tolvanex-slurm.XXXXXX") || skip "no temporary folder"
# munged wants every folder above its socket searchable by all.
chmod 755 "$T"
mkdir -p "$T/state" "$T/spool" "$T/log"
daemons=()   # process ids, in the order started

stop_daemons() {
  if [ ${#daemons[@]} -eq 3 ]; then
    jobs=$(squeue --noheader --format=%A 2>/dev/null | sort -u)
    if [ -n "$jobs" ]; then
      # shellcheck disable=SC2086
      scancel $jobs 2>/dev/null
      for _ in $(seq 120); do
        [ -z "$(squeue --noheader 2>/dev/null)" ] && break
        sleep 0.5
      done
    fi
  fi
  local i pid
  for ((i = ${#daemons[@]} - 1; i >= 0; i--)); do
    pid=${daemons[i]}
    kill "$pid" 2>/dev/null || continue
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  rm -rf "$T"
}
trap stop_daemons EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

logs() {
  for log in "$T"/log/*; do
    [ -s "$log" ] && { echo "--- $(basename "$log") (last lines)"; tail -n 15 "$log"; }
  done
}
cannot_start() { echo "the one-node Slurm does not start: $*"; logs; exit $SKIPPED; }

# munge: authentication between the Slurm commands and daemons.
dd if=/dev/urandom of="$T/munge.key" bs=1024 count=1 status=none
chmod 400 "$T/munge.key"
munged --foreground --force --socket="$T/munge.sock" --key-file="$T/munge.key" \
  --pid-file="$T/munged.pid" --seed-file="$T/munge.seed" >"$T/log/munged.log" 2>&1 &
daemons+=($!)
for _ in $(seq 100); do
  munge --no-input --socket="$T/munge.sock" >/dev/null 2>&1 && break
  kill -0 "${daemons[0]}" 2>/dev/null || cannot_start "munged ended"
  sleep 0.1
done
munge --no-input --socket="$T/munge.sock" >/dev/null 2>&1 || cannot_start "munged does not answer"

# Two ports free on the loopback interface, for slurmctld and slurmd.
read -r ctld_port slurmd_port < <(python3 -c '
import socket
sockets = [socket.socket() for _ in range(2)]
for s in sockets:
    s.bind(("127.0.0.1", 0))
print(*(s.getsockname()[1] for s in sockets))') || cannot_start "no free port"

node=$(hostname -s)
memory_mb=$(awk '/^MemTotal:/ { print int($2 / 1024 * 0.9) }' /proc/meminfo)
cat >"$T/slurm.conf" <<EOF
ClusterName=tolvanextest
SlurmctldHost=$node(127.0.0.1)
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CryptoType=crypto/munge
AuthInfo=socket=$T/munge.sock
MpiDefault=none
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
ReturnToService=2
SlurmctldPidFile=$T/slurmctld.pid
SlurmdPidFile=$T/slurmd.pid
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
StateSaveLocation=$T/state
SlurmdSpoolDir=$T/spool
SlurmctldLogFile=$T/log/slurmctld.log
SlurmdLogFile=$T/log/slurmd.log
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
JobCompType=jobcomp/none
AccountingStorageType=accounting_storage/none
NodeName=$node NodeAddr=127.0.0.1 CPUs=$(nproc) RealMemory=$memory_mb State=UNKNOWN
PartitionName=debug Nodes=$node Default=YES MaxTime=INFINITE State=UP
EOF
export SLURM_CONF="$T/slurm.conf"

slurmctld -D -f "$SLURM_CONF" >"$T/log/slurmctld.out" 2>&1 &
daemons+=($!)
slurmd -D -f "$SLURM_CONF" -N "$node" >"$T/log/slurmd.out" 2>&1 &
daemons+=($!)
state=
for _ in $(seq 60); do
  state=$(sinfo --noheader --format=%T --nodes="$node" 2>/dev/null)
  [ "$state" = idle ] && break
  for pid in "${daemons[@]}"; do kill -0 "$pid" 2>/dev/null || cannot_start "a daemon ended"; done
  sleep 1
done
[ "$state" = idle ] || cannot_start "node $node is '${state:-not known}' after 60 s, not idle"
echo "one-node Slurm up: node $node, ports $ctld_port and $slurmd_port, SLURM_CONF=$SLURM_CONF"

"$@"
