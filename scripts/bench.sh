#!/bin/bash
# Not a test: how a full passing check by quorvex compares with the same
# checks made by Samba's stock client tools (ping; rpcclient for the
# workstation and server queries; smbclient for the share and its free space;
# net rpc registry for the two registry values), against the local Samba
# host of tests/lib/samba-host.sh.
#
# 1. Wall time of each, with hyperfine, and the ratio.
# 2. What the fleet sweep's facts beyond the checks (clock, restart, services,
#    administrators, profiles) add to a host's check: a sweep of the host
#    with and without them (--checks-only), one of each in turn, medians and
#    the ratio, and what each cost the server in CPU; and the same over the
#    slow link of 3.
# 3. Round trips per full check: every reply of the server is held back by
#    DELAY_MS (netem on the server's link when the kernel has it; otherwise a
#    relay in the server namespace that delays each reply chunk of TCP 445),
#    and the added wall time divided by the delay counts the turns the client
#    waited for. The relay does not delay TCP handshakes or ICMP.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORVEX_BENCH_BUILD:-$root/build-bench}
delay_ms=${DELAY_MS:-20}
runs=${RUNS:-20}
bash "$root/scripts/install-deps.sh" samba samba-dev smbclient iproute2 python3 cmake g++ pkg-config \
  hyperfine iputils-ping >/dev/null

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target quorvex quorvex-sweep >/dev/null

work=$(mktemp -d /tmp/quorvex-bench.XXXXXX)
relay_pid=
cleanup() {
  [[ -n $relay_pid ]] && kill "$relay_pid" 2>/dev/null
  bash "$root/tests/lib/samba-host.sh" stop "$work/host"
  rm -rf "$work"
}
trap cleanup EXIT
bash "$root/tests/lib/samba-host.sh" start "$work/host" --global 'log level = 0'
# shellcheck disable=SC1091
source "$work/host/host.env"

# One file per side, so that hyperfine and the delay runs execute the same.
cat >"$work/quorvex.sh" <<EOF
#!/bin/bash
# \$1: the host name to check
exec env USER='$QVX_USER' PASSWD='$QVX_PASSWORD' '$build/quorvex' /M "\$1" /P /I >/dev/null
EOF
cat >"$work/stock.sh" <<EOF
#!/bin/bash
# \$1: the host name to check
set -e
h=\$1
u='$QVX_USER%$QVX_PASSWORD'
ping -c 1 -W 2 "\$h" >/dev/null
rpcclient -U "\$u" -c 'wkssvc_wkstagetinfo; srvinfo' "\$h" >/dev/null
smbclient -U "\$u" "//\$h/admin\\$" -c 'ls System32; du' >/dev/null 2>&1
net rpc registry getvalue 'HKLM\\SYSTEM\\CurrentControlSet\\Control\\ProductOptions' ProductType -S "\$h" -U "\$u" >/dev/null
net rpc registry getvalue 'HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion' CurrentVersion -S "\$h" -U "\$u" >/dev/null
EOF
chmod +x "$work/quorvex.sh" "$work/stock.sh"
in_client() { ip netns exec "$QVX_CLIENT_NS" "$@"; }

# Both must pass before they are timed; this also starts the RPC workers.
in_client "$work/quorvex.sh" qvxhost || { echo "quorvex check failed" >&2; exit 1; }
in_client "$work/stock.sh" qvxhost || { echo "stock tools failed" >&2; exit 1; }

in_client hyperfine -N --warmup 3 --runs "$runs" --export-json "$work/times.json" \
  -n quorvex "$work/quorvex.sh qvxhost" -n stock-tools "$work/stock.sh qvxhost"
python3 - "$work/times.json" <<'EOF'
import json, sys
r = {x["command"]: x["mean"] for x in json.load(open(sys.argv[1]))["results"]}
q, s = r["quorvex"], r["stock-tools"]
print(f"mean wall time: quorvex {q*1000:.1f} ms, stock tools {s*1000:.1f} ms, stock/quorvex = {s/q:.1f}x")
EOF

# The sweep's facts beyond the checks: one host, one worker, with and without.
echo qvxhost >"$work/one-host"
cat >"$work/sweep.sh" <<EOF
#!/bin/bash
# \$@: extra options of the sweep
exec env USER='$QVX_USER' PASSWD='$QVX_PASSWORD' '$build/quorvex-sweep' --jobs 1 --no-progress "\$@" \\
  '$work/one-host' -- /I >/dev/null
EOF
chmod +x "$work/sweep.sh"
in_client "$work/sweep.sh" || [[ $? == 1 ]] || { echo "sweep failed" >&2; exit 1; }
# One run of each in turn, so that the machine's drifts fall on both alike;
# medians. With SERVER_NS, also the CPU the server's processes spent on each
# (their own and their reaped children's, read from /proc after each run):
# on a machine whose cores the server shares, what the facts cost the server
# is a floor under the wall time they add. Usage:
# facts_in_turn SWEEP_SCRIPT RUNS LABEL [SERVER_NS]
facts_in_turn() {
  in_client python3 - "$@" <<'EOF'
import os, statistics, subprocess, sys, time
script, n, label = sys.argv[1], int(sys.argv[2]), sys.argv[3]
server_ns = sys.argv[4] if len(sys.argv) > 4 else None
tick = os.sysconf("SC_CLK_TCK")

def server_cpu_ms():
    pids = subprocess.run(["ip", "netns", "pids", server_ns], capture_output=True, text=True).stdout.split()
    ticks = 0
    for pid in pids:
        try:
            fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        ticks += sum(int(x) for x in fields[11:15])  # utime, stime, cutime, cstime
    return ticks * 1000 / tick

runs = {"with-facts": [script], "checks-only": [script, "--checks-only"]}
times = {k: [] for k in runs}
server = {k: [] for k in runs}
for i in range(n + 3):  # the first three warm the server's workers up
    for name, command in runs.items():
        before = server_cpu_ms() if server_ns else 0
        start = time.perf_counter()
        if subprocess.run(command).returncode != 0:
            sys.exit(f"{name} failed")
        took = (time.perf_counter() - start) * 1000
        if server_ns:
            time.sleep(0.05)  # the server reaps the connection's process
            server[name].append(server_cpu_ms() - before)
        if i >= 3:
            times[name].append(took)
w, c = (statistics.median(times[k]) for k in runs)
print(f"sweep of one host{label} (medians of {n}, taken in turn): with the move's facts {w:.1f} ms, "
      f"checks only {c:.1f} ms, +{(w / c - 1) * 100:.0f}%")
if server_ns:
    sw, sc = (statistics.mean(server[k][3:]) for k in runs)
    cores = os.cpu_count()
    print(f"server CPU a sweep (means): with the move's facts {sw:.1f} ms, checks only {sc:.1f} ms; "
          f"the facts' {sw - sc:.1f} ms on {cores} cores are at least {(sw - sc) / cores:.1f} ms "
          f"(+{(sw - sc) / cores / c * 100:.0f}%) of wall time")
EOF
}
facts_in_turn "$work/sweep.sh" "$((runs * 3))" "" "$QVX_SERVER_NS"

# Round trips.
target=qvxhost
if ip netns exec "$QVX_SERVER_NS" tc qdisc add dev "$(ip -n "$QVX_SERVER_NS" -o link show type veth | awk -F'[ :@]+' '{print $2}')" \
    root netem delay "${delay_ms}ms" 2>/dev/null; then
  method="netem on the server's link"
else
  method="reply relay (SMB turns only)"
  # The relay answers as the server on an address of its own; its name maps
  # to it in the client namespace.
  ip -n "$QVX_SERVER_NS" addr add 10.97.0.9/24 dev "$(ip -n "$QVX_SERVER_NS" -o link show type veth | awk -F'[ :@]+' '{print $2}')"
  echo "10.97.0.9 slowhost" >>"/etc/netns/$QVX_CLIENT_NS/hosts"
  target=slowhost
  ip netns exec "$QVX_SERVER_NS" python3 - "$delay_ms" "$QVX_ADDR" >/dev/null 2>&1 <<'EOF' &
import asyncio, sys
delay = int(sys.argv[1]) / 1000.0
upstream = sys.argv[2]

async def pump(reader, writer, hold):
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()
    async def send():
        while True:
            due, data = await queue.get()
            if data is None:
                break
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            writer.write(data)
            await writer.drain()
        writer.close()
    sender = asyncio.create_task(send())
    try:
        while True:
            data = await reader.read(65536)
            if not data:
                break
            await queue.put((loop.time() + hold, data))
    finally:
        await queue.put((0, None))
        await sender

async def serve(creader, cwriter):
    try:
        sreader, swriter = await asyncio.open_connection(upstream, 445)
    except OSError:
        cwriter.close()
        return
    await asyncio.gather(pump(creader, swriter, 0), pump(sreader, cwriter, delay), return_exceptions=True)

async def main():
    server = await asyncio.start_server(serve, "10.97.0.9", 445)
    async with server:
        await server.serve_forever()

asyncio.run(main())
EOF
  relay_pid=$!
  sleep 1
fi

# Best of five, in milliseconds.
best_of() {
  local script=$1 host=$2 best= start end t
  for _ in 1 2 3 4 5; do
    start=$(date +%s%N)
    in_client "$script" "$host" || true
    end=$(date +%s%N)
    t=$(((end - start) / 1000000))
    [[ -z $best || $t -lt $best ]] && best=$t
  done
  echo "$best"
}
declare -A trips
for side in quorvex stock; do
  slow=$(best_of "$work/$side.sh" "$target")
  if [[ $target == qvxhost ]]; then base=0; else base=$(best_of "$work/$side.sh" qvxhost); fi
  trips[$side]=$(((slow - base + delay_ms / 2) / delay_ms))
  echo "$side: ${slow} ms with ${delay_ms} ms per reply, ${base} ms without ($method): about ${trips[$side]} round trips"
done
echo "round trips: quorvex ${trips[quorvex]}, stock tools ${trips[stock]}"

# The facts beyond the checks over the same slow link, where a remote site's
# hosts are: what the sweep asks beside the checks hides most of their round
# trips.
echo "$target" >"$work/slow-host"
sed "s|$work/one-host|$work/slow-host|" "$work/sweep.sh" >"$work/sweep-slow.sh"
chmod +x "$work/sweep-slow.sh"
facts_in_turn "$work/sweep-slow.sh" "$runs" " with ${delay_ms} ms per reply"
