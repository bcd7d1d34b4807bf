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
#   qvx_run, qvx_judge       the two halves of qvx_case, for cases run side by side
#
# Standard error must be empty unless QVX_ALLOW_STDERR=1, or equal
# QVX_WANT_STDERR when that is set.
#
# QVX_RERUN_SILENT=1 (the suites under Wine): a case that ended with another
# exit code than wanted and wrote nothing at all is run once more, with a
# note, and the second run is judged. Wine now and then ends a program that
# starts while others start or end before it ran a line of its own.

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

# qvx_run DIR [VAR=value...] -- ARGS...: one run of QVX_RUN into DIR (out,
# err, and "CODE MILLISECONDS" in result), for suites that run cases side by
# side and judge them afterwards.
qvx_run() {
  local dir=$1
  shift
  local -a env=()
  while [[ $1 != -- ]]; do env+=("$1"); shift; done
  shift
  local start rc
  start=$(date +%s%N)
  (
    # Exported here rather than through env(1): QVX_RUN may start with a function.
    for setting in "${QVX_ENV[@]}" "${env[@]}"; do export "${setting?}"; done
    "${QVX_RUN[@]}" "$@"
  ) >"$dir/out" 2>"$dir/err" </dev/null
  rc=$?
  echo "$rc $((($(date +%s%N) - start) / 1000000))" >"$dir/result"
}

# qvx_judge [--min MS] [--usage] NAME CODE MAX_SECONDS DIR: holds the run in
# DIR to DIR/want (and, when QVX_WANT_STDERR is set, standard error to it
# exactly), then counts and prints the verdict.
qvx_judge() {
  local min_ms=0 usage=0
  while [[ $1 == --* ]]; do
    case $1 in
      --min) min_ms=$2; shift 2 ;;
      --usage) usage=1; shift ;;
      *) echo "qvx_judge: unknown option $1" >&2; return 2 ;;
    esac
  done
  local name=$1 want_rc=$2 max=$3 dir=$4 rc elapsed_ms
  read -r rc elapsed_ms <"$dir/result"

  local problems=()
  [[ $rc == "$want_rc" ]] || problems+=("exit code $rc, wanted $want_rc")
  if ((usage)); then
    local want_lines
    want_lines=$(($(wc -l <"$dir/want") + 1))
    if ! head -n $((want_lines - 1)) "$dir/out" | cmp -s - "$dir/want"; then
      problems+=("output before the usage contact line differs")
    elif [[ $(wc -l <"$dir/out") != "$want_lines" ]] || ! tail -n 1 "$dir/out" | grep -q $'[^\r].*\r$'; then
      problems+=("missing, unterminated or extra contact line")
    fi
  else
    cmp -s "$dir/out" "$dir/want" || problems+=("standard output differs")
  fi
  if [[ -n ${QVX_WANT_STDERR+set} ]]; then
    [[ $(<"$dir/err") == "$QVX_WANT_STDERR" ]] || problems+=("standard error differs")
  elif [[ -s $dir/err && ${QVX_ALLOW_STDERR:-0} != 1 ]]; then
    problems+=("standard error is not empty")
  fi
  ((elapsed_ms <= max * 1000)) || problems+=("took $elapsed_ms ms, bound ${max} s")
  ((elapsed_ms >= min_ms)) || problems+=("took $elapsed_ms ms, at least $min_ms ms wanted")

  local took
  took=$(printf '%d.%d' $((elapsed_ms / 1000)) $((elapsed_ms % 1000 / 100)))
  if ((${#problems[@]} == 0)); then
    qvx_passed=$((qvx_passed + 1))
    printf 'ok   %-62s %5ss\n' "$name" "$took"
  else
    qvx_failed=$((qvx_failed + 1))
    printf 'FAIL %-62s %5ss: %s\n' "$name" "$took" "$(IFS=';'; echo "${problems[*]}")"
    echo "  wanted:"; sed 's/\r$/<CR>/; s/^/    /' "$dir/want" | head -n 30
    echo "  got:"; sed 's/\r$/<CR>/; s/^/    /' "$dir/out" | head -n 30
    [[ -s $dir/err ]] && { echo "  stderr:"; head -n 20 "$dir/err" | sed 's/^/    /'; }
  fi
  return 0
}

# Expected lines on standard input, CR LF each, into FILE.
qvx_want() {
  local line
  while IFS= read -r line; do printf '%s\r\n' "$line"; done >"$1"
}

qvx_case() {
  local -a options=()
  while [[ $1 == --* ]]; do
    case $1 in
      --min) options+=("$1" "$2"); shift 2 ;;
      *) options+=("$1"); shift ;;
    esac
  done
  local name=$1 want_rc=$2 max=$3
  shift 3
  qvx_want "$qvx_work/want"
  [[ " ${options[*]} " == *" --usage "* ]] && usage_head >>"$qvx_work/want"
  qvx_run "$qvx_work" "$@"
  local rc
  read -r rc _ <"$qvx_work/result"
  if [[ ${QVX_RERUN_SILENT:-0} == 1 && $rc != "$want_rc" && ! -s $qvx_work/out && ! -s $qvx_work/err ]]; then
    echo "note: $name: exit $rc with nothing written, run again"
    qvx_run "$qvx_work" "$@"
  fi
  qvx_judge "${options[@]}" "$name" "$want_rc" "$max" "$qvx_work"
}

qvx_summary() {
  echo "$qvx_passed passed, $qvx_failed failed"
  ((qvx_failed == 0))
}
