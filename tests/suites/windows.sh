#!/usr/bin/env bash
# The Windows side of the test command: cross-builds with warnings as errors,
# then runs under Wine the core's unit and scenario tests, the backend tests,
# the import check and the end-to-end runs (ctest), and the cases that need a
# network namespace of their own. Exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build=${QUORVEX_WIN_BUILD_DIR:-build-win}
build_abs=$root/$build
prefix=$build_abs/wineprefix
ns_prefix=$build_abs/wineprefix-netns
start=$(date +%s)

bash "$root/scripts/install-deps.sh" g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 cmake \
  ninja-build googletest iproute2 iptables clang || exit 1

export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
mkdir -p "$build_abs"

# Two prefixes, made side by side: the main one must exist before CMake
# configures (the UNC share of the file tests lives in it); the second serves
# the namespace cases, whose Wine services must not share a server with ours.
make_prefix() {
  [ -f "$1/system.reg" ] && return 0
  WINEPREFIX=$1 "$wine" wineboot -i >/dev/null 2>&1 </dev/null
  WINEPREFIX=$1 "$wineserver" -w
}
make_prefix "$ns_prefix" &
ns_prefix_pid=$!
make_prefix "$prefix" || { echo "could not create $prefix"; exit 1; }
export WINEPREFIX=$prefix
echo "wine prefixes ready after $(($(date +%s) - start)) s"

status=0
bash scripts/build-windows.sh -DQUORVEX_TESTS=ON -DQUORVEX_WINEPREFIX="$prefix" || exit 1
echo "build done after $(($(date +%s) - start)) s"

# The zip an administrator unpacks: the two programs, their notes, the batch example
# and the license, with CR LF text, nothing else.
zips=(dist/quorvex-*-win64.zip)
python3 - "${zips[0]}" <<'PY' || status=1
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    names = sorted(z.namelist())
    want = ["LICENSE.TXT", "QUORVEX.TXT", "check-hosts.bat", "quorvex-sweep.exe", "quorvex.exe"]
    bad = [n for n in names if n.endswith((".TXT", ".bat")) and b"\n" in z.read(n).replace(b"\r\n", b"")]
    print(f"{sys.argv[1]}: {' '.join(names)}")
    sys.exit(0 if names == want and not bad else 1)
PY

# The backend and its tests must compile warning-free with clang too; mingw's
# headers and libstdc++ serve as clang's Windows sysroot.
clangxx=$(command -v clang++-14 || command -v clang++)
gccinc=$(ls -d /usr/lib/gcc/x86_64-w64-mingw32/*-posix/include/c++ | head -n 1)
for f in src/platform/win32/*.cc tests/win32/*.cc; do
  "$clangxx" --target=x86_64-w64-mingw32 -std=c++17 -Wall -Wextra -Werror -fsyntax-only \
    -nostdinc++ -isystem "$gccinc" -isystem "$gccinc/x86_64-w64-mingw32" \
    -isystem /usr/x86_64-w64-mingw32/include -isystem /usr/src/googletest/googletest/include \
    -D_WIN32_WINNT=0x0601 -Isrc -Itests/win32 "$f" || { echo "clang rejects $f"; status=1; }
done

# A persistent server makes each test program start in well under a second;
# the warm-up run starts Wine's services with no pipe of ours to hold open.
# The server daemonizes, so it is stopped through its prefix, which also ends
# the Wine services it started.
"$wineserver" -p </dev/null >/dev/null 2>&1
stop_server() {
  WINEPREFIX=$prefix "$wineserver" -k 2>/dev/null
}
trap stop_server EXIT
"$wine" "$build_abs/quorvex.exe" </dev/null >/dev/null 2>&1

ctest --test-dir "$build" --output-on-failure -j2 || status=1
echo "ctest done after $(($(date +%s) - start)) s"

wait "$ns_prefix_pid" || { echo "could not create $ns_prefix"; status=1; }
bash tests/win32/namespace_test.sh "$build_abs" "$ns_prefix" || status=1

echo "Windows tests took $(($(date +%s) - start)) s, status $status"
exit $status
