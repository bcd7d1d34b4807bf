#!/usr/bin/env bash
# Black-box runs of the Linux binary inside network namespaces that this
# script creates and removes: a client namespace with its own hosts file and
# a resolver that cannot reach beyond it, a live peer, and a peer that drops
# echo requests. Compares standard output byte for byte and the exit code.
#
#   bash scripts/test-linux.sh [path/to/quorvex]     (root; default build/quorvex)
set -uo pipefail
cd "$(dirname "$0")/.."
export LC_ALL=C

if [ "$(id -u)" != 0 ]; then
  echo "test-linux: needs root (network namespaces)" >&2
  exit 1
fi

packages=(iproute2 coreutils)
binary=${1:-build/quorvex}
[ -n "${1:-}" ] || packages+=(cmake ninja-build g++)
bash "$(dirname "$0")/install-deps.sh" "${packages[@]}" || exit 1

if [ -z "${1:-}" ] && [ ! -x "$binary" ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEX_TESTS=OFF >/dev/null &&
    cmake --build build >/dev/null || { echo "test-linux: cannot build $binary" >&2; exit 1; }
fi
[ -x "$binary" ] || { echo "test-linux: no binary at $binary" >&2; exit 1; }
binary=$(realpath "$binary")

# Everything below is named after this shell's PID, so parallel runs and
# leftovers of other tools never collide with it.
id=$$
cli=qvcli$id
peer=qvpeer$id
drop=qvdrop$id
work=$(mktemp -d)

cleanup() {
  for ns in "$cli" "$peer" "$drop"; do
    ip netns del "$ns" 2>/dev/null
  done
  rm -rf "/etc/netns/$cli" "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Addresses in 10.99.x.y exist only on the veth pairs below.
cli_ip=10.99.1.1
peer_ip=10.99.1.2
drop_ip=10.99.2.2
silent_ip=10.99.1.77  # on the peer's link, no name, nobody behind it
beyond_ip=10.99.3.5  # routed through the peer, which knows no way on
host_name=$(hostname)

setup() {
  ip netns add "$cli" && ip netns add "$peer" && ip netns add "$drop" || return 1
  ip link add "qvc1$id" type veth peer name "qvp1$id" || return 1
  ip link add "qvc2$id" type veth peer name "qvp2$id" || return 1
  ip link set "qvc1$id" netns "$cli" && ip link set "qvc2$id" netns "$cli" || return 1
  ip link set "qvp1$id" netns "$peer" && ip link set "qvp2$id" netns "$drop" || return 1
  ip -n "$cli" addr add "$cli_ip/24" dev "qvc1$id" || return 1
  ip -n "$cli" addr add 10.99.2.1/24 dev "qvc2$id" || return 1
  ip -n "$peer" addr add "$peer_ip/24" dev "qvp1$id" || return 1
  ip -n "$drop" addr add "$drop_ip/24" dev "qvp2$id" || return 1
  for pair in "$cli qvc1$id" "$cli qvc2$id" "$peer qvp1$id" "$drop qvp2$id" "$cli lo" "$peer lo" "$drop lo"; do
    set -- $pair
    ip -n "$1" link set "$2" up || return 1
  done
  # The drop peer answers ARP but never an echo request.
  ip netns exec "$drop" sh -c 'echo 1 > /proc/sys/net/ipv4/icmp_echo_ignore_all' || return 1
  # The live peer forwards, so for the network behind it, to which it has no
  # route, it answers with an ICMP "network unreachable".
  ip -n "$cli" route add 10.99.3.0/24 via "$peer_ip" || return 1
  ip netns exec "$peer" sh -c 'echo 1 > /proc/sys/net/ipv4/ip_forward' || return 1

  # `ip netns exec` mounts these over /etc: lookups end at the hosts file or
  # at a resolver on the namespace's own loopback, where nothing listens.
  mkdir -p "/etc/netns/$cli" || return 1
  printf '127.0.0.1 localhost\n%s qvpeer\n%s qvdrop\n%s qvbeyond\n%s %s\n' \
    "$peer_ip" "$drop_ip" "$beyond_ip" "$cli_ip" "$host_name" >"/etc/netns/$cli/hosts"
  printf 'nameserver 127.0.0.1\noptions timeout:1 attempts:1\n' >"/etc/netns/$cli/resolv.conf"
  printf 'hosts: files dns\n' >"/etc/netns/$cli/nsswitch.conf"
}
if ! setup; then
  echo "test-linux: could not set up the namespaces" >&2
  exit 1
fi

passed=0
failed=0

# shellcheck source=../tests/blackbox_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../tests/blackbox_lib.sh"

# run NAME CODE MIN_MS MAX_MS ARGS... : runs the binary in the client
# namespace; standard output must equal $work/expected byte for byte, the
# exit code must be CODE and the run must take MIN_MS..MAX_MS. When
# $work/usage_tail is set, the output must instead end with the usage text,
# whose free-worded last line is only required to exist.
run() {
  local name=$1 code=$2 min_ms=$3 max_ms=$4
  shift 4
  local out="$work/out" start end elapsed got problem=""
  start=$(date +%s%N)
  timeout 30 ip netns exec "$cli" "$binary" "$@" >"$out" 2>"$work/err"
  got=$?
  end=$(date +%s%N)
  elapsed=$(((end - start) / 1000000))

  if [ -f "$work/usage_tail" ]; then
    local want_lines
    want_lines=$(($(wc -l <"$work/expected") + 1))
    if ! head -n $((want_lines - 1)) "$out" | cmp -s - "$work/expected"; then
      problem="output before the usage contact line differs"
    elif [ "$(wc -l <"$out")" != "$want_lines" ]; then
      problem="expected $want_lines lines, got $(wc -l <"$out")"
    elif ! tail -n 1 "$out" | grep -q $'[^\r].*\r$'; then
      problem="missing or unterminated contact line"
    fi
    rm -f "$work/usage_tail"
  elif ! cmp -s "$out" "$work/expected"; then
    problem="output differs"
  fi
  [ "$got" = "$code" ] || problem="${problem:+$problem; }exit code $got, expected $code"
  if ((elapsed < min_ms || elapsed > max_ms)); then
    problem="${problem:+$problem; }took $elapsed ms, expected $min_ms..$max_ms"
  fi

  if [ -z "$problem" ]; then
    passed=$((passed + 1))
    echo "ok   $name"
  else
    failed=$((failed + 1))
    echo "FAIL $name: $problem"
    echo "  expected:"; od -c "$work/expected" | sed 's/^/    /' | head -n 20
    echo "  got:"; od -c "$out" | sed 's/^/    /' | head -n 20
    [ -s "$work/err" ] && sed 's/^/  stderr: /' "$work/err" | head -n 5
  fi
}

expect() { "$@" >"$work/expected"; }
expect_usage_after() { { "$@"; usage_head; } >"$work/expected"; touch "$work/usage_tail"; }
nothing() { :; }

fast=3000  # any run without a pause or an echo timeout

# Usage text: 9.
expect_usage_after nothing
run "usage: no arguments" 9 0 $fast
expect_usage_after nothing
run "usage: /?" 9 0 $fast /?
expect_usage_after nothing
run "usage: lone /M" 9 0 $fast /M
expect_usage_after nothing
run "usage: space in host" 9 0 $fast /M "pc1 pc2"
expect_usage_after lines "" $'\aBOGUS was unexpected.'
run "usage: unexpected token pauses a second, also quiet" 9 1000 $((fast + 1000)) /M qvpeer bogus /Q
expect_usage_after lines "" $'\a?]0;OWNED??[2J was unexpected.'
run "usage: an unexpected token's control characters are echoed as ?" 9 1000 $((fast + 1000)) \
  /M pc1 $'\e]0;owned\a\e[2J'
many_unexpected() {
  lines "" $'\aX was unexpected.'
  for _ in $(seq 199); do lines "" $'\a/X was unexpected.'; done
  lines "" $'\a/ was unexpected.'
}
expect_usage_after many_unexpected
run "usage: 201 unexpected tokens pause 13 s, not 201" 9 13000 $((fast + 13000)) /M pc1 "$(printf 'x/%.0s' $(seq 200))"

# Each "ERROR: " line: 99, printed also in quiet mode.
expect lines "ERROR: /Q and /V switches can not be used at the same time. Pick one."
run "error: /Q with /V" 99 0 $fast /M qvpeer /Q /V
expect lines "ERROR: /T: Invalid NetBIOS domain name (must be 15 characters or less)."
run "error: /T too long" 99 0 $fast /M qvpeer /T abcdefghijklmnop
expect lines "ERROR: /C: Invalid NetBIOS domain name (must be 15 characters or less)."
run "error: /C too long" 99 0 $fast /M qvpeer /C abcdefghijklmnop.corp
expect lines "ERROR: /C and /T values must be different."
run "error: same domains after the cut" 99 0 $fast /M qvpeer /C corp.one /T corp.two
expect lines "ERROR: /F value must be a whole number less than or equal to 2048."
run "error: /F 2049" 99 0 $fast /M qvpeer /F 2049
expect lines "ERROR: /M: Invalid IP Address. Please check format."
run "error: address 1-2-3" 99 0 $fast /M 1-2-3
run "error: address with three fields" 99 0 $fast /M 10.99.1
run "error: address field above 255" 99 0 $fast /M 10.99.1.256 /Q
expect lines "ERROR: /M: Invalid NetBIOS hostname (must be 15 characters or less)."
run "error: NetBIOS name of 16 characters" 99 0 $fast /M abcdefghijklmnop.corp

# Resolution. Until the SMB client answers, the first network query fails:
# the peer runs no SMB server, so a real client fails there too.
wksta_failed=" - Can not access. NetWkstaGetInfo call failed."
expect lines " + Resolved hostname to: $peer_ip" "$wksta_failed"
run "name resolves, workstation query fails" 2 0 $fast /M qvpeer
expect lines " + Resolved hostname to: 127.0.0.1" "$wksta_failed"
run "localhost resolves" 2 0 $fast /M localhost
expect lines " - Could not resolve hostname to IP Address."
run "name does not resolve" 1 0 $fast /M qvnowhere
expect nothing
run "name does not resolve, quiet" 1 0 $fast /M qvnowhere /Q
expect lines " + Resolved IP address to: QVPEER" "$wksta_failed"
run "address reverse-resolves" 2 0 $fast /M "$peer_ip"
expect lines " + Resolved IP address to: ${host_name^^}" "$wksta_failed"
run "address of this machine" 2 0 $fast /M "$cli_ip"
expect lines " + Resolved IP address to: ${host_name^^}" "$wksta_failed"
run "zero address names this machine" 2 0 $fast /M 000.0.0.0
expect lines " - Could not resolve IP Address to hostname."
run "address does not reverse-resolve" 1 0 $fast /M "$silent_ip"

# Echo: a live peer answers at once; a peer that drops echo requests costs
# two attempts of 2000 ms each.
expect lines " + Resolved hostname to: $peer_ip" " + Host UP. Successfully pinged: $peer_ip" "$wksta_failed"
run "ping: live peer" 2 0 $fast /M qvpeer /P
expect lines " + Resolved hostname to: $drop_ip" " - Host DOWN. Could not ping: $drop_ip"
run "ping: echo dropped, two attempts" 1 3900 6500 /M qvdrop /P
expect lines " + Resolved IP address to: QVDROP" " ! Second knock..." " - Host DOWN. Could not ping: $drop_ip"
run "ping: echo dropped, verbose" 1 3900 6500 /M "$drop_ip" /P /V
expect lines " + Resolved hostname to: $beyond_ip" " - Host DOWN. Could not ping: $beyond_ip"
run "ping: network unreachable answers at once" 1 0 $fast /M qvbeyond /P

# Without the right to open an ICMP socket every attempt fails at once:
# standard output tells only that the host is down, and standard error
# carries one line on how to grant the right.
if setpriv --help >/dev/null 2>&1 && setpriv --reuid=65534 --regid=65534 --clear-groups test -x "$binary"; then
  expect lines " + Resolved hostname to: $peer_ip" " - Host DOWN. Could not ping: $peer_ip"
  unprivileged=(setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all --bounding-set=-all)
  start=$(date +%s%N)
  timeout 30 ip netns exec "$cli" "${unprivileged[@]}" "$binary" /M qvpeer /P >"$work/out" 2>"$work/err"
  got=$?
  elapsed=$((($(date +%s%N) - start) / 1000000))
  if cmp -s "$work/out" "$work/expected" && [ "$got" = 1 ] && [ "$(wc -l <"$work/err")" = 1 ] &&
    grep -q cap_net_raw "$work/err" && ((elapsed < fast)); then
    passed=$((passed + 1))
    echo "ok   ping: no ICMP socket allowed"
  else
    failed=$((failed + 1))
    echo "FAIL ping: no ICMP socket allowed: exit $got, $elapsed ms"
    od -c "$work/out" | sed 's/^/    /' | head -n 10
    sed 's/^/  stderr: /' "$work/err" | head -n 5
  fi
else
  echo "skip ping: no ICMP socket allowed (setpriv missing or binary not executable by nobody)"
fi

echo "$passed passed, $failed failed"
((failed == 0))
