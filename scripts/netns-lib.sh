# Pieces shared by the scripts that run servers in network namespaces; source
# it. Every process is stopped by its number, never by its name: other suites
# run the same servers on this machine at the same time.

# Stops the process whose number FILE holds and removes FILE.
stop_pid_file() {
  local file=$1 pid
  [[ -s $file ]] || return 0
  pid=$(<"$file")
  [[ $pid =~ ^[0-9]+$ ]] && stop_pids "$pid"
  rm -f "$file"
}

# Stops the given processes: a polite signal, five seconds' grace, then a kill
# of those still there (a number may be reused once its process ends, so only
# then).
stop_pids() {
  (($#)) || return 0
  kill "$@" 2>/dev/null || true
  local pid left
  for _ in $(seq 50); do
    left=0
    for pid in "$@"; do kill -0 "$pid" 2>/dev/null && left=1; done
    ((left)) || return 0
    sleep 0.1
  done
  for pid in "$@"; do kill -0 "$pid" 2>/dev/null && kill -9 "$pid" 2>/dev/null; done
  return 0
}

# A network namespace with a mount namespace of its own, kept alive by one
# sleeping process: `ns_holder_start NS` prints that process's number, and
# `ns_run PID CMD...` runs CMD inside both namespaces. Mounts made there
# (a private /run, the namespace's own /etc/hosts) are seen by nothing else
# and vanish with the namespace.
ns_holder_start() {
  local ns=$1 pid
  ip netns exec "$ns" unshare -m --propagation private sleep infinity </dev/null >/dev/null 2>&1 &
  pid=$!
  # `ip netns exec` and unshare exec in place: the namespaces are ready once
  # the process is the sleep.
  for _ in $(seq 100); do
    [[ $(cat "/proc/$pid/comm" 2>/dev/null) == sleep ]] && { echo "$pid"; return 0; }
    sleep 0.02
  done
  return 1
}

ns_run() {
  local pid=$1
  shift
  nsenter -t "$pid" -m -n -- "$@"
}

# Stops every process in the network namespaces NS... (all of them started
# by the script that made them), all at once, and deletes the namespaces.
ns_stop() {
  local ns pids=() present=()
  for ns in "$@"; do
    ip netns list | awk -v ns="$ns" '$1 == ns {found = 1} END {exit !found}' || continue
    present+=("$ns")
    # shellcheck disable=SC2207
    pids+=($(ip netns pids "$ns"))
  done
  stop_pids "${pids[@]}"
  for ns in "${present[@]}"; do ip netns del "$ns" 2>/dev/null || true; done
}
