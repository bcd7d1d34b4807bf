#!/usr/bin/env bash
# quorvex.exe under Wine with standard output redirected to a file: the bytes
# (CR LF, the bell) and the exit codes a batch file would see. Only cases
# that need no network beyond loopback run here; anything that could make
# the program look a name or an address up runs in namespace_test.sh.
# Usage: end_to_end.sh quorvex.exe wine-command...
set -uo pipefail
exe=$1
shift
emulator=("$@")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# shellcheck source=../blackbox_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../blackbox_lib.sh"

fail() {
  echo "FAIL $1: $2"
  failures=$((failures + 1))
}

# run NAME EXPECTED_CODE ARGS... ; leaves the output in $work/out
run() {
  local name=$1 want=$2
  shift 2
  "${emulator[@]}" "$exe" "$@" >"$work/out" 2>"$work/err" </dev/null
  local code=$?
  [ "$code" -eq "$want" ] || fail "$name" "exit code $code, expected $want"
}

# exact NAME EXPECTED_CODE EXPECTED_FILE ARGS...: whole output byte for byte
exact() {
  local name=$1 want=$2 expected=$3
  shift 3
  run "$name" "$want" "$@"
  cmp -s "$expected" "$work/out" || {
    fail "$name" "output differs"
    diff <(od -c "$expected") <(od -c "$work/out") | head -20
  }
}

# usage NAME PREFIX_FILE ARGS...: the prefix, then the usage text, code 9
usage() {
  local name=$1 prefix=$2
  shift 2
  run "$name" 9 "$@"
  { cat "$prefix"; usage_head; } >"$work/want"
  local n
  n=$(wc -l <"$prefix")
  head -n $((n + 23)) "$work/out" | cmp -s - "$work/want" || fail "$name" "usage text differs"
  [ "$(wc -l <"$work/out")" -eq $((n + 24)) ] || fail "$name" "expected $((n + 24)) lines"
  tail -n 1 "$work/out" | grep -q $'^[ -~]\+\r$' || fail "$name" "contact line missing or not CR LF"
}

: >"$work/none"
usage "no arguments" "$work/none"
usage "help switch" "$work/none" /?
usage "host only switch" "$work/none" /M
lines "" $'\aBOGUS was unexpected.' >"$work/bogus"
usage "unexpected token" "$work/bogus" /M pc1 bogus
usage "unexpected token when quiet" "$work/bogus" /M pc1 /Q bogus

while IFS='|' read -r name text args; do
  lines "$text" >"$work/want"
  # shellcheck disable=SC2086
  exact "$name" 99 "$work/want" $args
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
lines " + Resolved hostname to: 127.0.0.1" " + Host UP. Successfully pinged: 127.0.0.1" \
  " - Can not access. NetWkstaGetInfo call failed." >"$work/want"
exact "localhost with ping" 2 "$work/want" /M localhost /P
: >"$work/want"
exact "localhost quiet" 2 "$work/want" /M localhost /P /Q

if ((failures)); then
  echo "$failures end-to-end case(s) failed"
  exit 1
fi
echo "all end-to-end cases passed"
