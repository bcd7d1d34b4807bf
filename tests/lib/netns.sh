# Network namespaces that exist only for a test run, shared by every suite
# and by the test hosts. Nothing in them reaches beyond them: their addresses
# exist only on the veth pairs made here, and their resolver is their own
# loopback unless a suite says otherwise.
#
# Every name gets this shell's PID, so suites run side by side:
#   qvx_ns VAR BASE          create namespace BASE-<pid> (loopback up), name in VAR
#   qvx_link NS_A "ADDR..." NS_B "ADDR..."   a veth pair, each end with its addresses
#   qvx_etc NS HOSTS [RESOLV]  hosts file (and resolv.conf, default: a resolver
#                            on the namespace's own loopback, where nothing
#                            listens) that `ip netns exec NS` mounts over /etc
#   qvx_ignore_echo NS       the namespace answers no echo request
#   qvx_teardown             removes everything qvx_ns and qvx_etc made; suites
#                            call it from their EXIT trap
#
# Servers in namespaces (every process stopped by its number, never by its
# name: other suites run the same servers on this machine at the same time):
#   stop_pid_file FILE, stop_pids PID...   polite signal, grace, then a kill
#   ns_holder_start NS / ns_run PID CMD... a namespace with a mount namespace
#                            of its own (private /run, /etc files)
#   ns_stop NS...            stops every process in the namespaces, deletes them
#

qvx_namespaces=()
qvx_etc_dirs=()

qvx_ns() {
  local -n _name=$1
  _name=$2-$$
  ip netns add "$_name" || return 1
  qvx_namespaces+=("$_name")
  ip -n "$_name" link set lo up
}

qvx_link_count=0
qvx_link() {
  local ns_a=$1 addrs_a=$2 ns_b=$3 addrs_b=$4 addr
  qvx_link_count=$((qvx_link_count + 1))
  local a=qa$qvx_link_count-$$ b=qb$qvx_link_count-$$
  ip link add "$a" netns "$ns_a" type veth peer name "$b" netns "$ns_b" || return 1
  for addr in $addrs_a; do ip -n "$ns_a" addr add "$addr" dev "$a" || return 1; done
  for addr in $addrs_b; do ip -n "$ns_b" addr add "$addr" dev "$b" || return 1; done
  ip -n "$ns_a" link set "$a" up && ip -n "$ns_b" link set "$b" up
}

qvx_etc() {
  local ns=$1 hosts=$2 resolv=${3:-nameserver 127.0.0.1}
  mkdir -p "/etc/netns/$ns" || return 1
  qvx_etc_dirs+=("/etc/netns/$ns")
  printf '%s\n' "$hosts" >"/etc/netns/$ns/hosts"
  printf '%s\n' "$resolv" >"/etc/netns/$ns/resolv.conf"
}

qvx_ignore_echo() {
  ip netns exec "$1" sh -c 'echo 1 > /proc/sys/net/ipv4/icmp_echo_ignore_all'
}

qvx_teardown() {
  local ns dir
  for ns in "${qvx_namespaces[@]}"; do ip netns del "$ns" 2>/dev/null; done
  for dir in "${qvx_etc_dirs[@]}"; do rm -rf "$dir"; done
  qvx_namespaces=()
  qvx_etc_dirs=()
  [[ -n ${qvx_work:-} ]] && rm -rf "$qvx_work"
}

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
