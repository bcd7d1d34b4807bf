#!/bin/bash
# Benchmark (not a test) of quorvex-sweep on a fleet of 1,000 hosts in
# network namespaces on this machine: one Samba server (the test host of
# tests/lib/samba-host.sh) answering on 900 addresses, each with its own name
# in the client's hosts file; 50 addresses whose SYNs the server's namespace
# drops (iptables); 50 on the link that nobody owns. Sweeps at --jobs 1 (the
# first 100 hosts only), 16, 64 and 256, and at --jobs 64 --deadline 5, then
# checks the first 100 hosts with a serial shell loop of quorvex. For each:
# wall time, hosts a second, CPU seconds of the sweep with its workers and of
# the server, peak memory (summed PSS of the sweep and its workers), and the
# latest record against its deadline.
#
#   bash scripts/bench-sweep.sh            # everything (several minutes)
#   QVX_BENCH_RUNS="64" bash scripts/bench-sweep.sh   # only --jobs 64
#   QVX_BENCH_RUNS="64 64c" ...   # --jobs 64 with and without the facts
#                                   beyond the checks (64c: --checks-only)
#
# The hosts are checked with /I: their names are the client's, not the
# server's NetBIOS name, and every host should run the whole check.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-bench-sweep
runs=${QVX_BENCH_RUNS:-"1 16 64 256 64d5 serial"}

bash "$root/scripts/install-deps.sh" samba samba-common-bin iproute2 iptables python3 cmake ninja-build g++ \
  pkg-config samba-dev libcli11-dev nlohmann-json3-dev >/dev/null
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEX_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target quorvex quorvex-sweep >/dev/null

work=$(mktemp -d /tmp/quorvex-bench-sweep.XXXXXX)
cleanup() {
  set +e
  rm -rf "$build/bench-server-log"
  cp -r "$work/host/run/log" "$build/bench-server-log" 2>/dev/null
  bash "$root/tests/lib/samba-host.sh" stop "$work/host"
  rm -rf "$work"
}
trap cleanup EXIT

# The test host, standing in for the fleet: the live addresses are one local
# route of the server's (10.99.0.0/20; see samba-host.sh --routed for why not
# 900 interface addresses), reached through its end of the link, so the
# client's neighbour table holds one entry for them. Logging is off, so that
# the server's CPU figure is the cost of answering, not of writing its log.
bash "$root/tests/lib/samba-host.sh" start "$work/host" --routed 10.99.0.0/20 --global 'log level = 0'
# shellcheck disable=SC1091
source "$work/host/host.env"
server_ns=$QVX_SERVER_NS

# Host i (from 0): every twentieth from 7 drops SYNs (an address of the
# server's that iptables drops), every twentieth from 13 is absent (on the
# link, where nobody answers its neighbour lookup), the rest are live
# addresses of the server.
hosts=/etc/netns/$QVX_CLIENT_NS/hosts
: >"$work/list"
live=0 drop=0 absent=0
for ((i = 0; i < 1000; i++)); do
  name=$(printf 'bench%04d' "$i")
  if ((i % 20 == 7)); then
    drop=$((drop + 1)); addr=10.99.10.$drop
  elif ((i % 20 == 13)); then
    absent=$((absent + 1)); addr=192.0.2.$((100 + absent))
  else
    live=$((live + 1)); addr=10.99.$((1 + live / 250)).$((live % 250 + 1))
  fi
  echo "$addr $name" >>"$hosts"
  echo "$name" >>"$work/list"
done
ip netns exec "$server_ns" iptables -A INPUT -p tcp -m iprange --dst-range 10.99.10.1-10.99.10.50 -j DROP
head -100 "$work/list" >"$work/list100"
echo "fleet: $live live, $drop dropping SYNs, $absent absent"

client=(ip netns exec "$QVX_CLIENT_NS" env USER="$QVX_USER" PASSWD="$QVX_PASSWORD")
# Warm the server's RPC services once.
"${client[@]}" "$build/quorvex" /M bench0000 /I >/dev/null 2>&1 || true

# CPU seconds (user+system, with reaped children) of every process in the
# server's namespace.
server_cpu() {
  local total=0 pid
  for pid in $(ip netns pids "$server_ns"); do
    [[ -r /proc/$pid/stat ]] || continue
    total=$((total + $(awk '{print $14 + $15 + $16 + $17}' "/proc/$pid/stat" 2>/dev/null || echo 0)))
  done
  echo "$total"
}
tick=$(getconf CLK_TCK)

# Peak summed PSS of a process and its children, sampled every 200 ms.
cat >"$work/pss.py" <<'EOF'
import os, sys, time
root, out = int(sys.argv[1]), sys.argv[2]
peak = 0
def pss(pid):
    try:
        for line in open(f"/proc/{pid}/smaps_rollup"):
            if line.startswith("Pss:"): return int(line.split()[1])
    except OSError: pass
    return 0
while os.path.exists(f"/proc/{root}"):
    kids = []
    try: kids = open(f"/proc/{root}/task/{root}/children").read().split()
    except OSError: pass
    peak = max(peak, pss(root) + sum(pss(int(k)) for k in kids))
    time.sleep(0.2)
open(out, "w").write(str(peak))
EOF

printf '%-22s %6s %8s %8s %10s %10s %9s %12s\n' run hosts wall_s hosts/s cpu_sweep cpu_server peak_MiB latest_ms
measure() {  # measure NAME LIST DEADLINE COMMAND...
  local name=$1 list=$2 deadline=$3
  shift 3
  local hosts s0 t0 t1 s1
  hosts=$(grep -c '' "$list")
  rm -f "$work/r.jsonl" "$work/pss"
  s0=$(server_cpu)
  t0=$(date +%s.%N)
  /usr/bin/time -f '%U %S' -o "$work/time" "$@" >"$work/out" 2>/dev/null &
  local timer=$!
  sleep 0.05
  local sweep_pid
  sweep_pid=$(pgrep -P "$timer" | head -1 || true)
  local sampler=
  if [[ -n $sweep_pid ]]; then
    python3 "$work/pss.py" "$sweep_pid" "$work/pss" &
    sampler=$!
  fi
  wait "$timer" || true
  t1=$(date +%s.%N)
  [[ -n $sampler ]] && wait "$sampler"
  cp "$work/r.jsonl" "$build/bench-${name// /_}.jsonl" 2>/dev/null || true
  s1=$(server_cpu)
  python3 - "$name" "$hosts" "$t0" "$t1" "$work/time" "$s0" "$s1" "$tick" "$work/pss" "$work/r.jsonl" "$deadline" <<'EOF'
import json, os, sys
name, hosts, t0, t1, timef, s0, s1, tick, pssf, jsonl, deadline = sys.argv[1:]
wall = float(t1) - float(t0)
user, system = map(float, open(timef).read().split()[-2:])
server = (int(s1) - int(s0)) / int(tick)
peak = int(open(pssf).read()) / 1024 if os.path.exists(pssf) else float("nan")
latest = "-"
if os.path.exists(jsonl):
    elapsed = [json.loads(l)["elapsed_ms"] for l in open(jsonl)]
    latest = f"{max(elapsed)}/{int(deadline) * 1000}"
print(f"{name:<22} {hosts:>6} {wall:8.1f} {int(hosts) / wall:8.1f} {user + system:10.1f} {server:10.1f} {peak:9.0f} {latest:>12}")
EOF
}

for r in $runs; do
  case $r in
    1) measure "sweep --jobs 1" "$work/list100" 60 \
         "${client[@]}" "$build/quorvex-sweep" --jobs 1 --no-progress --jsonl "$work/r.jsonl" "$work/list100" -- /I ;;
    64c) measure "sweep --jobs 64 checks" "$work/list" 60 \
         "${client[@]}" "$build/quorvex-sweep" --jobs 64 --checks-only --no-progress --jsonl "$work/r.jsonl" "$work/list" -- /I ;;
    64d5) measure "sweep --jobs 64 -d 5" "$work/list" 5 \
         "${client[@]}" "$build/quorvex-sweep" --jobs 64 --deadline 5 --no-progress --jsonl "$work/r.jsonl" "$work/list" -- /I ;;
    serial) measure "serial quorvex loop" "$work/list100" 60 \
         "${client[@]}" bash -c 'while read -r h; do "$0" /M "$h" /I /V >/dev/null; done <"$1"' \
         "$build/quorvex" "$work/list100" ;;
    *) measure "sweep --jobs $r" "$work/list" 60 \
         "${client[@]}" "$build/quorvex-sweep" --jobs "$r" --no-progress --jsonl "$work/r.jsonl" "$work/list" -- /I ;;
  esac
done
