#!/usr/bin/env bash
# Not a test: every step of the fleet report and of reading records back, at
# the size of a large fleet (100,000 hosts unless QVX_BENCH_HOSTS says
# otherwise), each figure printed beside its target.
#
# 1. --render of one records file, and of two halves of the fleet that share
#    a tenth of their hosts (two sites, the second swept a day later): wall
#    time and peak memory (max RSS, /usr/bin/time), the page's size.
# 2. The page in headless Chromium (scripts/bench-report-page.js): first
#    contentful paint and the table drawn after navigation, the search box
#    narrowed to one host, the fleet sorted by a column.
# 3. The sweep reading records and lists: --resume over the records with every
#    host already recorded (no host is checked), the same with the list as an
#    Active Directory CSV export in UTF-16, and --retry-unreachable, whose
#    unreachable hosts are loopback addresses checked again inside a network
#    namespace of this run where nothing listens: nothing leaves the machine.
# The records are made by tests/report/make_records.js sweep; the build is a
# release build in build/ (tests/lib/build.sh), or QVX_BENCH_SWEEP names a
# quorvex-sweep to time instead (another commit's, for a comparison).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
hosts=${QVX_BENCH_HOSTS:-100000}
runs=${RUNS:-3}
puppeteer_version=24.40.0

bash scripts/install-deps.sh chromium nodejs cmake ninja-build g++ pkg-config samba-dev libcli11-dev \
  nlohmann-json3-dev iproute2 time >/dev/null
command -v npm >/dev/null || bash scripts/install-deps.sh npm >/dev/null

# shellcheck source=../tests/lib/build.sh
source tests/lib/build.sh
# shellcheck source=../tests/lib/netns.sh
source tests/lib/netns.sh
if [[ -n ${QVX_BENCH_SWEEP:-} ]]; then
  sweep=$QVX_BENCH_SWEEP
else
  qvx_build release quorvex-sweep
  sweep=$QVX_BUILD_DIR/quorvex-sweep
fi

browser=$root/build-report/browser
if [[ $(node -p "try { require('$browser/node_modules/puppeteer-core/package.json').version } catch { '' }") != "$puppeteer_version" ]]; then
  mkdir -p "$browser"
  [[ -f $browser/package.json ]] || echo '{"private": true}' >"$browser/package.json"
  (cd "$browser" && npm install --no-audit --no-fund --loglevel=error "puppeteer-core@$puppeteer_version")
fi

work=$(mktemp -d /tmp/quorvex-bench-report.XXXXXX)
cleanup() {
  rm -rf "$work"
  qvx_teardown || true  # its last test fails when it made no work folder
}
trap cleanup EXIT

# TARGET_S TARGET_MIB NAME COMMAND...: wall time and peak memory of COMMAND,
# which must exit 0 or 1 (a sweep with failed hosts).
measure() {
  local target_s=$1 target_mib=$2 name=$3 code=0
  shift 3
  /usr/bin/time -f '%e %M' -o "$work/time" "$@" >"$work/out" 2>"$work/err" || code=$?
  if ((code > 1)); then
    echo "$name: exit $code: $(tail -n 3 "$work/err")"
    return 1
  fi
  read -r seconds kib < <(tail -n 1 "$work/time")
  awk -v n="$name" -v s="$seconds" -v k="$kib" -v ts="$target_s" -v tm="$target_mib" 'BEGIN {
    m = k / 1024
    printf "%s: %.2f s (target %s s: %.2fx), peak %.0f MiB", n, s, ts, s / ts, m
    if (tm != "") printf " (target %s MiB: %.2fx)", tm, m / tm
    printf "\n" }'
}
megabytes() { awk -v b="$(stat -c %s "$1")" 'BEGIN { printf "%.1f MB", b / 1e6 }'; }

echo "== records ($hosts hosts)"
node tests/report/make_records.js sweep "$hosts" "$work/fleet.jsonl"
half=$((hosts / 2))
shared=$((hosts / 20))
node tests/report/make_records.js sweep "$half" "$work/north.jsonl" 0 north 2026-12-07T08:00:00Z
node tests/report/make_records.js sweep "$half" "$work/south.jsonl" $((half - shared)) south 2026-12-08T08:00:00Z
# Written long before a render in real use: not flushed to the disk by the
# page's own flush.
sync
echo "fleet.jsonl $(megabytes "$work/fleet.jsonl"); north.jsonl and south.jsonl $(megabytes "$work/north.jsonl") each, $shared hosts in both"

echo "== --render"
measure 5 512 "--render of $hosts records" "$sweep" --render "$work/fleet.jsonl" --html "$work/fleet.html"
awk -v b="$(stat -c %s "$work/fleet.html")" 'BEGIN { printf "page: %.1f MB (target 25 MB: %.2fx)\n", b / 1e6, b / 25e6 }'
if "$sweep" --render "$work/north.jsonl" "$work/south.jsonl" --html "$work/sites.html" >/dev/null 2>&1; then
  measure 5 512 "--render of two files of $half records, $shared hosts in both" \
    "$sweep" --render "$work/north.jsonl" "$work/south.jsonl" --html "$work/sites.html"
  awk -v b="$(stat -c %s "$work/sites.html")" 'BEGIN { printf "page: %.1f MB (target 25 MB: %.2fx)\n", b / 1e6, b / 25e6 }'
else
  echo "--render of two files: not supported by this build"
fi

echo "== the page in headless Chromium (targets: paint 1000 ms, search and sort 500 ms each)"
NODE_PATH=$browser/node_modules node scripts/bench-report-page.js "$work/fleet.html" "$runs"

echo "== the sweep reading records and host lists"
# shellcheck disable=SC2016  # JavaScript's own template strings
node -e '
const fs = require("fs");
const [records, plain, csv] = process.argv.slice(1);
const names = fs.readFileSync(records, "utf8").split("\n").filter((l) => l).map((l) => JSON.parse(l).host);
fs.writeFileSync(plain, names.join("\n") + "\n");
// As Export-Csv writes an Active Directory query: a type line, quoted fields, UTF-16 with its BOM.
const rows = ["#TYPE Microsoft.ActiveDirectory.Management.ADComputer",
  "\"DistinguishedName\",\"DNSHostName\",\"Enabled\",\"Name\",\"ObjectClass\",\"SamAccountName\""]
  .concat(names.map((n) => { const short = n.split(".")[0].toUpperCase();
    return `"CN=${short},OU=Computers,DC=corp,DC=example","${n}","True","${short}","computer","${short}$"`; }));
fs.writeFileSync(csv, Buffer.concat([Buffer.from([0xff, 0xfe]), Buffer.from(rows.join("\r\n") + "\r\n", "utf16le")]));
' "$work/fleet.jsonl" "$work/hosts.txt" "$work/hosts.csv"
echo "hosts.txt $(megabytes "$work/hosts.txt"), hosts.csv (UTF-16) $(megabytes "$work/hosts.csv")"
cp "$work/fleet.jsonl" "$work/resume.jsonl"
sync
measure 2.1 "" "--resume, $hosts hosts all recorded" \
  "$sweep" --jsonl "$work/resume.jsonl" --resume --no-progress "$work/hosts.txt"
cp "$work/fleet.jsonl" "$work/resume.jsonl"
sync
measure 2.0 "" "--resume with the UTF-16 AD CSV list" \
  "$sweep" --jsonl "$work/resume.jsonl" --resume --no-progress "$work/hosts.csv"

# Unreachable hosts renamed to loopback addresses, where nothing listens in a
# namespace of this run: checked again, they fail at once. First 100 of them
# (the list leaves the other unreachable hosts out, so their records stand),
# which times reading and rewriting the records; then all of them, which
# times the checks as well.
retry_records() {  # COUNT: retry.jsonl and retry.txt
  # shellcheck disable=SC2016  # JavaScript's own template strings
  node -e '
const fs = require("fs");
const [from, to, list, count] = process.argv.slice(1);
let n = 0;
const listed = [];
const out = fs.readFileSync(from, "utf8").split("\n").filter((l) => l).map((l) => {
  const r = JSON.parse(l);
  if (r.exit_code === 1 || r.exit_code === 2 || r.timed_out || r.crashed) {
    if (n >= +count) return JSON.stringify(r);
    const k = n++;
    r.host = `127.${Math.floor(k / 62500)}.${Math.floor(k / 250) % 250}.${1 + k % 250}`;
  }
  listed.push(r.host);
  return JSON.stringify(r);
});
fs.writeFileSync(to, out.join("\n") + "\n");
fs.writeFileSync(list, listed.join("\n") + "\n");
' "$work/fleet.jsonl" "$work/retry.jsonl" "$work/retry.txt" "$1"
  sync
}
bench_ns=
qvx_ns bench_ns qvx-bench-report
qvx_etc "$bench_ns" "127.0.0.1 localhost"
retry_records 100
measure 3.1 "" "--retry-unreachable, 100 of $hosts records checked again and the records rewritten" \
  ip netns exec "$bench_ns" "$sweep" --jsonl "$work/retry.jsonl" --retry-unreachable --no-progress \
  --deadline 10 "$work/retry.txt"
grep -E '^(Hosts checked|Skipped as already recorded)' "$work/out" || true
retry_records "$hosts"
measure 3.1 "" "--retry-unreachable, every unreachable record checked again" \
  ip netns exec "$bench_ns" "$sweep" --jsonl "$work/retry.jsonl" --retry-unreachable --no-progress \
  --deadline 10 "$work/retry.txt"
grep -E '^(Hosts checked|Skipped as already recorded)' "$work/out" || true
