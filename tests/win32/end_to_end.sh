#!/usr/bin/env bash
# quorvex.exe under Wine with standard output redirected to a file: the bytes
# (CR LF, the bell) and the exit codes a batch file would see. Only cases
# that need no network beyond loopback run here; anything that could make
# the program look a name or an address up runs in namespace_test.sh.
# Usage: end_to_end.sh quorvex.exe wine-command...
set -uo pipefail
exe=$1
shift

# shellcheck source=../lib/harness.sh
source "$(dirname "${BASH_SOURCE[0]}")/../lib/harness.sh"
trap qvx_teardown EXIT
QVX_RUN=("$@" "$exe")
QVX_ALLOW_STDERR=1  # Wine's own notes, never the tool's
QVX_RERUN_SILENT=1

bogus=$'\n\aBOGUS was unexpected.'
qvx_case --usage "no arguments" 9 10 -- </dev/null
qvx_case --usage "help switch" 9 10 -- /? </dev/null
qvx_case --usage "host only switch" 9 10 -- /M </dev/null
qvx_case --usage "unexpected token" 9 10 -- /M pc1 bogus <<<"$bogus"
qvx_case --usage "unexpected token when quiet" 9 10 -- /M pc1 /Q bogus <<<"$bogus"

while IFS='|' read -r name text args; do
  # shellcheck disable=SC2086
  qvx_case "$name" 99 10 -- $args <<<"$text"
done <<'CASES'
quiet and verbose|ERROR: /Q and /V switches can not be used at the same time. Pick one.|/M pc1 /Q /V
target too long|ERROR: /T: Invalid NetBIOS domain name (must be 15 characters or less).|/M pc1 /T ABCDEFGHIJKLMNOP
current too long|ERROR: /C: Invalid NetBIOS domain name (must be 15 characters or less).|-m pc1 -c ABCDEFGHIJKLMNOP.corp
current equals target|ERROR: /C and /T values must be different.|/M pc1 /C corp.one /T corp.two
free space too large|ERROR: /F value must be a whole number less than or equal to 2048.|/M pc1 /F 2049
free space not a number|ERROR: /F value must be a whole number less than or equal to 2048.|/M pc1 /F 1E3
invalid address|ERROR: /M: Invalid IP Address. Please check format.|/M 1-2-3
invalid address when quiet|ERROR: /M: Invalid IP Address. Please check format.|/M 1-2-3 /Q
NetBIOS name too long|ERROR: /M: Invalid NetBIOS hostname (must be 15 characters or less).|/M ABCDEFGHIJKLMNOP
CASES

# Loopback resolves and answers the echo; Wine then has no network
# management for it, so the run ends at the workstation query.
qvx_case "localhost with ping" 2 10 -- /M localhost /P <<<" + Resolved hostname to: 127.0.0.1
 + Host UP. Successfully pinged: 127.0.0.1
 - Can not access. NetWkstaGetInfo call failed."
qvx_case "localhost quiet" 2 10 -- /M localhost /P /Q </dev/null

qvx_summary
