#!/usr/bin/env bash
# Cross-builds the Windows program on Debian and assembles dist/:
# quorvex.exe and quorvex-sweep.exe (static, system DLLs only, with a version
# resource), QUORVEX.TXT and check-hosts.bat with CR LF line ends, LICENSE.TXT
# (the GPL travels with the program), and all in quorvex-<version>-win64.zip.
# Extra arguments go to the CMake configure step (tests/suites/windows.sh adds
# -DQUORVEX_TESTS=ON). The build directory is $QUORVEX_WIN_BUILD_DIR,
# build-win by default.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QUORVEX_WIN_BUILD_DIR:-build-win}

bash scripts/install-deps.sh g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 cmake ninja-build googletest zip

cmake -S . -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DQUORVEX_WERROR=ON -DQUORVEX_TESTS=OFF "$@"
cmake --build "$build"

mkdir -p dist
x86_64-w64-mingw32-strip -o dist/quorvex.exe "$build/quorvex.exe"
x86_64-w64-mingw32-strip -o dist/quorvex-sweep.exe "$build/quorvex-sweep.exe"
# Notepad and cmd.exe expect CR LF; the sources keep LF.
for f in QUORVEX.TXT check-hosts.bat; do
  sed -e 's/\r$//' -e 's/$/\r/' "packaging/$f" >"dist/$f"
done
sed -e 's/\r$//' -e 's/$/\r/' LICENSE >dist/LICENSE.TXT
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
zip_name=quorvex-$version-win64.zip
rm -f dist/quorvex-*-win64.zip
# -X: no Unix owners or extra times, which Windows has no use for.
(cd dist && zip -q -X "$zip_name" quorvex.exe quorvex-sweep.exe QUORVEX.TXT check-hosts.bat LICENSE.TXT)
ls -l dist
