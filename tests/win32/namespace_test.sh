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
silent=10.98.7.2

# shellcheck source=../lib/harness.sh
source "$(dirname "${BASH_SOURCE[0]}")/../lib/harness.sh"
cleanup() {
  WINEPREFIX=$prefix /usr/lib/wine/wineserver -k 2>/dev/null
  qvx_teardown
}
trap cleanup EXIT

qvx_ns test_ns qvx-win && qvx_ns peer_ns qvx-win-peer || exit 1
self=$(hostname | cut -d. -f1 | cut -c1-15 | tr 'a-z' 'A-Z')
qvx_etc "$test_ns" "127.0.0.1 localhost $self
$silent qvxsilent" || exit 1
qvx_link "$test_ns" 10.98.7.1/24 "$peer_ns" "$silent/24" || exit 1
qvx_ignore_echo "$peer_ns" || ip netns exec "$peer_ns" iptables -A INPUT -p icmp --icmp-type echo-request -j DROP ||
  exit 1

in_ns() {
  ip netns exec "$test_ns" env -u DISPLAY WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all \
    WINEDLLOVERRIDES="mscoree,mshtml=" "$@"
}
if [ ! -f "$prefix/system.reg" ]; then
  in_ns /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
  in_ns /usr/lib/wine/wineserver -w
fi
in_ns /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1

start=$(date +%s%N)
if QUORVEX_SILENT_ADDRESS=$silent in_ns /usr/lib/wine/wine64 "$build/tests/quorvex_win32_tests.exe" \
  --gtest_filter='EchoWin32Test.SilentAddressTimesOut' >"$build/namespace-echo.log" 2>&1 &&
  grep -q '\[  PASSED  \] 1 test' "$build/namespace-echo.log"; then
  qvx_passed=$((qvx_passed + 1))
  echo "ok   silent echo times out ($((($(date +%s%N) - start) / 1000000)) ms)"
else
  qvx_failed=$((qvx_failed + 1))
  echo "FAIL silent echo did not run and pass"
  cat "$build/namespace-echo.log"
fi

QVX_RUN=(in_ns /usr/lib/wine/wine64 "$build/quorvex.exe")
QVX_ALLOW_STDERR=1  # Wine's own notes, never the tool's
QVX_RERUN_SILENT=1
qvx_case "unresolvable name" 1 5 -- /M qvxnohost <<<" - Could not resolve hostname to IP Address."
qvx_case "unresolvable name, quiet" 1 5 -- /M qvxnohost /Q </dev/null
qvx_case --min 3800 "silent host" 1 8 -- /M qvxsilent /P /V <<<" + Resolved hostname to: $silent
 ! Second knock...
 - Host DOWN. Could not ping: $silent"
if [[ "$self" =~ ^[A-Z0-9-]+$ ]]; then
  qvx_case "own computer" 2 10 -- /M "$self" /V <<<" + Resolved hostname to: 127.0.0.1
 ! Retrying NetServerGetInfo call...
 - Can not access. NetServerGetInfo call failed."
else
  echo "skip own computer: host name '$self' is no plain NetBIOS name"
fi
qvx_case "two-digit first address field" 2 10 -- /M 10.98.7.2 <<<" + Resolved IP address to: QVXSILENT
 - Can not access. NetWkstaGetInfo call failed."

# The sweep: each host in a worker process of its own. Hosts that fail at
# resolution, a name listed twice and an invalid host text, then a host whose
# ping outlasts the deadline, so its worker's job object is terminated.
# A sweep always writes its summary: one that wrote nothing was ended by Wine
# before it began (see QVX_RERUN_SILENT in the harness) and is run once more,
# its records removed first. Usage: wine_sweep OUT ERR RECORDS... -- ARGS...
wine_sweep() {
  local out=$1 err=$2 code
  shift 2
  local -a records=()
  while [ "$1" != -- ]; do records+=("$1"); shift; done
  shift
  for attempt in 1 2; do
    rm -f "${records[@]}"
    in_ns /usr/lib/wine/wine64 "$build/quorvex-sweep.exe" "$@" >"$out" 2>"$err" </dev/null
    code=$?
    [ -s "$out" ] || [ -s "$err" ] || [ "$attempt" = 2 ] && return "$code"
    echo "note: sweep exit $code with nothing written, run again"
  done
}

if [ -f "$build/quorvex-sweep.exe" ]; then
  sweep_dir=$(mktemp -d)
  printf 'qvxnohost1\r\nqvxnohost2\r\nQVXNOHOST1\r\nbad host\r\nqvxnohost3\r\n' >"$sweep_dir/list.txt"
  wine_sweep "$sweep_dir/out" "$sweep_dir/err" "$sweep_dir/r.jsonl" "$sweep_dir/r.csv" -- --jobs 2 --no-progress \
    --jsonl "Z:$sweep_dir/r.jsonl" --csv "Z:$sweep_dir/r.csv" "Z:$sweep_dir/list.txt"
  code=$?
  printf 'qvxsilent\r\n' >"$sweep_dir/slow.txt"
  start=$(date +%s%N)
  wine_sweep "$sweep_dir/slow.out" "$sweep_dir/slow.err" "$sweep_dir/s.jsonl" -- --deadline 2 --no-progress \
    --jsonl "Z:$sweep_dir/s.jsonl" "Z:$sweep_dir/slow.txt" -- /P
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
    cat "$sweep_dir/out" "$sweep_dir/err" "$sweep_dir/slow.out" "$sweep_dir/slow.err" "$sweep_dir"/*.jsonl 2>/dev/null | head -40
    qvx_failed=$((qvx_failed + 1))
  else
    qvx_passed=$((qvx_passed + 1))
    echo "ok   sweep under Wine: records of unresolvable, duplicate, invalid and timed-out hosts"
  fi
  echo "sweep under Wine: deadline run took $elapsed ms"

  # A second sweep on the records file a running one writes: refused (3, one
  # line), its host never checked; the first's record comes out whole. When
  # Wine ended either before it wrote anything, the two are run once more.
  for attempt in 1 2; do
    rm -f "$sweep_dir/l.jsonl"
    in_ns /usr/lib/wine/wine64 "$build/quorvex-sweep.exe" --deadline 4 --no-progress --jsonl "Z:$sweep_dir/l.jsonl" \
      "Z:$sweep_dir/slow.txt" -- /P >"$sweep_dir/lock1.out" 2>&1 </dev/null &
    first=$!
    for _ in $(seq 100); do
      [ -e "$sweep_dir/l.jsonl" ] && break
      sleep 0.1
    done
    in_ns /usr/lib/wine/wine64 "$build/quorvex-sweep.exe" --overwrite --no-progress --jsonl "Z:$sweep_dir/l.jsonl" \
      "Z:$sweep_dir/list.txt" >"$sweep_dir/lock2.out" 2>"$sweep_dir/lock2.err" </dev/null
    second_code=$?
    wait "$first"
    first_code=$?
    [ -s "$sweep_dir/lock1.out" ] && { [ -s "$sweep_dir/lock2.out" ] || [ -s "$sweep_dir/lock2.err" ]; } && break
    echo "note: a sweep ended with nothing written (exits $first_code and $second_code), both run again"
  done
  if [ "$second_code" -eq 3 ] && [ ! -s "$sweep_dir/lock2.out" ] && [ "$first_code" -eq 1 ] &&
    grep -qx "quorvex-sweep: Z:$sweep_dir/l.jsonl is being written by another sweep" "$sweep_dir/lock2.err" &&
    [ "$(grep -c '"timed_out":true' "$sweep_dir/l.jsonl")" = 1 ]; then
    qvx_passed=$((qvx_passed + 1))
    echo "ok   sweep under Wine: a second sweep on the same records refused"
  else
    qvx_failed=$((qvx_failed + 1))
    echo "FAIL sweep under Wine: second sweep exit $second_code, first $first_code"
    cat "$sweep_dir/lock2.out" "$sweep_dir/lock2.err" "$sweep_dir/lock1.out" "$sweep_dir/l.jsonl" 2>/dev/null | head -20
  fi
  rm -rf "$sweep_dir"
fi

qvx_summary
