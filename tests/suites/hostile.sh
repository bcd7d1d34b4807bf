#!/bin/bash
# The Linux build against servers that misbehave at one phase each: a relay
# in front of the real Samba host of tests/lib/samba-host.sh that stalls,
# trickles, cuts or delays at a chosen request (tests/hostile/relay.py), a
# server that accepts and says nothing, one that resets, and resolvers that
# never answer or know an address but not its name's way back. Each case
# asserts the exact standard output, an empty standard error, the exit code
# and a wall time under the case's stated bound plus one second. Prints
# "N passed, N failed".
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
# The release build, as shipped: the bounds are the product's, and a
# sanitized build's start-up alone can take seconds on a busy machine. The
# same directory and options as tests/suites/linux.sh, so nothing is built
# twice.

bash "$root/scripts/install-deps.sh" samba samba-dev smbclient iproute2 python3 cmake ninja-build g++ pkg-config \
  >/dev/null || exit 1

# shellcheck source=../lib/build.sh
source "$root/tests/lib/build.sh"
qvx_build release quorvex || exit 1
build=$QVX_BUILD_DIR
# For a run with the sanitized build (QUORVEX_RELEASE_BUILD=build-test):
# memory faults then show as exit code 99 and a report on standard error.
qvx_sanitizer_env

# shellcheck source=../lib/harness.sh
source "$root/tests/lib/harness.sh"
work=$(mktemp -d /tmp/quorvex-hostile.XXXXXX)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  bash "$root/tests/lib/samba-host.sh" stop "$work/host" || true
  qvx_teardown
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

bash "$root/tests/lib/samba-host.sh" start "$work/host" || exit 1
# shellcheck disable=SC1091
source "$work/host/host.env"
server_link=$(ip -n "$QVX_SERVER_NS" -o link show type veth | awk -F': ' '{print $2}' | cut -d@ -f1)

orphan=10.200.0.1  # its reverse name is in the hosts file, the name's first label nowhere
# Loopback only: in lone the resolver refuses at once, in mute its three name
# servers never answer.
qvx_ns lone_ns qvh-lone && qvx_ns mute_ns qvh-mute || exit 1
for ns in "$lone_ns" "$mute_ns"; do
  qvx_etc "$ns" "127.0.0.1 localhost
$orphan orphan.test.lan" || exit 1
  printf 'hosts: files dns\n' >"/etc/netns/$ns/nsswitch.conf"
done
# Name servers that take every question over UDP and TCP and answer none:
# three of them, and three search domains, in the namespace given.
silent_name_servers() {
  printf 'nameserver 127.0.0.2\nnameserver 127.0.0.3\nnameserver 127.0.0.4\nsearch a.test b.test c.test\n' \
    >"/etc/netns/$1/resolv.conf"
  ip netns exec "$1" python3 -c '
import select, socket
socks = []
for address in ("127.0.0.2", "127.0.0.3", "127.0.0.4"):
    for kind in (socket.SOCK_DGRAM, socket.SOCK_STREAM):
        s = socket.socket(socket.AF_INET, kind)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind((address, 53))
        if kind == socket.SOCK_STREAM:
            s.listen(16)
        socks.append(s)
held = []
while True:
    for s in select.select(socks, [], [])[0]:
        if s.type == socket.SOCK_STREAM:
            held.append(s.accept()[0])
        else:
            s.recv(4096)
' </dev/null >/dev/null 2>&1 &
  pids+=($!)
}
silent_name_servers "$mute_ns"
# The relay cases' client too: every name they use is in its hosts file, so
# any lookup the tool or Samba made on its own would wait on these. This
# machine's name goes too, which Samba's client would otherwise look up.
silent_name_servers "$QVX_CLIENT_NS"
sed -i "/ $(hostname)\$/d" "/etc/netns/$QVX_CLIENT_NS/hosts"

tool=$build/quorvex
QVX_ENV=(USER="$QVX_USER" PASSWD="$QVX_PASSWORD")

# One row per case: NAME | BOUND_S | CODE | WHERE | ARGS, then the expected
# lines up to the next row. WHERE is "relay MODE TRIGGER" (a relay of its
# own on a fresh address, named hostileN in the client's hosts file), or the
# namespace to run in: "lone" or "mute". In ARGS and lines, @NAME@ and @ADDR@
# stand for the case's relay.
cases=$(cat <<'CASES'
every call answered 9 s late: the run's deadline | 60 | 128 | relay late call | /M @NAME@ /I /V
 + Resolved hostname to: @ADDR@
 ! NetBIOS name does not match. Returned: QVXHOST
 + Host in domain: SÄLJARE
 ! OS version: 6.1
 ! OS comment: Quorvex Prüf Server
 ! ROLE: non-DC server
 + Admin$ share exists and has greater than 15MB free.
 + Connected to remote registry.
 + SERVER role.
 - Can NOT access OS version info via remote registry. Access denied.
accept and never send | 10 | 2 | relay silent - | /M @NAME@ /I /V
 + Resolved hostname to: @ADDR@
 ! Retrying NetWkstaGetInfo call...
 - Can not access. NetWkstaGetInfo call failed.
reset after accept | 1 | 2 | relay reset - | /M @NAME@ /I /V
 + Resolved hostname to: @ADDR@
 ! Retrying NetWkstaGetInfo call...
 - Can not access. NetWkstaGetInfo call failed.
stall on negotiate | 10 | 2 | relay stall negotiate | /M @NAME@ /I /V
 + Resolved hostname to: @ADDR@
 ! Retrying NetWkstaGetInfo call...
 - Can not access. NetWkstaGetInfo call failed.
answer negotiate, then stall | 10 | 2 | relay stall setup1 | /M @NAME@ /I /V
 + Resolved hostname to: @ADDR@
 ! Retrying NetWkstaGetInfo call...
 - Can not access. NetWkstaGetInfo call failed.
stall after session setup | 10 | 2 | relay hold setup2 | /M @NAME@ /I /V
 + Resolved hostname to: @ADDR@
 ! Retrying NetWkstaGetInfo call...
 - Can not access. NetWkstaGetInfo call failed.
stall on the IPC$ tree connect | 10 | 2 | relay stall tcon:ipc$ | /M @NAME@ /I /V
 + Resolved hostname to: @ADDR@
 ! Retrying NetWkstaGetInfo call...
 - Can not access. NetWkstaGetInfo call failed.
stall on the pipe open | 10 | 2 | relay stall create:wkssvc | /M @NAME@ /I /V
 + Resolved hostname to: @ADDR@
 ! Retrying NetWkstaGetInfo call...
 - Can not access. NetWkstaGetInfo call failed.
stall on a further pipe's open | 11 | 2 | relay stall create:srvsvc | /M @NAME@ /I /V
 + Resolved hostname to: @ADDR@
 ! Retrying NetServerGetInfo call...
 - Can not access. NetServerGetInfo call failed.
stall on the registry pipe's open | 6 | 128 | relay stall create:winreg | /M @NAME@ /I /V
 + Resolved hostname to: @ADDR@
 ! NetBIOS name does not match. Returned: QVXHOST
 + Host in domain: SÄLJARE
 ! OS version: 6.1
 ! OS comment: Quorvex Prüf Server
 ! ROLE: non-DC server
 + Admin$ share exists and has greater than 15MB free.
 - Can NOT access remote registry. Non-NT OS or access denied.
stall on the bind | 10 | 2 | relay stall bind | /M @NAME@ /I /V
 + Resolved hostname to: @ADDR@
 ! Retrying NetWkstaGetInfo call...
 - Can not access. NetWkstaGetInfo call failed.
stall on the NetWkstaGetInfo reply | 21 | 2 | relay hold opnum:0 | /M @NAME@ /I /V
 + Resolved hostname to: @ADDR@
 ! Retrying NetWkstaGetInfo call...
 - Can not access. NetWkstaGetInfo call failed.
stall on the NetServerGetInfo reply | 21 | 2 | relay hold opnum:21 | /M @NAME@ /I /V
 + Resolved hostname to: @ADDR@
 ! Retrying NetServerGetInfo call...
 - Can not access. NetServerGetInfo call failed.
stall on the admin$ tree connect | 11 | 16 | relay stall tcon:admin$ | /M @NAME@ /I /V
 + Resolved hostname to: @ADDR@
 ! NetBIOS name does not match. Returned: QVXHOST
 + Host in domain: SÄLJARE
 ! OS version: 6.1
 ! OS comment: Quorvex Prüf Server
 ! ROLE: non-DC server
 - Admin$ share does NOT exist or we have no access to it.
 + Connected to remote registry.
 + SERVER role.
 + W2K or greater OS.
stall on the admin$ file query | 11 | 16 | relay stall create:system32 | /M @NAME@ /I /V
 + Resolved hostname to: @ADDR@
 ! NetBIOS name does not match. Returned: QVXHOST
 + Host in domain: SÄLJARE
 ! OS version: 6.1
 ! OS comment: Quorvex Prüf Server
 ! ROLE: non-DC server
 - Admin$ share does NOT exist or we have no access to it.
 + Connected to remote registry.
 + SERVER role.
 + W2K or greater OS.
stall on the OpenHKLM reply | 11 | 128 | relay hold opnum:2 | /M @NAME@ /I /V
 + Resolved hostname to: @ADDR@
 ! NetBIOS name does not match. Returned: QVXHOST
 + Host in domain: SÄLJARE
 ! OS version: 6.1
 ! OS comment: Quorvex Prüf Server
 ! ROLE: non-DC server
 + Admin$ share exists and has greater than 15MB free.
 - Can NOT access remote registry. Non-NT OS or access denied.
stall on the OpenKey reply | 11 | 128 | relay hold opnum:15 | /M @NAME@ /I /V
 + Resolved hostname to: @ADDR@
 ! NetBIOS name does not match. Returned: QVXHOST
 + Host in domain: SÄLJARE
 ! OS version: 6.1
 ! OS comment: Quorvex Prüf Server
 ! ROLE: non-DC server
 + Admin$ share exists and has greater than 15MB free.
 + Connected to remote registry.
 - Can NOT access Computer role info via remote registry. Access denied.
stall on the QueryValue reply | 11 | 160 | relay hold opnum:17 | /M @NAME@ /I /V
 + Resolved hostname to: @ADDR@
 ! NetBIOS name does not match. Returned: QVXHOST
 + Host in domain: SÄLJARE
 ! OS version: 6.1
 ! OS comment: Quorvex Prüf Server
 ! ROLE: non-DC server
 + Admin$ share exists and has greater than 15MB free.
 + Connected to remote registry.
 - UNKNOWN role.
 - Can NOT access OS version info via remote registry. Access denied.
stall on the CloseKey reply | 11 | 128 | relay hold opnum:5 | /M @NAME@ /I /V
 + Resolved hostname to: @ADDR@
 ! NetBIOS name does not match. Returned: QVXHOST
 + Host in domain: SÄLJARE
 ! OS version: 6.1
 ! OS comment: Quorvex Prüf Server
 ! ROLE: non-DC server
 + Admin$ share exists and has greater than 15MB free.
 + Connected to remote registry.
 + SERVER role.
 - Can NOT access OS version info via remote registry. Access denied.
trickle a reply one byte a second | 21 | 2 | relay trickle opnum:0 | /M @NAME@ /I /V
 + Resolved hostname to: @ADDR@
 ! Retrying NetWkstaGetInfo call...
 - Can not access. NetWkstaGetInfo call failed.
close in the middle of a reply | 1 | 2 | relay cut opnum:0 | /M @NAME@ /I /V
 + Resolved hostname to: @ADDR@
 ! Retrying NetWkstaGetInfo call...
 - Can not access. NetWkstaGetInfo call failed.
an address whose reverse name does not resolve forward | 10 | 2 | lone | /M 10.200.0.1 /V
 + Resolved IP address to: ORPHAN.TEST.LAN
 ! Retrying NetWkstaGetInfo call...
 - Can not access. NetWkstaGetInfo call failed.
a resolver that never answers: address | 5 | 1 | mute | /M 10.200.0.2 /V
 - Could not resolve IP Address to hostname.
a resolver that never answers: name | 5 | 1 | mute | /M nowhere /V
 - Could not resolve hostname to IP Address.
a resolver that never answers: the reverse name's first label | 10 | 2 | mute | /M 10.200.0.1 /V
 + Resolved IP address to: ORPHAN.TEST.LAN
 ! Retrying NetWkstaGetInfo call...
 - Can not access. NetWkstaGetInfo call failed.
CASES
)

# Splits the table into $work/case.N/{row,want}.
count=0
while IFS= read -r line; do
  if [[ $line == *' | '* ]]; then
    count=$((count + 1))
    mkdir -p "$work/case.$count"
    printf '%s\n' "$line" >"$work/case.$count/row"
    : >"$work/case.$count/want"
  else
    printf '%s\r\n' "$line" >>"$work/case.$count/want"
  fi
done <<<"$cases"

# HOSTILE_ONLY=REGEX runs only the cases whose name matches.
if [[ -n ${HOSTILE_ONLY:-} ]]; then
  for n in $(seq "$count"); do
    IFS='|' read -r name _ <"$work/case.$n/row"
    [[ $name =~ $HOSTILE_ONLY ]] || rm -rf "$work/case.$n"
  done
fi

trim() { local s=$1; s=${s#"${s%%[! ]*}"}; printf '%s' "${s%"${s##*[! ]}"}"; }

# Each case on its own address and relay; cases run side by side.
relay_hosts=$work/relay-hosts
for n in $(seq "$count"); do
  [[ -d $work/case.$n ]] || continue
  IFS='|' read -r _ _ _ where _ <"$work/case.$n/row"
  read -r kind mode trigger <<<"$where"
  [[ $kind == relay ]] || continue
  address=10.97.0.$((100 + n))
  ip -n "$QVX_SERVER_NS" addr add "$address/24" dev "$server_link" || exit 1
  ip netns exec "$QVX_SERVER_NS" python3 "$root/tests/hostile/relay.py" "$address" "$QVX_ADDR" "$mode" "$trigger" \
    </dev/null >"$work/case.$n/relay.log" 2>&1 &
  pids+=($!)
  printf '%s hostile%d\n' "$address" "$n" >>"$relay_hosts"
done
cat "$relay_hosts" >>"/etc/netns/$QVX_CLIENT_NS/hosts"
# Ready when every relay listens.
for n in $(seq "$count"); do
  grep -q "^10.97.0.$((100 + n)) " "$relay_hosts" || continue
  for _ in $(seq 100); do
    ip netns exec "$QVX_SERVER_NS" bash -c "exec 3<>/dev/tcp/10.97.0.$((100 + n))/445" 2>/dev/null && break
    sleep 0.1
  done
done

# The host's RPC workers start on demand; the first call pays for that.
ip netns exec "$QVX_CLIENT_NS" env USER="$QVX_USER" PASSWD="$QVX_PASSWORD" "$tool" /M qvxhost >/dev/null 2>&1

run_case() {
  local n=$1 dir=$work/case.$n name bound code where args kind ns
  IFS='|' read -r name bound code where args <"$dir/row"
  read -r kind _ <<<"$where"
  args=${args//@NAME@/hostile$n}
  sed -i "s/@ADDR@/10.97.0.$((100 + n))/g" "$dir/want"
  case $kind in
    relay) ns=$QVX_CLIENT_NS ;;
    lone) ns=$lone_ns ;;
    mute) ns=$mute_ns ;;
  esac
  QVX_RUN=(ip netns exec "$ns" "$tool")
  # shellcheck disable=SC2086
  qvx_run "$dir" -- $args
}

# Three at a time: the bounds are wall-clock ones, and a crowded machine
# would stretch what they measure.
jobs_max=3
for n in $(seq "$count"); do
  [[ -d $work/case.$n ]] || continue
  while (($(jobs -rp | wc -l) >= jobs_max + ${#pids[@]})); do wait -n; done
  run_case "$n" &
done
for n in $(seq "$count"); do
  [[ -d $work/case.$n ]] || continue
  while [[ ! -s $work/case.$n/result ]]; do sleep 0.2; done
done

for n in $(seq "$count"); do
  dir=$work/case.$n
  [[ -d $dir ]] || continue
  IFS='|' read -r name bound code _ _ <"$dir/row"
  name=$(trim "$name"); bound=$(trim "$bound"); code=$(trim "$code")
  qvx_judge "$name (bound $bound s)" "$code" $((bound + 1)) "$dir"
done

# HOSTILE_HOLD=SECONDS keeps the servers up that long after the cases, to
# try the tool by hand against them.
[[ -n ${HOSTILE_HOLD:-} ]] && { echo "holding: $work"; sleep "$HOSTILE_HOLD"; }
qvx_summary
