# The two builds the suites run, made the same way by every suite and one at a
# time (a lock per build directory: suites run side by side, and two builds of
# one tree at once would tread on each other). A tree already configured is
# only brought up to date, whatever generator made it.
#
#   qvx_build sanitized TARGET...   build-test: Debug, ASan and UBSan, -Werror
#   qvx_build release TARGET...     build: Release, -Werror, no tests
#   qvx_sanitizer_env               how the sanitized programs report: leaks
#                                   checked with full stacks (Samba's own
#                                   allocations kept to exit are suppressed),
#                                   memory faults as exit code 99
# Both print the build's log tail and fail when it fails; QVX_BUILD_DIR names
# the directory built.

QVX_ROOT=${QVX_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}

qvx_build() {
  local kind=$1
  shift
  local -a options
  case $kind in
    sanitized)
      QVX_BUILD_DIR=${QUORVEX_SANITIZED_BUILD:-$QVX_ROOT/build-test}
      options=(-DCMAKE_BUILD_TYPE=Debug -DQUORVEX_SANITIZE=ON -DQUORVEX_WERROR=ON) ;;
    release)
      QVX_BUILD_DIR=${QUORVEX_RELEASE_BUILD:-$QVX_ROOT/build}
      options=(-DCMAKE_BUILD_TYPE=Release -DQUORVEX_WERROR=ON -DQUORVEX_TESTS=OFF) ;;
    *) echo "qvx_build: unknown build $kind" >&2; return 2 ;;
  esac
  mkdir -p "$QVX_BUILD_DIR" || return 1
  local log=$QVX_BUILD_DIR/build-output-$$.log
  if ! (
    flock 9
    if [[ ! -f $QVX_BUILD_DIR/CMakeCache.txt ]]; then
      cmake -S "$QVX_ROOT" -B "$QVX_BUILD_DIR" -G Ninja "${options[@]}" || exit 1
    fi
    cmake --build "$QVX_BUILD_DIR" -j"$(nproc)" --target "$@"
  ) 9>"$QVX_BUILD_DIR/.build-lock" >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "build of $* in $QVX_BUILD_DIR failed"
    return 1
  fi
  rm -f "$log"
}

qvx_sanitizer_env() {
  export ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0:exitcode=99
  export LSAN_OPTIONS=suppressions=$QVX_ROOT/tests/samba/lsan.supp:print_suppressions=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
}
