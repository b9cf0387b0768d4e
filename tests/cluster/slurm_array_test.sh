#!/usr/bin/env bash
# Starts a single-node Slurm cluster of its own (munged, slurmctld, slurmd with a private
# slurm.conf, all in a scratch folder), runs examples/cluster/slurm-convert.sh over 4 shards and
# compares the union of the shards' outputs with one plain run, byte for byte. Exits 77 (skipped)
# when Slurm or munge is not installed or the daemons do not come up; it never passes without the
# array having run.
#
#   slurm_array_test.sh KORVEXPRO EXAMPLES_DIR CLUSTER_EXAMPLE_DIR
set -uo pipefail
korvexpro=$1
examples=$2
cluster=$3
skip() {
  echo "SKIP: $*" >&2
  exit 77
}
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

for tool in munged slurmctld slurmd sbatch sinfo scontrol; do
  command -v "$tool" > /dev/null || skip "$tool is not installed (Debian packages slurm-wlm and munge)"
done

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kvx-slurm.XXXXXX")
chmod 755 "$scratch"
pids=()
stop_daemons() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2> /dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2> /dev/null
  done
  rm -rf "$scratch"
}
trap stop_daemons EXIT
show_logs() {
  local f
  for f in "$scratch"/log/*.log; do
    echo "---- $f" >&2
    tail -n 20 "$f" >&2
  done
}

# ---- munge: a key and a daemon of our own --------------------------------------------------------
mkdir -p "$scratch/munge" "$scratch/log" "$scratch/state" "$scratch/spool"
chmod 700 "$scratch/munge"
dd if=/dev/urandom of="$scratch/munge/munge.key" bs=1024 count=1 status=none
chmod 600 "$scratch/munge/munge.key"
socket="$scratch/munge/munge.socket"
munged --foreground --force --key-file="$scratch/munge/munge.key" --socket="$socket" \
  --pid-file="$scratch/munge/munged.pid" --seed-file="$scratch/munge/munge.seed" \
  --log-file="$scratch/log/munged.log" 2> "$scratch/log/munged.err" &
pids+=($!)
for _ in $(seq 50); do [ -S "$socket" ] && break; sleep 0.1; done
[ -S "$socket" ] || { cat "$scratch/log/munged.err" >&2; skip "munged did not start"; }

# ---- slurm.conf for this machine as its only node ------------------------------------------------
free_port() {
  /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
node=$(hostname -s)
user=$(id -un)
cpus=$(nproc)
ctld_port=$(free_port)
slurmd_port=$(free_port)
export SLURM_CONF="$scratch/slurm.conf"
cat > "$SLURM_CONF" << CONF
ClusterName=kvxtest
SlurmctldHost=$node(127.0.0.1)
SlurmUser=$user
SlurmdUser=$user
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
AuthType=auth/munge
AuthInfo=socket=$socket
CredType=cred/munge
StateSaveLocation=$scratch/state
SlurmdSpoolDir=$scratch/spool
SlurmctldPidFile=$scratch/slurmctld.pid
SlurmdPidFile=$scratch/slurmd.pid
SlurmctldLogFile=$scratch/log/slurmctld.log
SlurmdLogFile=$scratch/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
MpiDefault=none
ReturnToService=2
SlurmdTimeout=60
InactiveLimit=0
KillWait=5
NodeName=$node NodeAddr=127.0.0.1 CPUs=$cpus State=UNKNOWN
PartitionName=kvx Nodes=$node Default=YES MaxTime=INFINITE State=UP OverSubscribe=YES
CONF

slurmctld -D -i -f "$SLURM_CONF" > "$scratch/log/slurmctld.out" 2>&1 &
pids+=($!)
slurmd -D -f "$SLURM_CONF" -N "$node" > "$scratch/log/slurmd.out" 2>&1 &
pids+=($!)
up=""
for _ in $(seq 60); do
  state=$(sinfo -h -N -o "%T" 2> /dev/null | head -n 1)
  if [ "$state" = "idle" ] || [ "$state" = "mixed" ]; then up=1; break; fi
  sleep 0.5
done
if [ -z "$up" ]; then
  show_logs
  cat "$scratch"/log/*.out >&2
  skip "the single-node Slurm did not come up (node state: ${state:-none})"
fi
echo "Slurm is up: node $node, $cpus CPUs"

# ---- The archive: the demo project in six folders, with its layers queued on their own too ---------
for d in 1 2 3 4 5 6; do
  mkdir -p "$scratch/maps/d$d"
  cp "$examples"/*.mpj "$examples"/*.w? "$scratch/maps/d$d/"
done
cp "$examples/Pcolor.lib" "$scratch/"
convert_args=(--all-files --mode avl --lib "$scratch" "$scratch/maps")

"$korvexpro" --config "$scratch/settings.ini" convert -q -j 1 -o "$scratch/plain" "${convert_args[@]}" \
  > "$scratch/plain.txt" || fail "the plain run failed: $(tail -n 3 "$scratch/plain.txt")"

export KORVEXPRO="$korvexpro"
export SBATCH_OPTIONS="--cpus-per-task=1 --time=10"
XDG_CONFIG_HOME="$scratch/config" timeout 300 "$cluster/slurm-convert.sh" -n 4 -o "$scratch/sharded" \
  -w "$scratch/run" -- "${convert_args[@]}" > "$scratch/report.txt" 2>&1
status=$?
cat "$scratch/report.txt"
if [ $status -ne 0 ]; then
  show_logs
  cat "$scratch"/run/shard-*.err >&2 2> /dev/null
  fail "slurm-convert.sh ended with status $status"
fi

# ---- Every shard ran as an array task, and their union is the plain run ----------------------------
for i in 0 1 2 3; do
  [ -s "$scratch/run/report-$i.jsonl" ] || fail "shard $i wrote no report"
done
grep -q '"shard":"3/4"' "$scratch/run/report-3.jsonl" || fail "shard 3 did not run as shard 3/4"
grep -q "of $(($(wc -l < "$scratch/plain.txt") - 1)) planned" "$scratch/report.txt" || fail "the report does not cover the plan"
plain_files=$(cd "$scratch/plain" && find . -type f | sort)
sharded_files=$(cd "$scratch/sharded" && find . -type f | sort)
[ "$plain_files" = "$sharded_files" ] || fail "the shards wrote other files than the plain run:
$(diff <(echo "$plain_files") <(echo "$sharded_files"))"
count=0
while IFS= read -r f; do
  cmp -s "$scratch/plain/$f" "$scratch/sharded/$f" || fail "$f differs"
  count=$((count + 1))
done <<< "$plain_files"
[ "$count" -gt 50 ] || fail "only $count files written"
echo "PASS: 4 shards as a Slurm job array wrote the $count files of the plain run, byte for byte"
