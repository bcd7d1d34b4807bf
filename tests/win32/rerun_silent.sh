#!/usr/bin/env bash
# Runs a test program under Wine (the rest of the command line). Wine now and
# then ends a process that starts while others start or end before the
# program ran a line (exit 0, 1 or SIGQUIT, nothing written). A test program
# always writes something, Google Test at least what it runs, so a failed run
# that wrote nothing is made once more, and said so on stderr.
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
for attempt in 1 2; do
  "$@" >"$out" 2>"$err"
  code=$?
  if [ "$code" -eq 0 ] || [ -s "$out" ] || [ -s "$err" ] || [ "$attempt" -eq 2 ]; then break; fi
  echo "note: Wine ended the test program before it wrote anything (exit $code); running it again" >&2
done
cat "$out"
cat "$err" >&2
exit "$code"
