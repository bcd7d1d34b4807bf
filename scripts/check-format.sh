#!/usr/bin/env bash
# Checks the C and C++ files a change touches against .clang-format, so the
# tree stays in one style without a reformatting commit on every branch.
#
#   scripts/check-format.sh          files changed since the merge base with
#                                    origin/main or main (committed or not)
#   scripts/check-format.sh BASE     files changed since BASE
#   scripts/check-format.sh --all    every file
#
# Without git history to compare with, every file is checked. Prints the
# offending lines and exits 1 when a file is not formatted.
set -euo pipefail
cd "$(dirname "$0")/.."

# The style is pinned to one release: another one formats some constructs
# differently and would flag untouched lines.
formatter=clang-format-14
command -v "$formatter" >/dev/null || bash scripts/install-deps.sh clang-format-14 >/dev/null

sources=('*.c' '*.cc' '*.h')
all_files() { git ls-files -- "${sources[@]}" 2>/dev/null || find src tests fuzz -name '*.c' -o -name '*.cc' -o -name '*.h'; }

base=
if [[ ${1:-} != --all ]] && git rev-parse --git-dir >/dev/null 2>&1; then
  if [[ -n ${1:-} ]]; then
    base=$(git rev-parse --verify --quiet "$1^{commit}") || { echo "unknown base: $1" >&2; exit 2; }
  else
    for ref in origin/main main; do
      base=$(git merge-base HEAD "$ref" 2>/dev/null) && break
    done
  fi
fi

if [[ -n $base ]]; then
  mapfile -t files < <({
    git diff --name-only --diff-filter=ACMR "$base" -- "${sources[@]}"
    git ls-files --others --exclude-standard -- "${sources[@]}"
  } | sort -u)
  scope="changed since ${base:0:12}"
else
  mapfile -t files < <(all_files | sort -u)
  scope="all"
fi

if ((${#files[@]} == 0)); then
  echo "format: no C or C++ file $scope"
  exit 0
fi
bad=0
for f in "${files[@]}"; do
  "$formatter" --dry-run -Werror "$f" || bad=$((bad + 1))
done
echo "format: $((${#files[@]} - bad)) passed, $bad failed ($scope)"
((bad == 0)) || { echo "fix with: $formatter -i FILE" >&2; exit 1; }
