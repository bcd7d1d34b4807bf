#!/usr/bin/env bash
# Every test of the project, on a fresh Debian 12 machine as root: installs
# what it needs, starts the servers and namespaces its tests use, stops them.
#
# The suites, tests/suites/*.sh, wait on networks and servers far more than
# they compute, so they run side by side (QUORVEX_TEST_JOBS at once, 4 by
# default); each writes its own log, printed whole when it ends. The two
# builds several suites share are made first, once, so that no two suites
# build the same tree at the same time.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/install-deps.sh || exit 1

# Two waves. The suites that hold the tool to wall-clock bounds run first,
# while nothing compiles or fuzzes beside them; then the ones that build and
# burn CPU (the cross build, the fuzzers, the package, the browser). Longest
# first within a wave, so the slow ones do not start last.
timed_suites=(hostile samba sweep linux)
busy_suites=(windows domain core package report)
jobs=${QUORVEX_TEST_JOBS:-4}
logs=$root/build-logs
rm -rf "$logs" && mkdir -p "$logs"
start=$(date +%s)

echo "=== shared builds"
# shellcheck source=../tests/lib/build.sh
source tests/lib/build.sh
if ! { qvx_build sanitized all && qvx_build release all; } >"$logs/builds.log" 2>&1; then
  cat "$logs/builds.log"
  echo "suites: the shared builds failed"
  exit 1
fi
echo "=== shared builds took $(($(date +%s) - start)) s"

declare -A pid_suite=()
declare -A suite_start=()
passed=0
failed=0
failures=()

# Waits for one suite to end, prints its log and counts it.
reap_one() {
  local pid
  wait -n -p pid "${!pid_suite[@]}"
  local rc=$?
  local suite=${pid_suite[$pid]}
  unset "pid_suite[$pid]"
  echo "=== $suite"
  cat "$logs/$suite.log"
  if ((rc == 0)); then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    failures+=("$suite")
  fi
  echo "=== $suite $( ((rc == 0)) && echo passed || echo "FAILED ($rc)") in $(($(date +%s) - ${suite_start[$suite]})) s"
}

run_wave() {
  local suite
  for suite in "$@"; do
    while ((${#pid_suite[@]} >= jobs)); do reap_one; done
    suite_start[$suite]=$(date +%s)
    bash "tests/suites/$suite.sh" >"$logs/$suite.log" 2>&1 </dev/null &
    pid_suite[$!]=$suite
  done
  while ((${#pid_suite[@]})); do reap_one; done
}
# Two at a time in the first wave: on two cores, more would stretch the very
# times its suites measure.
jobs=2 run_wave "${timed_suites[@]}"
run_wave "${busy_suites[@]}"

((failed)) && echo "failed suites: ${failures[*]}"
echo "suites: $passed passed, $failed failed, $(($(date +%s) - start)) s in all"
((failed == 0))
