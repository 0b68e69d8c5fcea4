#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Dask and SLURM examples of docs/splitting-runs.md, run for real with a
# smaller batch: the Dask one on a local cluster, the job array under a
# single-node SLURM this script starts (munged, slurmctld, slurmd, all on
# 127.0.0.1, with a generated slurm.conf and munge key) and stops again.
# Each merged folder must equal the whole batch run at once, byte for byte.
# SLURM needs root (CI runs as root); without root or the packages, or where
# the daemons cannot start, the part is skipped with its reason, and the
# script exits 77 when nothing ran. PATCHWRIGHT_REQUIRE_SLURM=1 (set by CI,
# which runs as root on a whole machine) makes a SLURM that cannot run a
# failure instead.
set -uo pipefail
cli=$(realpath "$1")
docs=$2
export PATH="$(dirname "$cli"):$PATH"
work=$(mktemp -d)
ran=0
daemons=()
cleanup() {
  for pid in "${daemons[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${daemons[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT

small='fractal --hurst 0.6:0.8:0.1 --cover 30:50:10 --size 33 --replicates 2 --metrics'

# The block after <!-- tested: NAME --> in the document.
block() {
  awk -v name="$1" '
    $0 == "<!-- tested: " name " -->" { found = 1; next }
    found && /^```/ && !inside { inside = 1; next }
    inside && /^```/ { exit }
    inside { print }' "$docs/splitting-runs.md"
}

# The whole batch beside `merged` in $1, compared file for file.
compare() {
  (cd "$1" && patchwright-cli $small --out whole --quiet) || return 1
  local whole merged
  whole=$(cd "$1/whole" && pwd -P)
  merged=$(cd "$1/merged" && pwd -P)
  [[ $(ls "$whole" | wc -l) -eq 20 ]] || { echo "whole run is short"; return 1; }
  diff <(ls -A "$whole") <(ls -A "$merged") || return 1
  for f in "$whole"/*; do
    name=$(basename "$f")
    if [[ $name == *ListFragStat.fbt ]]; then
      cmp <(sed "s|^$whole/|$merged/|" "$f") "$merged/$name" || return 1
    else
      cmp "$f" "$merged/$name" || return 1
    fi
  done
}

smaller() {
  sed -e 's/^SHARES=[0-9]*$/SHARES=3/' -e 's/^SHARES = [0-9]*$/SHARES = 3/' \
      -e "s/^BATCH=(.*)\$/BATCH=($small)/" \
      -e "s/^BATCH = .*\$/BATCH = \"$small\".split()/" \
      -e 's/^#SBATCH --array=.*/#SBATCH --array=1-3/' \
      -e 's/^#SBATCH --mem=.*/#SBATCH --mem=100M/'
}

status=0
if /usr/bin/python3 -c 'import dask.distributed, pandas' 2>/dev/null; then
  mkdir "$work/dask"
  block dask | smaller > "$work/dask/shards.py"
  if (cd "$work/dask" && timeout 120 /usr/bin/python3 shards.py > out.txt 2> err.txt) &&
      compare "$work/dask"; then
    echo "dask example: merged run equals the whole run"
    ran=1
  else
    echo "dask example failed:"; cat "$work/dask/err.txt"; status=1
  fi
else
  echo "skipped the Dask example: python3-dask, python3-distributed or python3-pandas missing"
fi

if [[ $(id -u) -ne 0 ]]; then
  echo "skipped the SLURM example: starting slurmctld and slurmd needs root"
elif ! command -v slurmctld > /dev/null || ! command -v slurmd > /dev/null ||
    ! command -v munged > /dev/null || ! command -v sbatch > /dev/null; then
  echo "skipped the SLURM example: slurm-wlm or munge is not installed"
else
  s=$work/slurm
  mkdir -p "$s/state" "$s/spool" "$s/munge" "$s/run"
  chmod 700 "$s/munge"
  dd if=/dev/urandom of="$s/munge/munge.key" bs=1024 count=1 status=none
  chmod 400 "$s/munge/munge.key"
  munged --foreground --force --socket="$s/munge/munge.sock" --key-file="$s/munge/munge.key" \
    --pid-file="$s/munge/munged.pid" --log-file="$s/munge/munged.log" \
    --seed-file="$s/munge/munge.seed" &
  daemons+=($!)
  port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
  memory=$(awk '/MemTotal/ { print int($2 / 1024) - 256 }' /proc/meminfo)
  cat > "$s/slurm.conf" <<CONF
ClusterName=patchwright
SlurmctldHost=localhost(127.0.0.1)
SlurmctldPort=$(port)
SlurmdPort=$(port)
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$s/munge/munge.sock
SlurmUser=root
SlurmdUser=root
StateSaveLocation=$s/state
SlurmdSpoolDir=$s/spool
SlurmctldPidFile=$s/run/slurmctld.pid
SlurmdPidFile=$s/run/slurmd.pid
SlurmctldLogFile=$s/slurmctld.log
SlurmdLogFile=$s/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
MpiDefault=none
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
JobCompType=jobcomp/none
AccountingStorageType=accounting_storage/none
JobAcctGatherType=jobacct_gather/none
SlurmctldParameters=enable_configless
NodeName=localhost NodeAddr=127.0.0.1 CPUs=$(nproc) RealMemory=$memory State=UNKNOWN
PartitionName=test Nodes=localhost Default=YES MaxTime=INFINITE State=UP
CONF
  export SLURM_CONF=$s/slurm.conf
  for _ in $(seq 50); do [[ -S $s/munge/munge.sock ]] && break; sleep 0.1; done
  slurmctld -D -f "$SLURM_CONF" > "$s/slurmctld.out" 2>&1 &
  daemons+=($!)
  slurmd -D -N localhost -f "$SLURM_CONF" > "$s/slurmd.out" 2>&1 &
  daemons+=($!)
  mkdir "$s/job"
  block slurm-job | smaller > "$s/job/shards.sh"
  block merge > "$s/job/merge.sh"
  up=0
  for _ in $(seq 100); do
    if sinfo -h -o %T 2>/dev/null | grep -qE '^(idle|mixed)'; then up=1; break; fi
    # A daemon that has ended will not bring the node up.
    for pid in "${daemons[@]}"; do kill -0 "$pid" 2>/dev/null || break 2; done
    sleep 0.2
  done
  if [[ $up -eq 0 ]]; then
    echo "the single-node SLURM did not start:"
    tail -n 5 "$s"/munge/munged.log "$s"/slurmctld.log "$s"/slurmd.log "$s"/*.out 2>/dev/null
    if [[ ${PATCHWRIGHT_REQUIRE_SLURM:-0} == 1 ]]; then
      status=1
    else
      echo "skipped the SLURM example: its daemons cannot start here"
    fi
  elif (cd "$s/job" && timeout 120 sbatch --wait --quiet --export=ALL \
        -o "$s/job/task-%a.out" shards.sh) && (cd "$s/job" && bash merge.sh > /dev/null) &&
      compare "$s/job"; then
    echo "SLURM job array: merged run equals the whole run"
    ran=1
  else
    echo "SLURM example failed:"
    tail -n 20 "$s"/slurmctld.log "$s"/slurmd.log "$s"/job/*.out 2>/dev/null
    status=1
  fi
fi
if [[ $status -ne 0 ]]; then exit 1; fi
if [[ $ran -eq 0 ]]; then exit 77; fi
exit 0
