#!/bin/bash
# The tool's main job on a ready-made example: builds it (Release, build/),
# starts a local Samba host in a network namespace of its own, checks it with
# /P and /V (and /W, which this server fails, so that passed, failed and
# verbose lines all show), prints the lines and the exit code, and stops the
# host again. Run as root on Debian 12.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh" samba samba-dev smbclient iproute2 python3 cmake g++ pkg-config >/dev/null

echo "Building build/quorvex ..."
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target quorvex >/dev/null

work=$(mktemp -d /tmp/quorvex-example.XXXXXX)
trap 'bash "$root/scripts/samba-host.sh" stop "$work/host"; rm -rf "$work"' EXIT
echo "Starting a Samba host (QVXHOST, domain SÄLJARE) in a network namespace ..."
bash "$root/scripts/samba-host.sh" start "$work/host"
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
