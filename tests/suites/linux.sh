#!/usr/bin/env bash
# Black-box runs of the Linux binary inside network namespaces that this
# script creates and removes: a client namespace with its own hosts file and
# a resolver that cannot reach beyond it, a live peer, and a peer that drops
# echo requests. Compares standard output byte for byte and the exit code.
#
#   bash tests/suites/linux.sh [path/to/quorvex]     (root; default build/quorvex)
set -uo pipefail
cd "$(dirname "$0")/../.."
export LC_ALL=C

if [ "$(id -u)" != 0 ]; then
  echo "linux suite: needs root (network namespaces)" >&2
  exit 1
fi

packages=(iproute2 coreutils)
binary=${1:-build/quorvex}
[ -n "${1:-}" ] || packages+=(cmake ninja-build g++)
bash scripts/install-deps.sh "${packages[@]}" || exit 1

if [ -z "${1:-}" ]; then
  # shellcheck source=../lib/build.sh
  source tests/lib/build.sh
  qvx_build release quorvex || exit 1
fi
[ -x "$binary" ] || { echo "linux suite: no binary at $binary" >&2; exit 1; }
binary=$(realpath "$binary")

# shellcheck source=../lib/harness.sh
source tests/lib/harness.sh
trap qvx_teardown EXIT
trap 'exit 130' INT TERM

# Addresses in 10.99.x.y exist only on the veth pairs below.
cli_ip=10.99.1.1
peer_ip=10.99.1.2
drop_ip=10.99.2.2
silent_ip=10.99.1.77  # on the peer's link, no name, nobody behind it
beyond_ip=10.99.3.5  # routed through the peer, which knows no way on
host_name=$(hostname)

setup() {
  qvx_ns cli qvx-cli && qvx_ns peer qvx-peer && qvx_ns drop qvx-drop || return 1
  qvx_link "$cli" "$cli_ip/24" "$peer" "$peer_ip/24" || return 1
  qvx_link "$cli" 10.99.2.1/24 "$drop" "$drop_ip/24" || return 1
  # The drop peer answers ARP but never an echo request.
  qvx_ignore_echo "$drop" || return 1
  # The live peer forwards, so for the network behind it, to which it has no
  # route, it answers with an ICMP "network unreachable".
  ip -n "$cli" route add 10.99.3.0/24 via "$peer_ip" || return 1
  ip netns exec "$peer" sh -c 'echo 1 > /proc/sys/net/ipv4/ip_forward' || return 1
  # Lookups end at the hosts file or at a resolver on the namespace's own
  # loopback, where nothing listens.
  qvx_etc "$cli" "127.0.0.1 localhost
$peer_ip qvpeer
$drop_ip qvdrop
$beyond_ip qvbeyond
$cli_ip $host_name" "nameserver 127.0.0.1
options timeout:1 attempts:1" || return 1
  printf 'hosts: files dns\n' >"/etc/netns/$cli/nsswitch.conf"
}
if ! setup; then
  echo "linux suite: could not set up the namespaces" >&2
  exit 1
fi

QVX_RUN=(timeout 30 ip netns exec "$cli" "$binary")
fast=3  # seconds: any run without a pause or an echo timeout

# Usage text: 9.
qvx_case --usage "usage: no arguments" 9 $fast -- </dev/null
qvx_case --usage "usage: /?" 9 $fast -- /? </dev/null
qvx_case --usage "usage: lone /M" 9 $fast -- /M </dev/null
qvx_case --usage "usage: space in host" 9 $fast -- /M "pc1 pc2" </dev/null
qvx_case --usage --min 1000 "usage: unexpected token pauses a second, also quiet" 9 $((fast + 1)) \
  -- /M qvpeer bogus /Q <<<"
$(printf '\a')BOGUS was unexpected."
qvx_case --usage --min 1000 "usage: an unexpected token's control characters are echoed as ?" 9 $((fast + 1)) \
  -- /M pc1 $'\e]0;owned\a\e[2J' <<<"
$(printf '\a')?]0;OWNED??[2J was unexpected."
qvx_case --usage --min 13000 "usage: 201 unexpected tokens pause 13 s, not 201" 9 $((fast + 13)) \
  -- /M pc1 "$(printf 'x/%.0s' $(seq 200))" <<<"$(
  printf '\n\aX was unexpected.\n'
  for _ in $(seq 199); do printf '\n\a/X was unexpected.\n'; done
  printf '\n\a/ was unexpected.'
)"

# Each "ERROR: " line: 99, printed also in quiet mode.
qvx_case "error: /Q with /V" 99 $fast -- /M qvpeer /Q /V \
  <<<"ERROR: /Q and /V switches can not be used at the same time. Pick one."
qvx_case "error: /T too long" 99 $fast -- /M qvpeer /T abcdefghijklmnop \
  <<<"ERROR: /T: Invalid NetBIOS domain name (must be 15 characters or less)."
qvx_case "error: /C too long" 99 $fast -- /M qvpeer /C abcdefghijklmnop.corp \
  <<<"ERROR: /C: Invalid NetBIOS domain name (must be 15 characters or less)."
qvx_case "error: same domains after the cut" 99 $fast -- /M qvpeer /C corp.one /T corp.two \
  <<<"ERROR: /C and /T values must be different."
qvx_case "error: /F 2049" 99 $fast -- /M qvpeer /F 2049 \
  <<<"ERROR: /F value must be a whole number less than or equal to 2048."
bad_address="ERROR: /M: Invalid IP Address. Please check format."
qvx_case "error: address 1-2-3" 99 $fast -- /M 1-2-3 <<<"$bad_address"
qvx_case "error: address with three fields" 99 $fast -- /M 10.99.1 <<<"$bad_address"
qvx_case "error: address field above 255" 99 $fast -- /M 10.99.1.256 /Q <<<"$bad_address"
qvx_case "error: NetBIOS name of 16 characters" 99 $fast -- /M abcdefghijklmnop.corp \
  <<<"ERROR: /M: Invalid NetBIOS hostname (must be 15 characters or less)."

# Resolution. The peer runs no SMB server, so the first network query fails
# there, as a real client fails.
wksta_failed=" - Can not access. NetWkstaGetInfo call failed."
qvx_case "name resolves, workstation query fails" 2 $fast -- /M qvpeer <<<" + Resolved hostname to: $peer_ip
$wksta_failed"
qvx_case "localhost resolves" 2 $fast -- /M localhost <<<" + Resolved hostname to: 127.0.0.1
$wksta_failed"
qvx_case "name does not resolve" 1 $fast -- /M qvnowhere <<<" - Could not resolve hostname to IP Address."
qvx_case "name does not resolve, quiet" 1 $fast -- /M qvnowhere /Q </dev/null
qvx_case "address reverse-resolves" 2 $fast -- /M "$peer_ip" <<<" + Resolved IP address to: QVPEER
$wksta_failed"
qvx_case "address of this machine" 2 $fast -- /M "$cli_ip" <<<" + Resolved IP address to: ${host_name^^}
$wksta_failed"
qvx_case "zero address names this machine" 2 $fast -- /M 000.0.0.0 <<<" + Resolved IP address to: ${host_name^^}
$wksta_failed"
qvx_case "address does not reverse-resolve" 1 $fast -- /M "$silent_ip" \
  <<<" - Could not resolve IP Address to hostname."

# Echo: a live peer answers at once; a peer that drops echo requests costs
# two attempts of 2000 ms each.
qvx_case "ping: live peer" 2 $fast -- /M qvpeer /P <<<" + Resolved hostname to: $peer_ip
 + Host UP. Successfully pinged: $peer_ip
$wksta_failed"
qvx_case --min 3900 "ping: echo dropped, two attempts" 1 7 -- /M qvdrop /P <<<" + Resolved hostname to: $drop_ip
 - Host DOWN. Could not ping: $drop_ip"
qvx_case --min 3900 "ping: echo dropped, verbose" 1 7 -- /M "$drop_ip" /P /V <<<" + Resolved IP address to: QVDROP
 ! Second knock...
 - Host DOWN. Could not ping: $drop_ip"
qvx_case "ping: network unreachable answers at once" 1 $fast -- /M qvbeyond /P <<<" + Resolved hostname to: $beyond_ip
 - Host DOWN. Could not ping: $beyond_ip"

# Without the right to open an ICMP socket every attempt fails at once:
# standard output tells only that the host is down, and standard error
# carries one line on how to grant the right.
if setpriv --help >/dev/null 2>&1 && setpriv --reuid=65534 --regid=65534 --clear-groups test -x "$binary"; then
  QVX_RUN=(timeout 30 ip netns exec "$cli" setpriv --reuid=65534 --regid=65534 --clear-groups
    --inh-caps=-all --bounding-set=-all "$binary")
  QVX_ALLOW_STDERR=1 qvx_case "ping: no ICMP socket allowed" 1 $fast -- /M qvpeer /P <<<" + Resolved hostname to: $peer_ip
 - Host DOWN. Could not ping: $peer_ip"
  if [[ $(wc -l <"$qvx_work/err") != 1 ]] || ! grep -q cap_net_raw "$qvx_work/err"; then
    qvx_failed=$((qvx_failed + 1))
    echo "FAIL ping: no ICMP socket allowed: standard error should be one line naming cap_net_raw"
  fi
else
  echo "skip ping: no ICMP socket allowed (setpriv missing or binary not executable by nobody)"
fi

qvx_summary
