#!/usr/bin/env bash
# quorvex.exe carries the version resource Windows shows in its Details tab:
# product name, description, and the project version in both the numbers and
# the text.
set -euo pipefail
exe=$1
version=$2
rc=$(x86_64-w64-mingw32-windres -J coff -i "$exe" -O rc 2>/dev/null || true)
IFS=. read -r major minor patch <<<"$version"
bad=0
expect() {
  if grep -qF -- "$1" <<<"$rc"; then echo "ok       $1"; else echo "MISSING  $1"; bad=1; fi
}
expect "FILEVERSION $major, $minor, $patch, 0"
expect "PRODUCTVERSION $major, $minor, $patch, 0"
expect 'VALUE "ProductName", "Quorvex"'
expect "VALUE \"FileVersion\", \"$version\""
expect "VALUE \"ProductVersion\", \"$version\""
expect 'VALUE "FileDescription", "Quorvex: '
expect 'VALUE "OriginalFilename", "quorvex.exe"'
exit $bad
