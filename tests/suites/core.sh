#!/usr/bin/env bash
# The decision core: the format of the changed files, unit and scenario tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, the release binary with warnings as errors, and
# a bounded run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/../.."
fuzz_seconds=${QUORVEX_FUZZ_SECONDS:-30}

bash scripts/check-format.sh

# shellcheck source=../lib/build.sh
source tests/lib/build.sh
qvx_build sanitized all
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$QVX_BUILD_DIR" --output-on-failure -j2
qvx_build release all

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUORVEX_FUZZ=ON -DQUORVEX_SANITIZE=ON -DQUORVEX_WERROR=ON -DQUORVEX_TESTS=OFF
fuzzers=(command_line_fuzz host_text_fuzz ndr_fuzz host_list_fuzz record_fuzz worker_frames_fuzz)

cmake --build build-fuzz --target "${fuzzers[@]}"
for f in "${fuzzers[@]}"; do
  corpus=$(mktemp -d)
  echo "fuzzing $f for ${fuzz_seconds}s"
  seeds=()
  [[ -d fuzz/seeds/$f ]] && seeds=(fuzz/seeds/"$f")
  ./build-fuzz/fuzz/"$f" -max_total_time="$fuzz_seconds" -print_final_stats=0 "$corpus" "${seeds[@]}" 2>&1 | tail -n 3
  rm -rf "$corpus"
done
