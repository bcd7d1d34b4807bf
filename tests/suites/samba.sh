#!/bin/bash
# The Linux build against a real Samba server: builds the tool with
# AddressSanitizer and UndefinedBehaviorSanitizer, starts a Samba host in a
# network namespace pair (tests/lib/samba-host.sh), runs every scenario of
# tests/samba/scenarios.sh from the client namespace, asserting the exact
# standard output, an empty standard error, the exit code and, where a wait
# is involved, the time taken; then those of tests/samba/admin_scenarios.sh,
# which hold the backend's host administration calls to what Samba's own
# tools say of the host. Prints "N passed, N failed".
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)

bash "$root/scripts/install-deps.sh" samba samba-dev smbclient iproute2 python3 cmake ninja-build g++ pkg-config \
  googletest faketime >/dev/null || exit 1

# shellcheck source=../lib/build.sh
source "$root/tests/lib/build.sh"
# The sanitized build the core tests use: Samba's libraries keep some
# allocations to process exit; ours must not.
qvx_build sanitized quorvex quorvex_admin_probe || exit 1
build=$QVX_BUILD_DIR
qvx_sanitizer_env

# shellcheck source=../lib/harness.sh
source "$root/tests/lib/harness.sh"
work=$(mktemp -d /tmp/quorvex-samba.XXXXXX)
cleanup() {
  for host in "$work"/host "$work"/clock*; do bash "$root/tests/lib/samba-host.sh" stop "$host" || true; done
  rm -rf "$work"
  qvx_teardown
}
trap cleanup EXIT
bash "$root/tests/lib/samba-host.sh" start "$work/host" || exit 1
# shellcheck disable=SC1091
source "$work/host/host.env"

tool=$build/quorvex
QVX_ENV=(USER="$QVX_USER" PASSWD="$QVX_PASSWORD")
QVX_RUN=(ip netns exec "$QVX_CLIENT_NS" "$tool")

# The host's RPC workers start on demand, and for some seconds after its first
# call the host is still starting more of them (longer while another suite
# starts its own host beside this one): the timed cases begin once a whole
# check has passed in a second and a half, or after ten tries.
for _ in $(seq 10); do
  warm_start=$(date +%s%N)
  ip netns exec "$QVX_CLIENT_NS" env USER="$QVX_USER" PASSWD="$QVX_PASSWORD" "$tool" /M qvxhost >/dev/null 2>&1 &&
    (($(date +%s%N) - warm_start < 1500000000)) && break
  sleep 0.5
done

# shellcheck disable=SC1091
source "$root/tests/samba/scenarios.sh"
# shellcheck disable=SC1091
source "$root/tests/samba/admin_scenarios.sh"

qvx_summary
