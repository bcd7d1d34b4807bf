#!/bin/bash
# The tool's main job on a ready-made example: builds it (Release, build/),
# starts a local Samba host in a network namespace of its own, checks it with
# /P and /V (and /W, which this server fails, so that passed, failed and
# verbose lines all show), prints the lines and the exit code; then sweeps
# that host together with addresses that never answer and writes the fleet
# report, build/example-report.html; and stops the host again. Run as root on
# Debian 12.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh" samba samba-dev smbclient iproute2 python3 cmake g++ pkg-config \
  libcli11-dev nlohmann-json3-dev >/dev/null

echo "Building build/quorvex and build/quorvex-sweep ..."
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target quorvex quorvex-sweep >/dev/null

work=$(mktemp -d /tmp/quorvex-example.XXXXXX)
trap 'bash "$root/tests/lib/samba-host.sh" stop "$work/host"; rm -rf "$work"' EXIT
echo "Starting a Samba host (QVXHOST, domain SÄLJARE) in a network namespace ..."
bash "$root/tests/lib/samba-host.sh" start "$work/host"
# shellcheck disable=SC1091
source "$work/host/host.env"

echo
echo "\$ quorvex /M qvxhost.test.lan /P /V /W     (as $QVX_USER)"
set +e
ip netns exec "$QVX_CLIENT_NS" env USER="$QVX_USER" PASSWD="$QVX_PASSWORD" \
  "$root/build/quorvex" /M qvxhost.test.lan /P /V /W
code=$?
set -e
echo "exit code: $code"

# The same host in a fleet: by two names, by a name it does not answer to,
# and three addresses where nobody answers (absent, dropping, silent).
printf '%s\n' qvxhost qvxhost.test.lan wrongname "$QVX_NOHOST" "$QVX_DROP" "$QVX_SILENT" >"$work/hosts.txt"
report=$root/build/example-report.html
echo
echo "\$ quorvex-sweep --deadline 8 --overwrite --jsonl build/example-sweep.jsonl --html build/example-report.html hosts.txt"
set +e
ip netns exec "$QVX_CLIENT_NS" env USER="$QVX_USER" PASSWD="$QVX_PASSWORD" \
  "$root/build/quorvex-sweep" --deadline 8 --no-progress --overwrite --jsonl "$root/build/example-sweep.jsonl" \
  --html "$report" "$work/hosts.txt"
echo "exit code: $?"
set -e
echo
echo "Open the fleet report in a browser: file://$report"
