#!/usr/bin/env bash
# The cases that need an address nobody answers and a resolver nobody
# reaches. Builds two network namespaces joined by a veth pair: the test side
# routes only 10.98.7.0/24, the peer side drops every echo request, so no
# packet of these tests can leave the machine. Wine's network services run
# in the namespace they were started in, hence a prefix of its own here.
# Usage: namespace_test.sh build-dir wine-prefix
set -uo pipefail
build=$1
prefix=$2
test_ns=qvx-win-$$
peer_ns=qvx-win-peer-$$
silent=10.98.7.2
failures=0

cleanup() {
  # The server daemonizes; only its prefix names it. Stopping it also ends
  # the Wine services it started inside the namespace.
  WINEPREFIX=$prefix /usr/lib/wine/wineserver -k 2>/dev/null
  ip netns del "$test_ns" 2>/dev/null
  ip netns del "$peer_ns" 2>/dev/null
  rm -rf "/etc/netns/$test_ns"
}
trap cleanup EXIT

ip netns add "$test_ns" && ip netns add "$peer_ns" || exit 1
# ip netns exec mounts this over /etc/hosts inside the namespace, so names
# resolve without any resolver being asked: the silent peer, and Wine's
# computer name (this machine's host name, upper case) on loopback, where the
# program reaches Wine's own network management.
self=$(hostname | cut -d. -f1 | cut -c1-15 | tr 'a-z' 'A-Z')
mkdir -p "/etc/netns/$test_ns"
printf '127.0.0.1 localhost %s\n%s qvxsilent\n' "$self" "$silent" >"/etc/netns/$test_ns/hosts"
# Any name the hosts file lacks is asked of a resolver on loopback, where none
# listens: no lookup leaves the namespace.
printf 'nameserver 127.0.0.1\n' >"/etc/netns/$test_ns/resolv.conf"
ip -n "$test_ns" link add qvx0 type veth peer name qvx1 netns "$peer_ns" || exit 1
ip -n "$test_ns" addr add 10.98.7.1/24 dev qvx0
ip -n "$peer_ns" addr add "$silent"/24 dev qvx1
for ns in "$test_ns" "$peer_ns"; do
  ip -n "$ns" link set lo up
done
ip -n "$test_ns" link set qvx0 up
ip -n "$peer_ns" link set qvx1 up
# The peer exists (so the request is sent and not refused locally) but
# swallows every echo request.
ip netns exec "$peer_ns" sh -c 'echo 1 > /proc/sys/net/ipv4/icmp_echo_ignore_all' || {
  ip netns exec "$peer_ns" iptables -A INPUT -p icmp --icmp-type echo-request -j DROP || exit 1
}

in_ns() {
  ip netns exec "$test_ns" env -u DISPLAY WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all \
    WINEDLLOVERRIDES="mscoree,mshtml=" "$@"
}
if [ ! -f "$prefix/system.reg" ]; then
  in_ns /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
  in_ns /usr/lib/wine/wineserver -w
fi
in_ns /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1

# The backend: an echo to the silent peer times out with 11010 after ~2 s.
start=$(date +%s%N)
QUORVEX_SILENT_ADDRESS=$silent in_ns /usr/lib/wine/wine64 "$build/tests/quorvex_win32_tests.exe" \
  --gtest_filter='EchoWin32Test.SilentAddressTimesOut' \
  >"$build/namespace-echo.log" 2>&1 || { cat "$build/namespace-echo.log"; failures=$((failures + 1)); }
grep -q '\[  PASSED  \] 1 test' "$build/namespace-echo.log" || {
  echo "FAIL silent echo did not run and pass"; cat "$build/namespace-echo.log"; failures=$((failures + 1))
}
echo "silent echo test took $((($(date +%s%N) - start) / 1000000)) ms"

# The program: a name that no resolver can answer here ends with 1.
out=$(mktemp)
in_ns /usr/lib/wine/wine64 "$build/quorvex.exe" /M qvxnohost >"$out" 2>/dev/null
code=$?
if [ "$code" -ne 1 ] || ! cmp -s "$out" <(printf ' - Could not resolve hostname to IP Address.\r\n'); then
  echo "FAIL unresolvable name: exit $code"; od -c "$out" | head; failures=$((failures + 1))
fi
in_ns /usr/lib/wine/wine64 "$build/quorvex.exe" /M qvxnohost /Q >"$out" 2>/dev/null
code=$?
if [ "$code" -ne 1 ] || [ -s "$out" ]; then
  echo "FAIL unresolvable name, quiet: exit $code"; failures=$((failures + 1))
fi
# The program: a named host that never answers the echo, two attempts of
# about 2 s each, then the run ends with 1.
start=$(date +%s%N)
in_ns /usr/lib/wine/wine64 "$build/quorvex.exe" /M qvxsilent /P /V >"$out" 2>/dev/null
code=$?
elapsed=$((($(date +%s%N) - start) / 1000000))
printf ' + Resolved hostname to: %s\r\n ! Second knock...\r\n - Host DOWN. Could not ping: %s\r\n' \
  "$silent" "$silent" >"$out.want"
if [ "$code" -ne 1 ] || ! cmp -s "$out" "$out.want" || ((elapsed < 3800 || elapsed > 8000)); then
  echo "FAIL silent host: exit $code after $elapsed ms"; od -c "$out" | head; failures=$((failures + 1))
fi
echo "silent host run took $elapsed ms"
rm -f "$out.want"

# The program against Wine's own computer: the workstation query works, the
# server query at level 102 is one Wine lacks (124), so after its retry the
# run ends with 2, releasing the workstation record on the way out.
if [[ "$self" =~ ^[A-Z0-9-]+$ ]]; then
  in_ns /usr/lib/wine/wine64 "$build/quorvex.exe" /M "$self" /V >"$out" 2>/dev/null
  code=$?
  printf ' + Resolved hostname to: 127.0.0.1\r\n ! Retrying NetServerGetInfo call...\r\n - Can not access. NetServerGetInfo call failed.\r\n' >"$out.want"
  if [ "$code" -ne 2 ] || ! cmp -s "$out" "$out.want"; then
    echo "FAIL own computer: exit $code"; od -c "$out" | head; failures=$((failures + 1))
  fi
  rm -f "$out.want"
else
  echo "SKIP own computer: host name '$self' is no plain NetBIOS name"
fi

# An address with a two-digit first field is a valid address: its reverse
# name comes from the namespace's hosts file, and the remote query that
# follows is one Wine cannot make (no remote network management).
in_ns /usr/lib/wine/wine64 "$build/quorvex.exe" /M 10.98.7.2 >"$out" 2>/dev/null
code=$?
if [ "$code" -ne 2 ] || ! cmp -s "$out" <(printf ' + Resolved IP address to: QVXSILENT\r\n - Can not access. NetWkstaGetInfo call failed.\r\n'); then
  echo "FAIL two-digit first address field: exit $code"; od -c "$out" | head; failures=$((failures + 1))
fi
rm -f "$out"

# The sweep: each host in a worker process of its own. Hosts that fail at
# resolution, a name listed twice and an invalid host text, then a host whose
# ping outlasts the deadline, so its worker's job object is terminated.
if [ -f "$build/quorvex-sweep.exe" ]; then
  sweep_dir=$(mktemp -d)
  printf 'qvxnohost1\r\nqvxnohost2\r\nQVXNOHOST1\r\nbad host\r\nqvxnohost3\r\n' >"$sweep_dir/list.txt"
  in_ns /usr/lib/wine/wine64 "$build/quorvex-sweep.exe" --jobs 2 --no-progress --jsonl "Z:$sweep_dir/r.jsonl" \
    --csv "Z:$sweep_dir/r.csv" "Z:$sweep_dir/list.txt" >"$sweep_dir/out" 2>"$sweep_dir/err" </dev/null
  code=$?
  printf 'qvxsilent\r\n' >"$sweep_dir/slow.txt"
  start=$(date +%s%N)
  in_ns /usr/lib/wine/wine64 "$build/quorvex-sweep.exe" --deadline 2 --no-progress --jsonl "Z:$sweep_dir/s.jsonl" \
    "Z:$sweep_dir/slow.txt" -- /P >"$sweep_dir/slow.out" 2>&1 </dev/null
  slow_code=$?
  elapsed=$((($(date +%s%N) - start) / 1000000))
  if [ "$code" -ne 1 ] || [ "$slow_code" -ne 1 ] || ! python3 - "$sweep_dir" <<'EOF'
import csv, json, sys
d = sys.argv[1]
r = {x["host"]: x for x in map(json.loads, open(f"{d}/r.jsonl", encoding="utf-8"))}
ok = sorted(r) == ["bad host", "qvxnohost1", "qvxnohost2", "qvxnohost3"]
for h in ("qvxnohost1", "qvxnohost2", "qvxnohost3"):
    ok &= r[h]["exit_code"] == 1 and r[h]["failed"] == ["unreachable"] and r[h]["address"] is None
    ok &= r[h]["lines"] == [" - Could not resolve hostname to IP Address."]
    ok &= not r[h]["timed_out"] and not r[h]["crashed"]
ok &= r["bad host"]["exit_code"] == 9 and r["bad host"]["failed"] == ["usage"]
rows = list(csv.DictReader(open(f"{d}/r.csv", encoding="utf-8-sig", newline="")))
ok &= sorted(x["host"] for x in rows) == sorted(r)
ok &= "Skipped as duplicates: 1" in open(f"{d}/out").read()
s = json.loads(open(f"{d}/s.jsonl", encoding="utf-8").readline())
ok &= s["timed_out"] and not s["crashed"] and s["exit_code"] == 2 and s["address"] == "10.98.7.2"
ok &= s["lines"][0] == " + Resolved hostname to: 10.98.7.2" and 2000 <= s["elapsed_ms"] <= 3000
sys.exit(0 if ok else 1)
EOF
  then
    echo "FAIL sweep under Wine: exit $code and $slow_code"
    cat "$sweep_dir/out" "$sweep_dir/err" "$sweep_dir/slow.out" "$sweep_dir"/*.jsonl 2>/dev/null | head -40
    failures=$((failures + 1))
  fi
  echo "sweep under Wine: deadline run took $elapsed ms"
  rm -rf "$sweep_dir"
fi

if ((failures)); then echo "$failures namespace case(s) failed"; exit 1; fi
echo "all namespace cases passed"
