#!/bin/bash
# quorvex-sweep against a real Samba host and addresses that fail in every
# way a fleet's dead hosts do: absent, dropping SYNs (a route to nowhere, and
# an iptables DROP), silent after the connect, unresolvable, an invalid host
# text, names listed twice. Asserts the records' facts against what
# `quorvex /M HOST /V` says of the same host, a SIGKILL part-way and a
# --resume that finishes the list with every host recorded once, a
# --retry-unreachable run, the flushes to disk around every file a sweep
# replaces, Ctrl-C (exit 130), a disk that fills mid-sweep, the sweep's own
# refusals, a second sweep on records files a running one writes, and the
# records' SMB facts and admin$ statuses under changed server settings.
# Uses the Samba host of tests/lib/samba-host.sh and the sanitized build of the
# core tests. Prints "N passed, N failed".
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)

bash "$root/scripts/install-deps.sh" samba samba-dev smbclient iproute2 iptables python3 cmake ninja-build g++ \
  pkg-config googletest libcli11-dev nlohmann-json3-dev strace >/dev/null || exit 1

# shellcheck source=../lib/build.sh
source "$root/tests/lib/build.sh"
qvx_build sanitized quorvex quorvex-sweep || exit 1
build=$QVX_BUILD_DIR
qvx_sanitizer_env

work=$(mktemp -d /tmp/quorvex-sweep.XXXXXX)
sweep_pid=
cleanup() {
  [[ -n $sweep_pid ]] && kill -9 "$sweep_pid" 2>/dev/null
  mountpoint -q "$work/full" && umount "$work/full"
  for host in "$work"/host "$work"/clock*; do bash "$root/tests/lib/samba-host.sh" stop "$host" || true; done
  rm -rf "$work"
}
trap cleanup EXIT
bash "$root/tests/lib/samba-host.sh" start "$work/host" || exit 1
# shellcheck disable=SC1091
source "$work/host/host.env"

# One more dead host: an address of the server whose packets iptables drops.
veth=$(ip -n "$QVX_SERVER_NS" -o link show type veth | awk -F'[ :@]+' '{print $2}')
ip -n "$QVX_SERVER_NS" addr add 192.0.2.6/24 dev "$veth"
ip netns exec "$QVX_SERVER_NS" iptables -A INPUT -d 192.0.2.6 -p tcp -j DROP || exit 1
echo "192.0.2.6 syndrop" >>"/etc/netns/$QVX_CLIENT_NS/hosts"

# Every program here execs the next, so a command started in the background
# with this has the PID of the sweep itself.
client=(ip netns exec "$QVX_CLIENT_NS" env USER="$QVX_USER" PASSWD="$QVX_PASSWORD")
in_client() { "${client[@]}" "$@"; }
sweep=$build/quorvex-sweep
tool=$build/quorvex
passed=0
failed=0
check() {  # check NAME COMMAND...: passes when the command succeeds
  local name=$1
  shift
  if "$@" >"$work/check.out" 2>&1; then
    passed=$((passed + 1))
    printf 'ok   %s\n' "$name"
  else
    failed=$((failed + 1))
    printf 'FAIL %s\n' "$name"
    sed 's/^/    /' "$work/check.out" | head -30
  fi
}

# The host's RPC workers start on demand; the first call pays for that.
in_client "$tool" /M qvxhost >/dev/null 2>&1

# Two spellings of qvxhost are duplicates (case, quotes and spaces trimmed).
cat >"$work/list" <<'EOF'
# the fleet
qvxhost
QVXHOST
qvxhost.test.lan
wrongname
10.97.0.1
nohost
drop
silent
syndrop
nosuch.invalid
bad host
  "qvxhost"
; the end
EOF
unique_hosts=10

# What the single tool says of every host that ends within the deadline, run
# side by side while the sweep runs.
for h in qvxhost qvxhost.test.lan wrongname 10.97.0.1 nohost nosuch.invalid; do
  (in_client "$tool" /M "$h" /V >"$work/single-$h.out" 2>&1; echo $? >"$work/single-$h.rc") &
done

start=$(date +%s.%N)
in_client "$sweep" --jobs 8 --deadline 10 --jsonl "$work/r.jsonl" --csv "$work/r.csv" "$work/list" \
  >"$work/sweep.out" 2>"$work/sweep.err"
rc=$?
took=$(python3 -c "print(f'{$(date +%s.%N) - $start:.1f}')")
wait
echo "     (first sweep took ${took}s)"
check "sweep exits 1 when some host fails" test "$rc" = 1
check "standard error is empty" test ! -s "$work/sweep.err"
check "sweep within its deadline plus a margin" python3 -c "import sys; sys.exit($took > 20)"

cat >"$work/facts.py" <<'EOF'
import csv, json, sys
work = sys.argv[1]
records = [json.loads(l) for l in open(f"{work}/r.jsonl", encoding="utf-8")]
by = {r["host"]: r for r in records}
problems = []
def want(cond, what):
    if not cond: problems.append(what)

want(len(records) == int(sys.argv[2]), f"{len(records)} records")
want(len(by) == len(records), "a host recorded twice")
q = by["qvxhost"]
want(q["exit_code"] == 0 and q["failed"] == [], "qvxhost passes")
want(q["address"] == "10.97.0.1", "qvxhost address")
want(q["netbios_name"] == "QVXHOST" and q["domain"] == "SÄLJARE", "qvxhost names")
want(q["product_type"] == "ServerNT" and q["os_version"] == "6.1", "qvxhost registry facts")
want(q["admin_share"] is True and q["free_bytes"] > 15 << 20, "qvxhost admin$")
want(q["timed_out"] is False and q["crashed"] is False, "qvxhost flags")
want(by["10.97.0.1"]["full_name"] == "QVXHOST.TEST.LAN", "address's reverse name")
w = by["wrongname"]
want(w["exit_code"] == 4 and w["failed"] == ["name-mismatch"] and w["netbios_name"] == "QVXHOST", "wrongname")
want(w["admin_share"] is None and w["free_bytes"] is None and w["os_version"] is None, "wrongname stops early")
n = by["nosuch.invalid"]
want(n["exit_code"] == 1 and n["failed"] == ["unreachable"] and n["address"] is None, "unresolvable")
a = by["nohost"]
want(a["exit_code"] == 2 and a["failed"] == ["no-management"] and a["address"] == "192.0.2.5", "absent host")
want([e["call"] for e in a["errors"]] == ["NetWkstaGetInfo"] * 2, "absent host's failed calls")
# The connection's facts: of a host that answered, even when a check ended
# its run early; never of one that did not.
nothing = {"dialect": None, "signing_required": None}
want(q["smb"] == {"dialect": "3.1.1", "signing_required": False}, f"qvxhost smb {q['smb']}")
want(w["smb"] == q["smb"], f"wrongname smb {w['smb']}")
want(a["smb"] == nothing and n["smb"] == nothing, "no smb facts of hosts never reached")
for h, addr in (("drop", "192.0.2.4"), ("silent", "192.0.2.3"), ("syndrop", "192.0.2.6")):
    r = by[h]
    want(r["timed_out"] is True and r["crashed"] is False and r["exit_code"] == 2, f"{h} timed out")
    want(r["failed"] == ["no-management"], f"{h} failed names")
    want(r["address"] == addr and r["lines"][0] == f" + Resolved hostname to: {addr}", f"{h} keeps its facts")
    want(10000 <= r["elapsed_ms"] <= 11000, f"{h} killed at its deadline: {r['elapsed_ms']} ms")
    want(r["smb"] == nothing, f"{h} smb facts")
b = by["bad host"]
want(b["exit_code"] == 9 and b["failed"] == ["usage"] and len(b["lines"]) == 1, "invalid host text")
for r in records:
    want(r["elapsed_ms"] <= 11000, f"{r['host']} later than its deadline")

# Every host that ended says what the single tool says, line for line.
for h in ("qvxhost", "qvxhost.test.lan", "wrongname", "10.97.0.1", "nohost", "nosuch.invalid"):
    out = open(f"{work}/single-{h}.out", encoding="utf-8", newline="").read()
    rc = int(open(f"{work}/single-{h}.rc").read())
    lines = out.split("\r\n")[:-1]
    want(by[h]["lines"] == lines, f"{h}: lines {by[h]['lines']} vs {lines}")
    want(by[h]["exit_code"] == rc, f"{h}: exit code {by[h]['exit_code']} vs {rc}")

raw = open(f"{work}/r.csv", "rb").read()
want(raw.startswith(b"\xef\xbb\xbf"), "CSV BOM")
rows = list(csv.DictReader(raw.decode("utf-8-sig").splitlines()))
want(sorted(r["host"] for r in rows) == sorted(by), "CSV hosts")
want(all(row["exit_code"] == str(by[row["host"]]["exit_code"]) for row in rows), "CSV exit codes")
want(next(r for r in rows if r["host"] == "nosuch.invalid")["address"] == "", "CSV null")
for p in problems: print(p)
sys.exit(1 if problems else 0)
EOF
check "records' facts, compared with the single tool" python3 "$work/facts.py" "$work" "$unique_hosts"
check "one line a host, then the summary" bash -c "
  grep -c '' '$work/sweep.out' | grep -qx 25 && grep -qx 'Blocked by clock: 0' '$work/sweep.out' &&
  grep -qx 'qvxhost  0  passed' '$work/sweep.out' &&
  grep -qx 'silent  2  timed out after 10 s' '$work/sweep.out' &&
  grep -qx 'Hosts checked: 10' '$work/sweep.out' && grep -qx 'Passed: 3' '$work/sweep.out' &&
  grep -qx 'Timed out: 3' '$work/sweep.out' && grep -qx 'Skipped as duplicates: 2' '$work/sweep.out'"

# The sweep's refusals.
in_client "$sweep" --jsonl "$work/r.jsonl" "$work/list" >/dev/null 2>"$work/err"
check "existing records refused without --resume (3)" bash -c "test $? = 3 && grep -q -- --overwrite '$work/err'"
in_client "$sweep" "$work/list" -- /C OLD /M x >/dev/null 2>&1
check "/M among the switches refused (9)" test $? = 9
in_client "$sweep" "$work/list" -- /V >/dev/null 2>&1
check "/V among the switches refused (9)" test $? = 9
in_client "$sweep" "$work/list" -- /F 4096 >/dev/null 2>"$work/err"
check "invalid /F value (99, the single tool's line)" bash -c "test $? = 99 && grep -q '^ERROR: /F value' '$work/err'"
"$sweep" "$work/absent-list" >/dev/null 2>"$work/err"
check "unreadable list (3, one line)" bash -c "test $? = 3 && test \$(grep -c '' '$work/err') = 1"
printf '# nothing\n\n' | "$sweep" - >/dev/null 2>&1
check "list without a host (3)" test $? = 3
"$sweep" --jobs 2000 "$work/list" >/dev/null 2>&1
check "--jobs out of range (9)" test $? = 9

# --site goes into every record, JSON Lines and CSV; a resume told another
# site leaves the records it finds with the site they were written with.
site_files=(--jsonl "$work/site.jsonl" --csv "$work/site.csv")
printf 'qvxhost\n' >"$work/site-list"
in_client "$sweep" --deadline 10 --no-progress --checks-only --site "Lyon, bâtiment \"A\"" "${site_files[@]}" \
  "$work/site-list" >/dev/null 2>&1
printf 'qvxhost\nnosuch.invalid\n' >"$work/site-list"
in_client "$sweep" --deadline 10 --no-progress --checks-only --site Paris --resume "${site_files[@]}" \
  "$work/site-list" >/dev/null 2>&1
check "--site recorded in JSON Lines and CSV, each record keeping its own on resume" python3 -c '
import csv, json, sys
records = {r["host"]: r["site"] for r in map(json.loads, open(sys.argv[1], encoding="utf-8"))}
rows = {r["host"]: r["site"] for r in csv.DictReader(open(sys.argv[2], encoding="utf-8-sig", newline=""))}
want = {"qvxhost": "Lyon, bâtiment \"A\"", "nosuch.invalid": "Paris"}
if records != want or rows != want: print(records, rows)
sys.exit(records != want or rows != want)' "$work/site.jsonl" "$work/site.csv"

# SIGKILL part-way, then --resume finishes the list: every host once.
"${client[@]}" "$sweep" --jobs 2 --deadline 10 --jsonl "$work/k.jsonl" --csv "$work/k.csv" "$work/list" \
  >/dev/null 2>&1 &
sweep_pid=$!
for _ in $(seq 100); do
  [[ -s $work/k.jsonl ]] && (($(grep -c '' "$work/k.jsonl") >= 3)) && break
  sleep 0.1
done
kill -9 "$sweep_pid"
wait "$sweep_pid" 2>/dev/null
sweep_pid=
before=$(grep -c '' "$work/k.jsonl")
in_client "$sweep" --jobs 8 --deadline 10 --resume --jsonl "$work/k.jsonl" --csv "$work/k.csv" "$work/list" \
  >"$work/resume.out" 2>&1
resume_rc=$?
cat >"$work/once.py" <<'EOF'
import csv, json, sys
path, count = sys.argv[1], int(sys.argv[2])
hosts = [json.loads(l)["host"] for l in open(path, encoding="utf-8")]
rows = list(csv.DictReader(open(path[:-5] + "csv", encoding="utf-8-sig", newline="")))
ok = len(hosts) == count and len(set(hosts)) == count and sorted(r["host"] for r in rows) == sorted(hosts)
if not ok: print(hosts, [r["host"] for r in rows])
sys.exit(0 if ok else 1)
EOF
check "killed after $before records, resumed: every host recorded once" \
  python3 "$work/once.py" "$work/k.jsonl" "$unique_hosts"
check "resume skips what was recorded" grep -q "Skipped as already recorded: $before" "$work/resume.out"
# The killed sweep's workers outlived it a moment, and its lock file stays:
# neither may hold the resume back.
check "a SIGKILLed sweep's lock holds no --resume back" bash -c "
  test $resume_rc = 1 && test -e '$work/k.jsonl.lock' && ! grep -q 'another sweep' '$work/resume.out'"

# Two sweeps on one records file. The second, though it asks to overwrite,
# is refused at once (3, one line) before it checks a host or touches a
# file, whether it names the first's JSON Lines file or only its CSV; the
# first's records come out whole, and --render reads them meanwhile.
printf 'qvxhost\nsilent\n' >"$work/lock-list"
"${client[@]}" "$sweep" --jobs 1 --deadline 6 --jsonl "$work/l.jsonl" --csv "$work/l.csv" "$work/lock-list" \
  >"$work/lock1.out" 2>&1 &
sweep_pid=$!
for _ in $(seq 100); do
  [[ -s $work/l.jsonl ]] && break
  sleep 0.1
done
in_client "$sweep" --overwrite --jsonl "$work/l.jsonl" "$work/lock-list" >"$work/lock2.out" 2>"$work/lock2.err"
jsonl_rc=$?
in_client "$sweep" --overwrite --jsonl "$work/other.jsonl" --csv "$work/l.csv" "$work/lock-list" \
  >"$work/lock3.out" 2>"$work/lock3.err"
csv_rc=$?
"$sweep" --render "$work/l.jsonl" --html "$work/l.html" >/dev/null 2>&1
render_rc=$?
kill -0 "$sweep_pid" 2>/dev/null
running=$?
wait "$sweep_pid"
first_rc=$?
sweep_pid=
check "the first sweep was still running meanwhile" test "$running" = 0
check "second sweep on the same --jsonl refused (3, one line, nothing checked)" bash -c "
  test $jsonl_rc = 3 && test ! -s '$work/lock2.out' &&
  test \"\$(cat '$work/lock2.err')\" = 'quorvex-sweep: $work/l.jsonl is being written by another sweep'"
check "second sweep on the same --csv refused (3, one line, no file made)" bash -c "
  test $csv_rc = 3 && test ! -s '$work/lock3.out' && test ! -e '$work/other.jsonl' &&
  test \"\$(cat '$work/lock3.err')\" = 'quorvex-sweep: $work/l.csv is being written by another sweep'"
check "--render reads records a sweep is writing" test "$render_rc" = 0
check "the first sweep's records are whole" bash -c "test $first_rc = 1 && python3 '$work/once.py' '$work/l.jsonl' 2"

# Records to a pipe or a device are written as they come: nothing there to
# resume or lose, and no disk to flush them to.
printf 'bad host\n' >"$work/bad-list"
check "records to a pipe and to /dev/null" bash -c "
  { '$sweep' --no-progress --jsonl /dev/stdout --csv /dev/null '$work/bad-list' 2>'$work/pipe.err'
    echo \$? >'$work/pipe.rc'; } | cat >'$work/pipe.out'
  test \$(cat '$work/pipe.rc') = 1 && grep -q '\"host\":\"bad host\"' '$work/pipe.out' && test ! -s '$work/pipe.err' &&
  { '$sweep' --resume --no-progress --jsonl /dev/null '$work/bad-list' >/dev/null; test \$? = 1; }"

# --retry-unreachable checks the dead hosts again and replaces their records.
cp "$work/r.jsonl" "$work/before.jsonl"
in_client "$sweep" --jobs 8 --deadline 5 --retry-unreachable --jsonl "$work/r.jsonl" --csv "$work/r.csv" \
  "$work/list" >"$work/retry.out" 2>&1
cat >"$work/retry.py" <<'EOF'
import json, sys
work = sys.argv[1]
old = {json.loads(l)["host"]: l for l in open(f"{work}/before.jsonl", encoding="utf-8")}
new = {json.loads(l)["host"]: l for l in open(f"{work}/r.jsonl", encoding="utf-8")}
lines = open(f"{work}/r.jsonl", encoding="utf-8").read().splitlines()
retried = {"nosuch.invalid", "nohost", "drop", "silent", "syndrop"}
ok = len(lines) == len(new) == len(old)
for h in old:
    if (new[h] != old[h]) != (h in retried):
        ok = False
        print("record of", h, "changed" if new[h] != old[h] else "kept")
for h in ("drop", "silent", "syndrop"):
    ok &= 5000 <= json.loads(new[h])["elapsed_ms"] <= 6000
if not ok: print(open(f"{work}/retry.out").read())
sys.exit(0 if ok else 1)
EOF
check "--retry-unreachable replaces exactly the dead hosts' records" python3 "$work/retry.py" "$work"
check "--retry-unreachable checks only those" grep -qx "Hosts checked: 5" "$work/retry.out"

# Every file replaced (the records rewritten by --retry-unreachable, the CSV
# made again from them, the page) is written to a new file beside it, flushed
# to disk, renamed over the old one, and then the folder flushed; the records
# files are flushed once as the sweep ends. Seen from outside: the system
# calls, each descriptor shown with its path (-y). LeakSanitizer cannot run
# under ptrace.
cp "$work/r.jsonl" "$work/d.jsonl"
cp "$work/r.csv" "$work/d.csv"
echo old >"$work/d.html"
printf 'nohost\nnosuch.invalid\n' >"$work/d-list"
in_client ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=0" strace -f -qq -y -o "$work/strace.log" \
  -e trace=fsync,fdatasync,rename,renameat,renameat2,openat \
  "$sweep" --jobs 2 --deadline 5 --retry-unreachable --jsonl "$work/d.jsonl" --csv "$work/d.csv" \
  --html "$work/d.html" "$work/d-list" >"$work/durable.out" 2>&1
durable_rc=$?
cat >"$work/durable.py" <<'EOF'
import os, re, sys
log, target = sys.argv[1], os.path.realpath(sys.argv[2])
folder = os.path.dirname(target)
# One call a line: "PID name(args) = result", a call cut by another thread's
# put back together from its "<unfinished ...>" and "<... resumed>" halves.
calls, pending = [], {}
for line in open(log, encoding="utf-8", errors="replace"):
    pid, _, rest = line.rstrip("\n").partition(" ")
    rest = rest.strip()
    if rest.endswith("<unfinished ...>"):
        pending[pid] = rest[: -len("<unfinished ...>")]
        continue
    m = re.match(r"<\.\.\. \w+ resumed>(.*)", rest)
    if m:
        rest = pending.pop(pid, "") + m.group(1)
    m = re.match(r"(\w+)\((.*)\)\s+= (-?\d+)(?:<([^>]*)>)?", rest)
    if m:
        calls.append((pid, m.group(1), m.group(2), int(m.group(3)), m.group(4), rest))

def fd_path(args):  # the path -y shows beside a call's first descriptor
    m = re.match(r"\d+<([^>]*)>", args)
    return m and m.group(1)

def quoted(args):
    return re.findall(r'"((?:[^"\\]|\\.)*)"', args)

problems, shown = [], []
renames = [i for i, c in enumerate(calls)
           if c[1].startswith("rename") and c[3] == 0 and quoted(c[2])[-1:] == [target]]
if not renames:
    problems.append(f"no rename onto {target}")
for i in renames:
    pid, temp = calls[i][0], quoted(calls[i][2])[0]
    before = [c for c in calls[:i] if c[0] == pid]
    made = [j for j, c in enumerate(before)
            if c[1] == "openat" and quoted(c[2])[:1] == [temp] and "O_EXCL" in c[2] and c[3] >= 0]
    synced = [c for c in before[made[-1]:]
              if c[1] == "fsync" and c[3] == 0 and fd_path(c[2]) == temp] if made else []
    if not synced:
        problems.append(f"{temp} not made with O_EXCL and flushed before its rename")
        continue
    after = []
    for c in calls[i + 1:]:
        if c[0] != pid:
            continue
        if c[1].startswith("rename"):
            break
        after.append(c)
    opened = [c for c in after if c[1] == "openat" and "O_DIRECTORY" in c[2] and c[4] == folder]
    flushed = [c for c in after if c[1] == "fsync" and c[3] == 0 and fd_path(c[2]) == folder]
    if not opened or not flushed:
        problems.append(f"the folder not flushed after the rename onto {target}")
        continue
    shown += [before[made[-1]][5], synced[-1][5], calls[i][5], opened[0][5], flushed[0][5]]
if sys.argv[3:] == ["appended"]:
    ends = [c[5] for c in calls if c[1] == "fsync" and c[3] == 0 and fd_path(c[2]) == target]
    if not ends:
        problems.append(f"{target} itself never flushed")
    shown += ends
print("\n".join(problems or shown))
sys.exit(1 if problems else 0)
EOF
check "durable: the sweep under strace ends as before (1)" test "$durable_rc" = 1
check "durable: records rewritten through a flushed file and a flushed folder" \
  python3 "$work/durable.py" "$work/strace.log" "$work/d.jsonl" appended
check "durable: CSV made again through a flushed file and a flushed folder" \
  python3 "$work/durable.py" "$work/strace.log" "$work/d.csv" appended
check "durable: the page replaced through a flushed file and a flushed folder" \
  python3 "$work/durable.py" "$work/strace.log" "$work/d.html"
check "durable: no temporary file left beside them" \
  bash -c "! ls '$work' | grep -qE '^d\\.(jsonl|csv|html)\\..*\\.tmp\$'"

# Ctrl-C: running hosts recorded timed out, the summary so far, exit 130.
printf 'silent\ndrop\nsyndrop\nqvxhost\n' >"$work/slow-list"
"${client[@]}" "$sweep" --jobs 2 --deadline 30 --jsonl "$work/c.jsonl" "$work/slow-list" >"$work/int.out" 2>&1 &
sweep_pid=$!
sleep 2
kill -INT "$sweep_pid"
wait "$sweep_pid"
rc=$?
sweep_pid=
check "Ctrl-C exits 130" test "$rc" = 130
check "Ctrl-C: running hosts timed out, never crashed, others not started" python3 -c "
import json, sys
r = [json.loads(l) for l in open('$work/c.jsonl')]
sys.exit(0 if sorted(x['host'] for x in r) == ['drop', 'silent'] and
         all(x['timed_out'] and not x['crashed'] for x in r) else 1)"
check "Ctrl-C prints the summary so far" grep -qx "Timed out: 2" "$work/int.out"

# A disk that fills mid-sweep: the first failed write ends the sweep at once,
# says so first on standard error with the system's reason, stops the running
# hosts without inventing a timeout, and exits 3; once there is room, the same
# command with --resume finishes the list, each host once, the CSV the JSON
# Lines' twin.
mkdir -p "$work/full"
mount -t tmpfs -o size=8k quorvex-full "$work/full" || exit 1
full=(--jobs 3 --deadline 5 --jsonl "$work/full/f.jsonl" --csv "$work/full/f.csv" "$work/list")
in_client "$sweep" "${full[@]}" >"$work/full.out" 2>"$work/full.err"
full_rc=$?
check "full disk: exit 3, first on standard error the file and the system's reason" bash -c "
  test $full_rc = 3 && head -n 1 '$work/full.err' |
    grep -Eqx 'quorvex-sweep: $work/full/f\.(jsonl|csv) cannot be written: No space left on device' &&
  test \$(grep -c '' '$work/full.err') = 1"
check "full disk: nothing timed out or crashed, the stopped and the recorded counted" python3 -c "
import re, sys
out = open('$work/full.out').read()
complete = open('$work/full/f.jsonl', 'rb').read().count(b'\\n')
recorded = re.search(r'^Recorded: (\d+)$', out, re.M)
stopped = re.search(r'^Stopped \(records cannot be written\): (\d+)$', out, re.M)
lines = re.findall(r'  -  stopped: records cannot be written$', out, re.M)
ok = (recorded and 1 <= int(recorded.group(1)) <= complete and stopped and int(stopped.group(1)) == len(lines)
      and 'timed out' not in out and re.search(r'^Timed out: 0$', out, re.M) and re.search(r'^Crashed: 0$', out, re.M))
if not ok: print(out, complete)
sys.exit(0 if ok else 1)"
mount -o remount,size=1m "$work/full"
in_client "$sweep" --resume "${full[@]}" >"$work/full-resume.out" 2>&1
check "full disk freed: --resume finishes the list, every host once, CSV and JSON Lines alike" bash -c "
  test $? = 1 && python3 '$work/once.py' '$work/full/f.jsonl' '$unique_hosts'"
umount "$work/full"

# The SMB facts and the admin$ statuses: one sweep of qvxhost per setting of
# the server. smbd limited to each dialect in turn proves the numbering of
# Samba's private protocol enum; signing as the server requires it; admin$
# missing, refused, without System32; and its question stalled or reset by
# a rule on the path's name (UTF-16) in the server's namespace.
system32='|530079007300740065006d0033003200|'
smb_case() {  # smb_case NAME GLOBAL-SETTINGS SHARE-SETTINGS IPTABLES-TARGET EXPECTED-JSON
  local name=$1 rule=()
  printf '%b' "$2" >"$QVX_DIR/run/global.conf"
  printf '%b' "$3" >"$QVX_DIR/run/admin-share.conf"
  # shellcheck disable=SC2206 # the target is words: "REJECT --reject-with tcp-reset"
  [[ -n $4 ]] && rule=(INPUT -p tcp --dport 445 -m string --algo bm --hex-string "$system32" -j $4)
  [[ -n $4 ]] && ip netns exec "$QVX_SERVER_NS" iptables -A "${rule[@]}"
  # New connections fork from smbd once it has read the settings: the ping's
  # answer comes after the reload, which smbd handles first.
  ip netns exec "$QVX_SERVER_NS" smbcontrol -s "$QVX_DIR/run/smb.conf" smbd reload-config &&
    ip netns exec "$QVX_SERVER_NS" smbcontrol -s "$QVX_DIR/run/smb.conf" smbd ping >/dev/null
  printf 'qvxhost\n' >"$work/smb-list"
  in_client "$sweep" --jobs 1 --deadline 20 --overwrite --jsonl "$work/smb.jsonl" "$work/smb-list" >/dev/null 2>&1
  [[ -n $4 ]] && ip netns exec "$QVX_SERVER_NS" iptables -D "${rule[@]}"
  check "smb facts and admin\$ statuses: $name" python3 -c '
import json, sys
r = json.loads(open(sys.argv[1], encoding="utf-8").readline())
got = {"exit_code": r["exit_code"], "smb": r["smb"], "errors": [[e["call"], e["status"], e["name"]] for e in r["errors"]]}
want = json.loads(sys.argv[2])
if got != want: print("got ", json.dumps(got)); print("want", json.dumps(want))
sys.exit(got != want)' "$work/smb.jsonl" "$5"
}
smb_ok() {  # the JSON of a host that passes with this dialect and signing
  echo "{\"exit_code\": 0, \"smb\": {\"dialect\": \"$1\", \"signing_required\": $2}, \"errors\": []}"
}
smb_case "2.0.2" 'server min protocol = SMB2_02\nserver max protocol = SMB2_02\n' '' '' "$(smb_ok 2.0.2 false)"
smb_case "2.1" 'server min protocol = SMB2_10\nserver max protocol = SMB2_10\n' '' '' "$(smb_ok 2.1 false)"
smb_case "3.0" 'server min protocol = SMB3_00\nserver max protocol = SMB3_00\n' '' '' "$(smb_ok 3.0 false)"
smb_case "3.0.2" 'server min protocol = SMB3_02\nserver max protocol = SMB3_02\n' '' '' "$(smb_ok 3.0.2 false)"
smb_case "3.1.1" 'server min protocol = SMB3_11\nserver max protocol = SMB3_11\n' '' '' "$(smb_ok 3.1.1 false)"
smb_case "signing mandatory" 'server signing = mandatory\n' '' '' "$(smb_ok 3.1.1 true)"
smb_case "signing mandatory, 2.1" 'server signing = mandatory\nserver max protocol = SMB2_10\n' '' '' \
  "$(smb_ok 2.1 true)"
smb_admin() {  # the JSON of a host whose admin$ fails with this status
  echo "{\"exit_code\": 16, \"smb\": {\"dialect\": \"3.1.1\", \"signing_required\": false}," \
    "\"errors\": [[\"FindFirstFileA\", $1, \"$2\"]]}"
}
smb_case "admin\$ missing" '' 'available = no\n' '' "$(smb_admin 67 ERROR_BAD_NET_NAME)"
smb_case "admin\$ refused" '' 'valid users = nobody\n' '' "$(smb_admin 5 ERROR_ACCESS_DENIED)"
mv "$QVX_SHARE_DIR/System32" "$QVX_SHARE_DIR/System32.away"
smb_case "System32 missing" '' '' '' "$(smb_admin 2 ERROR_FILE_NOT_FOUND)"
mv "$QVX_SHARE_DIR/System32.away" "$QVX_SHARE_DIR/System32"
smb_case "admin\$ question stalls" '' '' DROP "$(smb_admin 121 ERROR_SEM_TIMEOUT)"
smb_case "admin\$ question reset" '' '' "REJECT --reject-with tcp-reset" "$(smb_admin 64 ERROR_NETNAME_DELETED)"
smb_case "default settings again" '' '' '' "$(smb_ok 3.1.1 false)"

# What a move trips over, against the Samba host's own answers: a service
# logging on as an account of the host's domain, the others as LocalSystem,
# a restart pending by servicing and by file renames, a profile with a domain
# SID and one of the system. The account is planted just before the check:
# Samba writes its built-in services' keys again whenever an RPC worker of
# its starts, so the record is compared with what `net rpc service status`
# says right after.
reg() { ip netns exec "$QVX_SERVER_NS" net -s "$QVX_DIR/run/smb.conf" registry "$@" >/dev/null 2>&1; }
reg createkey 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Component Based Servicing\RebootPending'
reg createkey 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager'
reg setvalue 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager' PendingFileRenameOperations multi_sz \
  '\??\C:\Temp\old.dll' ''
for sid in S-1-5-21-1111-2222-3333-1105 S-1-5-18; do
  reg createkey "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\$sid"
done
# An administrator from a domain the host cannot name.
ip netns exec "$QVX_SERVER_NS" net -s "$QVX_DIR/run/smb.conf" groupmap addmem S-1-5-32-544 \
  S-1-5-21-1111-2222-3333-512 >/dev/null 2>&1
printf 'qvxhost\n' >"$work/move-list"
move_sweep() {  # move_sweep RECORDS: one sweep of qvxhost, the Spooler's account planted first
  reg setvalue 'HKLM\SYSTEM\CurrentControlSet\Services\Spooler' ObjectName sz 'SÄLJARE\svc-print'
  in_client "$sweep" --jobs 1 --deadline 30 --overwrite --no-progress --jsonl "$1" "$work/move-list" >/dev/null 2>&1
  in_client net rpc service status Spooler -S qvxhost -U "$QVX_USER%$QVX_PASSWORD" 2>/dev/null |
    sed -n 's/^\s*Start Name\s*=\s*//p' >"$1.spooler"
  in_client rpcclient -U "$QVX_USER%$QVX_PASSWORD" -c 'queryaliasmem builtin 0x220' qvxhost 2>/dev/null |
    sed -n 's/.*sid:\[\(.*\)\].*/\1/p' >"$1.admins"
}
move_sweep "$work/move.jsonl"
check "what a move trips over, as Samba's own tools tell it" python3 - "$work/move.jsonl" <<'EOF'
import json, sys
path = sys.argv[1]
r = json.loads(open(path, encoding="utf-8").readline())
spooler = open(path + ".spooler", encoding="utf-8").read().strip()
problems = []
def want(cond, what):
    if not cond: problems.append(what)
want(r["exit_code"] == 0 and r["errors"] == [], f"exit {r['exit_code']}, errors {r['errors']}")
want(r["reboot_pending"] == ["component-servicing", "file-rename"], f"reboot_pending {r['reboot_pending']}")
want(r["remote_registry"] is None, "remote_registry of a host whose registry opened")
want([p["sid"] for p in r["profiles"] or []] == ["S-1-5-21-1111-2222-3333-1105"], f"profiles {r['profiles']}")
services = {s["name"]: s for s in r["domain_services"] or []}
want(all("\\" in s["account"] and not s["account"].upper().startswith("NT ") for s in services.values()),
     f"a service of no domain account listed: {services}")
planted = spooler == "SÄLJARE\\svc-print"
want(("Spooler" in services) == planted, f"Spooler listed {('Spooler' in services)}, its account now {spooler!r}")
if planted:
    want(services["Spooler"]["account"] == spooler, f"Spooler account {services['Spooler']}")
want(r["old_domain"] == "SÄLJARE", f"old domain {r['old_domain']}")
blockers = ["reboot-pending"] + (["old-domain-services"] if planted else [])
want(r["blockers"] == blockers, f"blockers {r['blockers']}, want {blockers}")
want(abs(r["clock_skew_s"]) < 5, f"clock skew {r['clock_skew_s']}")
members = open(path + ".admins", encoding="utf-8").read().split()
want(sorted(a["sid"] for a in r["local_admins"] or []) == sorted(members) and
     "S-1-5-21-1111-2222-3333-512" in members, f"local admins {r['local_admins']}, rpcclient says {members}")
want(all(a["kind"] == "unknown" for a in r["local_admins"] or [] if a["sid"].startswith("S-1-5-21-1111-")),
     f"an administrator nobody can name: {r['local_admins']}")
if problems: print("\n".join(problems)); print(json.dumps(r, ensure_ascii=False)[:3000])
sys.exit(1 if problems else 0)
EOF
reg deletekey 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Component Based Servicing\RebootPending'
reg deletevalue 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager' PendingFileRenameOperations

# The host's clock off ours: 10 minutes ahead is a blocker, 2 minutes behind
# is none. A host of its own each, its smbd under libfaketime.
for offset in +600 -120; do
  clock_host=$work/clock$offset
  if QVX_FAKETIME=$offset bash "$root/tests/lib/samba-host.sh" start "$clock_host" >/dev/null 2>&1; then
    (
      # shellcheck disable=SC1091
      source "$clock_host/host.env"
      ip netns exec "$QVX_CLIENT_NS" env USER="$QVX_USER" PASSWD="$QVX_PASSWORD" "$sweep" --jobs 1 --deadline 30 \
        --no-progress --jsonl "$work/clock$offset.jsonl" "$work/move-list" >/dev/null 2>&1
    )
  fi
  bash "$root/tests/lib/samba-host.sh" stop "$clock_host" >/dev/null 2>&1
  check "host clock $offset s: skew recorded, a blocker only past 300 s" python3 -c '
import json, sys
r = json.loads(open(sys.argv[1], encoding="utf-8").readline())
offset = int(sys.argv[2])
ok = r["exit_code"] == 0 and abs(r["clock_skew_s"] - offset) < 5 and ("clock" in r["blockers"]) == (abs(offset) > 300)
if not ok: print(r["exit_code"], r["clock_skew_s"], r["blockers"])
sys.exit(0 if ok else 1)' "$work/clock$offset.jsonl" "$offset"
done

echo "$passed passed, $failed failed"
((failed == 0))
