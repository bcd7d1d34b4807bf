# The one harness of the black-box suites, sourced by each of them: the
# network namespaces of netns.sh, and a runner that holds a run to its exact
# output bytes, its exit code and its time. A suite is then set-up plus a list
# of cases; its EXIT trap calls qvx_teardown.
#
# Runner:
#   QVX_RUN=(command prefix...)   what every case runs, e.g. (ip netns exec NS tool)
#   QVX_ENV=(VAR=value...)        environment of every case (a case's own comes after)
#   qvx_case [--min MS] [--usage] NAME CODE MAX_SECONDS [VAR=value...] -- ARGS... <<EOF
#   expected lines, one per line (each is compared with CR LF after it)
#   EOF
#     --min MS   the run must take at least MS milliseconds
#     --usage    after the expected lines comes the usage text, whose free
#                contact line is only required to exist
#     VAR=value  environment of this run only
#   qvx_summary              prints the counts; fails when a case failed
#
# Standard error must be empty unless QVX_ALLOW_STDERR=1.

QVX_HARNESS_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=./netns.sh
source "$QVX_HARNESS_DIR/netns.sh"
# shellcheck source=../blackbox_lib.sh
source "$QVX_HARNESS_DIR/../blackbox_lib.sh"

qvx_passed=0
qvx_failed=0
qvx_work=$(mktemp -d /tmp/quorvex-case.XXXXXX)
QVX_RUN=()
QVX_ENV=()

qvx_case() {
  local min_ms=0 usage=0
  while [[ $1 == --* ]]; do
    case $1 in
      --min) min_ms=$2; shift 2 ;;
      --usage) usage=1; shift ;;
      *) echo "qvx_case: unknown option $1" >&2; return 2 ;;
    esac
  done
  local name=$1 want_rc=$2 max=$3
  shift 3
  local -a env=()
  while [[ $1 != -- ]]; do env+=("$1"); shift; done
  shift
  local line
  while IFS= read -r line; do
    printf '%s\r\n' "$line"
  done >"$qvx_work/want"
  ((usage)) && usage_head >>"$qvx_work/want"

  local start rc elapsed_ms
  start=$(date +%s%N)
  (
    # Exported here rather than through env(1): QVX_RUN may start with a function.
    for setting in "${QVX_ENV[@]}" "${env[@]}"; do export "${setting?}"; done
    "${QVX_RUN[@]}" "$@"
  ) >"$qvx_work/out" 2>"$qvx_work/err" </dev/null
  rc=$?
  elapsed_ms=$((($(date +%s%N) - start) / 1000000))

  local problems=()
  [[ $rc == "$want_rc" ]] || problems+=("exit code $rc, wanted $want_rc")
  if ((usage)); then
    local want_lines
    want_lines=$(($(wc -l <"$qvx_work/want") + 1))
    if ! head -n $((want_lines - 1)) "$qvx_work/out" | cmp -s - "$qvx_work/want"; then
      problems+=("output before the usage contact line differs")
    elif [[ $(wc -l <"$qvx_work/out") != "$want_lines" ]] || ! tail -n 1 "$qvx_work/out" | grep -q $'[^\r].*\r$'; then
      problems+=("missing, unterminated or extra contact line")
    fi
  else
    cmp -s "$qvx_work/out" "$qvx_work/want" || problems+=("standard output differs")
  fi
  [[ -s $qvx_work/err && ${QVX_ALLOW_STDERR:-0} != 1 ]] && problems+=("standard error is not empty")
  ((elapsed_ms <= max * 1000)) || problems+=("took $elapsed_ms ms, bound ${max} s")
  ((elapsed_ms >= min_ms)) || problems+=("took $elapsed_ms ms, at least $min_ms ms wanted")

  local took
  took=$(printf '%d.%d' $((elapsed_ms / 1000)) $((elapsed_ms % 1000 / 100)))
  if ((${#problems[@]} == 0)); then
    qvx_passed=$((qvx_passed + 1))
    printf 'ok   %-52s %5ss\n' "$name" "$took"
  else
    qvx_failed=$((qvx_failed + 1))
    printf 'FAIL %-52s %5ss: %s\n' "$name" "$took" "$(IFS=';'; echo "${problems[*]}")"
    echo "  wanted:"; sed 's/\r$/<CR>/; s/^/    /' "$qvx_work/want" | head -n 30
    echo "  got:"; sed 's/\r$/<CR>/; s/^/    /' "$qvx_work/out" | head -n 30
    [[ -s $qvx_work/err ]] && { echo "  stderr:"; head -n 20 "$qvx_work/err" | sed 's/^/    /'; }
  fi
  return 0
}

qvx_summary() {
  echo "$qvx_passed passed, $qvx_failed failed"
  ((qvx_failed == 0))
}
