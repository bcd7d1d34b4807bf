#!/usr/bin/env bash
# quorvex.exe must run on a bare Windows: it may import system DLLs only.
set -euo pipefail
exe=$1
allowed=" kernel32.dll msvcrt.dll ws2_32.dll iphlpapi.dll netapi32.dll advapi32.dll "
dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: *//p' | tr 'A-Z' 'a-z' | tr -d '\r')
[ -n "$dlls" ] || { echo "no imports found in $exe"; exit 1; }
bad=0
for dll in $dlls; do
  case "$allowed" in
    *" $dll "*) echo "ok       $dll" ;;
    *) echo "FORBIDDEN $dll"; bad=1 ;;
  esac
done
exit $bad
