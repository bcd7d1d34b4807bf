#!/bin/bash
# The Linux build against a real Samba server: builds the tool with
# AddressSanitizer and UndefinedBehaviorSanitizer, starts a Samba host in a
# network namespace pair (scripts/samba-host.sh), runs every scenario of
# tests/samba/scenarios.sh from the client namespace, asserting the exact
# standard output, an empty standard error, the exit code and, where a wait
# is involved, the time taken. Prints "N passed, N failed".
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# The sanitized build the core tests use: same options, so when they ran
# first nothing is built twice.
build=${QUORVEX_SAMBA_BUILD:-$root/build-test}

bash "$root/scripts/install-deps.sh" samba samba-dev smbclient iproute2 python3 cmake ninja-build g++ pkg-config \
  googletest >/dev/null || exit 1

mkdir -p "$build"
log=$build/build-output.log
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUORVEX_WERROR=ON -DQUORVEX_SANITIZE=ON >"$log" 2>&1 &&
  cmake --build "$build" -j"$(nproc)" --target quorvex >>"$log" 2>&1 || {
  tail -40 "$log"
  echo "build failed"
  exit 1
}

# Samba's libraries keep some allocations to process exit; ours must not.
# Full stacks for leaks: Samba is built without frame pointers, and the
# suppressions match on functions inside it.
export ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0:exitcode=99
export LSAN_OPTIONS=suppressions=$root/tests/samba/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# shellcheck source=../tests/lib/harness.sh
source "$root/tests/lib/harness.sh"
work=$(mktemp -d /tmp/quorvex-samba.XXXXXX)
cleanup() {
  bash "$root/scripts/samba-host.sh" stop "$work/host" || true
  rm -rf "$work"
  qvx_teardown
}
trap cleanup EXIT
bash "$root/scripts/samba-host.sh" start "$work/host" || exit 1
# shellcheck disable=SC1091
source "$work/host/host.env"

tool=$build/quorvex
QVX_ENV=(USER="$QVX_USER" PASSWD="$QVX_PASSWORD")
QVX_RUN=(ip netns exec "$QVX_CLIENT_NS" "$tool")

# The host's RPC workers start on demand; the first call pays for that.
ip netns exec "$QVX_CLIENT_NS" env USER="$QVX_USER" PASSWD="$QVX_PASSWORD" "$tool" /M qvxhost >/dev/null 2>&1

# shellcheck disable=SC1091
source "$root/tests/samba/scenarios.sh"

qvx_summary
