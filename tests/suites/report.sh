#!/usr/bin/env bash
# The fleet report in a real browser: builds quorvex-sweep (build-test/, as
# the core suite configures it; puppeteer-core goes to build-report/),
# renders reports from crafted records (a recorded sweep of the Samba hosts,
# hostile and odd records, an older sweep to compare with, a 10,000-host
# fleet) and from a real sweep of the suite's Samba host, then drives headless
# Chromium over them with puppeteer-core. Nothing is fetched when a page opens;
# Chromium runs without its background services.
#   QVX_SCREENSHOT=FILE  also saves a picture of a representative report
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
build=$root/build-report
puppeteer_version=24.40.0

bash scripts/install-deps.sh chromium nodejs cmake ninja-build g++ pkg-config samba samba-dev \
  libcli11-dev nlohmann-json3-dev iproute2 >/dev/null || exit 1
command -v npm >/dev/null || bash scripts/install-deps.sh npm >/dev/null || exit 1

# The sanitized build the core suite configures, so that hostile records
# also meet AddressSanitizer and UndefinedBehaviorSanitizer on their way in.
mkdir -p "$build"
# shellcheck source=../lib/build.sh
source "$root/tests/lib/build.sh"
qvx_build sanitized quorvex-sweep || exit 1
sweep=$QVX_BUILD_DIR/quorvex-sweep

browser=$build/browser
if [[ $(node -p "try { require('$browser/node_modules/puppeteer-core/package.json').version } catch { '' }") != "$puppeteer_version" ]]; then
  mkdir -p "$browser"
  [[ -f $browser/package.json ]] || echo '{"private": true}' >"$browser/package.json"
  (cd "$browser" && npm install --no-audit --no-fund --loglevel=error "puppeteer-core@$puppeteer_version") || exit 1
fi

work=$(mktemp -d "/tmp/quorvex-report.$$.XXXXXX")
host_started=0
cleanup() {
  ((host_started)) && bash tests/lib/samba-host.sh stop "$work/host" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

passed=0
failed=0
check() {  # NAME COMMAND...
  local name=$1
  shift
  if "$@"; then
    passed=$((passed + 1)); echo "ok - $name"
  else
    failed=$((failed + 1)); echo "not ok - $name"
  fi
}
exits() {  # CODE COMMAND...: runs COMMAND and compares its exit code
  local want=$1 got
  shift
  "$@" >/dev/null 2>"$work/stderr"
  got=$?
  [[ $got == "$want" ]] || { echo "  exit $got, wanted $want: $(cat "$work/stderr")"; return 1; }
}

node tests/report/make_records.js crafted "$work"
node tests/report/make_records.js fleet 10000 "$work/fleet.jsonl"
node tests/report/make_records.js sites "$work"
check "render crafted records" exits 0 "$sweep" --render "$work/crafted.jsonl" --html "$work/crafted.html"
check "render with --since" exits 0 "$sweep" --render "$work/crafted.jsonl" --since "$work/older.jsonl" --html "$work/since.html"
check "render 10,000 hosts" exits 0 "$sweep" --render "$work/fleet.jsonl" --html "$work/fleet.html"
sites=("$work/lyon.jsonl" "$work/paris.jsonl" "$work/old-branch.jsonl")
check "render three sites' records as one page" exits 0 "$sweep" --render "${sites[@]}" --html "$work/sites.html"
"$sweep" --render "${sites[@]}" --since "$work/old-branch.jsonl" >"$work/sites.txt"
cat >"$work/sites.want" <<EOF
Merged 3 records files: 2 records superseded by a later check of the same host
superseded: shared-01.corp.example: $work/paris.jsonl (2026-12-07T11:00:00Z), kept $work/lyon.jsonl (2026-12-08T10:00:00Z)
superseded: shared-02.corp.example: $work/lyon.jsonl (2026-12-07T09:00:00Z), kept $work/old-branch.jsonl (2026-12-07T09:00:00Z)
Changes: 0 became ready, 0 stopped being ready, 9 new, 0 no longer listed, 0 changed OS, 0 gained blockers, 0 cleared blockers
EOF
check "the text names the records a later check superseded" diff -u "$work/sites.want" <(head -n 4 "$work/sites.txt")

"$sweep" --render "$work/crafted.jsonl" --since "$work/older.jsonl" >"$work/since.txt"
cat >"$work/since.want" <<'EOF'
Changes: 1 became ready, 1 stopped being ready, 4 new, 1 no longer listed, 1 changed OS, 3 gained blockers, 2 cleared blockers
became ready: ws-002.corp.example
stopped being ready: ws-003.corp.example (admin-share)
new: <script>window.__qvxPwned=1</script>
new: "><img src=x onerror="window.__qvxPwned=2">
new: ctl\x01\x1b[31mred\x07 sep
new: odd-os
no longer listed: retired.corp.example
OS changed: ws-001.corp.example: Windows 10 22H2 (19045.5247) -> Windows 11 23H2 (22631.4460)
blockers appeared: ws-001.corp.example (old-domain-profiles)
blockers appeared: ws-002.corp.example (clock, reboot-pending)
blockers appeared: ws-006.corp.example (clock)
blockers cleared: qvxhost-noreg (clock)
blockers cleared: ws-004.corp.example (old-domain-admins)
EOF
sed -i 's/ sep$/\xe2\x80\xa8sep/' "$work/since.want"
check "--since without --html prints the changes as text" diff -u "$work/since.want" "$work/since.txt"

# Records that cannot be read, and a page that cannot be written.
printf '{"schema":1,"host":"torn' >"$work/torn.jsonl"
head -c 200 "$work/crafted.jsonl" >"$work/garbled.jsonl"
printf '\nnot json\n' >>"$work/garbled.jsonl"
check "a torn last line is dropped, not fatal" exits 0 "$sweep" --render "$work/torn.jsonl" --html "$work/torn.html"
check "--render of a missing file exits 3" exits 3 "$sweep" --render "$work/absent.jsonl" --html "$work/x.html"
check "--render of a garbled file exits 3" exits 3 "$sweep" --render "$work/garbled.jsonl" --html "$work/x.html"
check "--since of a missing file exits 3" exits 3 "$sweep" --render "$work/crafted.jsonl" --since "$work/absent.jsonl"
check "one missing file of several exits 3" exits 3 "$sweep" --render "$work/lyon.jsonl" "$work/absent.jsonl" --html "$work/x.html"
check "... with one line naming it" test "$(cat "$work/stderr")" = "quorvex-sweep: $work/absent.jsonl cannot be read"
check "a page that cannot be written exits 3" exits 3 "$sweep" --render "$work/crafted.jsonl" --html "$work/no/such/dir.html"
check "--render without --html or --since is a usage error" exits 9 "$sweep" --render "$work/crafted.jsonl"

# A real sweep of the suite's Samba host and addresses that never answer.
if bash tests/lib/samba-host.sh start "$work/host" >"$work/host.log" 2>&1; then
  host_started=1
  # shellcheck disable=SC1091
  source "$work/host/host.env"
  printf '%s\n' qvxhost qvxhost.test.lan wrongname "$QVX_NOHOST" nosuchname.test.lan >"$work/list.txt"
  ip netns exec "$QVX_CLIENT_NS" env USER="$QVX_USER" PASSWD="$QVX_PASSWORD" \
    "$sweep" --jobs 8 --deadline 10 --no-progress --jsonl "$work/sweep.jsonl" --html "$work/sweep.html" \
    "$work/list.txt" >"$work/sweep.out" 2>&1
  code=$?
  check "a sweep with --html exits 1 (some hosts fail) and writes its page" \
    test "$code" = 1 -a -s "$work/sweep.html" -a "$(wc -l <"$work/sweep.jsonl")" = 5
else
  check "the Samba host starts" false
  tail -n 20 "$work/host.log"
fi

if [[ -n ${QVX_SCREENSHOT:-} ]]; then
  node tests/report/make_records.js fleet 240 "$work/demo.jsonl"
  "$sweep" --render "$work/demo.jsonl" --html "$work/demo.html" >/dev/null
fi

# The page's data, decoded by the page's own script, against its records.
check "the crafted page's data decodes to its records" node tests/report/page_data_test.js "$work/crafted.html" "$work/crafted.jsonl"
check "the compared page's data decodes to its records" node tests/report/page_data_test.js "$work/since.html" "$work/crafted.jsonl"
check "the 10,000 hosts' data decodes to their records" node tests/report/page_data_test.js "$work/fleet.html" "$work/fleet.jsonl"
if [[ -s $work/sweep.html ]]; then
  check "a real sweep's data decodes to its records" node tests/report/page_data_test.js --live "$work/sweep.html" "$work/sweep.jsonl"
fi

NODE_PATH=$browser/node_modules node tests/report/browser_test.js "$work"
browser_code=$?
((browser_code)) && failed=$((failed + 1))

echo "report suite: $passed shell checks passed, $failed failed (browser checks counted above)"
((failed == 0))
