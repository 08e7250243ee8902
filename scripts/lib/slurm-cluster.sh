# Sourced by the cluster test (and usable by hand): a one-node Slurm cluster with its own
# configuration, key, state and logs in one folder, started without systemd and stopped by pid.
#
#   source scripts/lib/slurm-cluster.sh
#   x5_slurm_usable || exit 77        # says why not: not root, packages missing
#   x5_slurm_start build/slurm pgid   # munged (as the munge user), slurmctld, slurmd; sinfo idle
#   sbatch ...                        # SLURM_CONF points at the folder's slurm.conf
#   x5_slurm_stop                     # cancels what is left, stops the daemons by pid
#
# The daemons run in the foreground of this shell, so their pids are known at once; the pid files
# they write serve the next start, which stops what a run killed outright left. The batch jobs'
# step daemons are found by the SLURM_CONF they inherit from slurmd.

x5_slurm_dir=""
x5_slurm_pids=()  # munged, slurmctld, slurmd, in the order started
x5_slurm_node="x5node"

# x5_slurm_usable: whether a cluster can be brought up here; says why not on standard error.
x5_slurm_usable() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "slurm-cluster: needs root (slurmd starts jobs as their users)" >&2
    return 1
  fi
  local tool missing=()
  for tool in munged slurmctld slurmd sbatch scancel scontrol sinfo squeue setpriv python3; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "slurm-cluster: missing ${missing[*]} (scripts/setup installs slurm-wlm and munge)" >&2
    return 1
  fi
  if ! id munge >/dev/null 2>&1; then
    echo "slurm-cluster: no munge user (the munge package makes it)" >&2
    return 1
  fi
}

# Two free TCP ports on the loopback, so that runs side by side do not meet.
x5_slurm_free_ports() {
  python3 -c '
import socket
held = [socket.socket() for _ in range(2)]
for s in held:
    s.bind(("127.0.0.1", 0))
print(" ".join(str(s.getsockname()[1]) for s in held))'
}

# x5_slurm_write_config DIR PROCTRACK: slurm.conf and cgroup.conf for one node on this machine.
x5_slurm_write_config() {
  local dir="$1" proctrack="$2" ports
  read -r -a ports <<<"$(x5_slurm_free_ports)"
  cat >"$dir/slurm.conf" <<EOF
ClusterName=x5test
SlurmctldHost=$(hostname -s)(127.0.0.1)
SlurmctldPort=${ports[0]}
SlurmdPort=${ports[1]}
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$dir/munge/socket
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/slurmctld.log
SlurmdLogFile=$dir/slurmd.log
SlurmctldDebug=info
SlurmdDebug=info
ProctrackType=proctrack/$proctrack
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MpiDefault=none
SwitchType=switch/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SchedulerType=sched/builtin
ReturnToService=2
JobRequeue=0
SlurmdParameters=config_overrides
# Short waits: a test cancels and times out jobs on purpose.
KillWait=5
MessageTimeout=10
MinJobAge=600
InactiveLimit=0
NodeName=$x5_slurm_node NodeHostname=$(hostname -s) NodeAddr=127.0.0.1 CPUs=4 State=UNKNOWN
PartitionName=x5 Nodes=ALL Default=YES MaxTime=INFINITE State=UP
EOF
  cat >"$dir/cgroup.conf" <<EOF
CgroupPlugin=autodetect
CgroupMountpoint=/sys/fs/cgroup
EOF
}

# x5_slurm_reap DIR: stops the cluster a run that was killed outright left in DIR: its daemons
# are found by the pids they wrote there (each checked to be that daemon of that folder) and
# stopped as x5_slurm_stop stops its own.
x5_slurm_reap() {
  local dir pidfile pid
  [ -d "$1" ] || return 0
  dir="$(cd "$1" && pwd -P)"
  [ -f "$dir/slurm.conf" ] || return 0
  x5_slurm_dir="$dir"
  x5_slurm_pids=()
  for pidfile in "$dir/munge/pid" "$dir/slurmctld.pid" "$dir/slurmd.pid"; do
    pid="$(cat "$pidfile" 2>/dev/null)" || continue
    if tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline" | grep -qF "$dir/"; then
      x5_slurm_pids+=("$pid")
    fi
  done
  SLURM_CONF="$dir/slurm.conf" x5_slurm_stop
}

# x5_slurm_start DIR [PROCTRACK]: brings the cluster up in DIR (made afresh) with process tracking
# PROCTRACK (pgid, linuxproc or cgroup; default pgid); exports SLURM_CONF. Fails, with the end
# of the daemons' logs, when the node is not idle within 30 s.
x5_slurm_start() {
  local folder dir proctrack="${2:-pgid}"
  folder="$(realpath -m "$1")"
  x5_slurm_reap "$folder"
  # The daemons' Unix sockets (munge's, one per job step in the spool folder) must stay within
  # 108 bytes: a deep folder becomes a link to a short one.
  if [ -L "$folder" ]; then
    rm -rf "$(readlink "$folder")" "$folder"
  fi
  if [ ${#folder} -gt 60 ]; then
    rm -rf "$folder"
    mkdir -p "$(dirname "$folder")"
    ln -s "$(mktemp -d /tmp/x5-slurm.XXXXXX)" "$folder"
    chmod 0755 "$(readlink "$folder")"
  fi
  mkdir -p "$folder"
  dir="$(cd "$folder" && pwd -P)"
  x5_slurm_dir="$dir"
  rm -rf "${dir:?}"/*
  mkdir -p "$dir/munge" "$dir/state" "$dir/spool"
  x5_slurm_write_config "$dir" "$proctrack"
  export SLURM_CONF="$dir/slurm.conf"

  # munged insists on a key only its user can read and a socket folder only it can write.
  dd if=/dev/urandom of="$dir/munge/key" bs=1024 count=1 status=none
  chown -R munge:munge "$dir/munge"
  chmod 0700 "$dir/munge"
  chmod 0400 "$dir/munge/key"
  setpriv --reuid=munge --regid=munge --clear-groups \
    munged --foreground --force --socket="$dir/munge/socket" --key-file="$dir/munge/key" \
    --pid-file="$dir/munge/pid" --log-file="$dir/munge/log" --seed-file="$dir/munge/seed" \
    </dev/null >/dev/null 2>&1 &
  x5_slurm_pids+=($!)
  local _
  for _ in $(seq 1 100); do
    [ -S "$dir/munge/socket" ] && break
    sleep 0.05
  done

  slurmctld -D -i -f "$SLURM_CONF" </dev/null >"$dir/slurmctld.out" 2>&1 &
  x5_slurm_pids+=($!)
  # A node that registers before the controller listens tries again only some seconds later.
  for _ in $(seq 1 300); do
    scontrol ping 2>/dev/null | grep -q 'is UP' && break
    sleep 0.1
  done
  slurmd -D -N "$x5_slurm_node" -f "$SLURM_CONF" </dev/null >"$dir/slurmd.out" 2>&1 &
  x5_slurm_pids+=($!)

  local state=""
  for _ in $(seq 1 300); do
    state="$(sinfo -h -n "$x5_slurm_node" -o %T 2>/dev/null || true)"
    [ "$state" = "idle" ] && return 0
    sleep 0.1
  done
  echo "slurm-cluster: the node is '${state:-not answering}' after 30 s" >&2
  tail -n 20 "$dir"/munge/log "$dir"/slurmctld.log "$dir"/slurmd.log "$dir"/*.out >&2 2>/dev/null
  return 1
}

# The pids of the step daemons this cluster's slurmd started: they outlive slurmd and inherit its
# SLURM_CONF. (The name is read first: it costs nothing, while reading the environment of some
# processes waits for them.)
x5_slurm_stepd_pids() {
  local comm pid name
  [ -n "$x5_slurm_dir" ] || return 0
  for comm in /proc/[0-9]*/comm; do
    read -r name 2>/dev/null <"$comm" || continue
    [ "$name" = "slurmstepd" ] || continue
    pid="${comm#/proc/}"
    pid="${pid%/comm}"
    if tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" |
      grep -qxF "SLURM_CONF=$x5_slurm_dir/slurm.conf"; then
      echo "$pid"
    fi
  done
}

# The pids of a process and of all its descendants.
x5_slurm_tree() {
  ps -eo pid=,ppid= | awk -v root="$1" '
    { children[$2] = children[$2] " " $1 }
    END {
      queue[1] = root; n = 1
      for (i = 1; i <= n; i++) {
        print queue[i]
        count = split(children[queue[i]], kids, " ")
        for (k = 1; k <= count; k++) queue[++n] = kids[k]
      }
    }'
}

# x5_slurm_stop: cancels every job still there and waits for them to end; ends what a step daemon
# still holds when that did not work (slurmd gone, say): the step daemon and all its descendants,
# the batch script, x5ctl and its runner among them; then stops the daemons by pid. Safe to call
# twice and when the start failed half-way.
x5_slurm_stop() {
  local pid _
  if [ ${#x5_slurm_pids[@]} -gt 0 ] && [ -n "$x5_slurm_dir" ]; then
    # Every job of this cluster: it has no others.
    scancel --quiet --full --user=root >/dev/null 2>&1 || true
    for _ in $(seq 1 100); do
      [ -z "$(squeue -h 2>/dev/null)" ] && break
      sleep 0.1
    done
  fi
  for pid in $(x5_slurm_stepd_pids); do
    # shellcheck disable=SC2046 # one pid a word
    kill -KILL $(x5_slurm_tree "$pid") 2>/dev/null || true
  done
  local i
  for ((i = ${#x5_slurm_pids[@]} - 1; i >= 0; i--)); do
    pid="${x5_slurm_pids[$i]}"
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 1 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  x5_slurm_pids=()
}
