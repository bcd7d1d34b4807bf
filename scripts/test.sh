#!/usr/bin/env bash
# Every test of the project, on a fresh Debian 12 machine as root: installs
# what it needs, starts the servers and namespaces its tests use, stops them.
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh || exit 1

suites=(test-core test-linux test-samba test-hostile test-windows)
passed=0
failed=0
failures=()
for suite in "${suites[@]}"; do
  echo "=== $suite"
  start=$(date +%s)
  if bash "scripts/$suite.sh"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    failures+=("$suite")
  fi
  echo "=== $suite took $(($(date +%s) - start)) s"
done

((failed)) && echo "failed suites: ${failures[*]}"
echo "suites: $passed passed, $failed failed"
((failed == 0))
