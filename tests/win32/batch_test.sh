#!/usr/bin/env bash
# Runs the example batch file under Wine's cmd.exe against a stand-in program
# that exits with the code it is given, and checks the branch each code takes.
# Usage: batch_test.sh check-hosts.bat exit-code-stub.exe wine-command...
set -uo pipefail
bat=$1
stub=$2
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sed -e 's/\r$//' -e 's/$/\r/' "$bat" >"$work/check-hosts.bat"
cp "$stub" "$work/quorvex.exe"

expected=(
  "0: ready"
  "1: not resolvable or not answering (errorlevel 1)"
  "2: no network management access (errorlevel 2)"
  "4: computer name does not match (errorlevel 4)"
  "8: wrong domain or already migrated (errorlevel 8)"
  "9: usage shown, check the switches (errorlevel 9)"
  "99: bad host name or switch (errorlevel 99)"
  "16: failed: admin\$-share (errorlevel 16)"
  "48: failed: admin\$-share role (errorlevel 48)"
  "96: failed: role os-version (errorlevel 96)"
  "112: failed: admin\$-share role os-version (errorlevel 112)"
  "144: failed: admin\$-share remote-registry (errorlevel 144)"
  "176: failed: admin\$-share role remote-registry (errorlevel 176)"
  ""
  "Ready: 1   With problems: 12"
)
{
  printf '; codes the checks can end with\r\n'
  for line in "${expected[@]:0:13}"; do printf '%s\r\n' "${line%%:*}"; done
} >"$work/hosts.txt"
printf '%s\r\n' "${expected[@]}" >"$work/want"

(cd "$work" && "$@" cmd /c check-hosts.bat hosts.txt >out 2>&1 </dev/null)
if ! cmp -s "$work/want" "$work/out"; then
  echo "FAIL: check-hosts.bat output differs"
  diff <(tr -d '\r' <"$work/want") <(tr -d '\r' <"$work/out")
  exit 1
fi
echo "check-hosts.bat took the right branch for all ${#expected[@]} lines"
