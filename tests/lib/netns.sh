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
