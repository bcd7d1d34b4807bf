#!/usr/bin/env bash
# The Debian package as an administrator gets it: builds the .deb (Release,
# build-package/), checks its fields and files, holds it to lintian, installs
# it with apt-get, runs the installed /usr/bin/quorvex against the example
# Samba host, finds its manual pages, and removes the package again, also when
# a check fails.
# Run as root on Debian 12.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$root/build-package
# shellcheck source=../lib/harness.sh
source "$root/tests/lib/harness.sh"

# One check of the package, counted with the harness's cases.
check() {
  local name=$1
  shift
  if "$@"; then
    qvx_passed=$((qvx_passed + 1))
    echo "ok   $name"
  else
    qvx_failed=$((qvx_failed + 1))
    echo "FAIL $name"
  fi
}

bash "$root/scripts/install-deps.sh" cmake g++ pkg-config samba samba-dev smbclient iproute2 python3 \
  dpkg-dev man-db lintian || exit 1

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUORVEX_WERROR=ON -DQUORVEX_TESTS=OFF >/dev/null || exit 1
cmake --build "$build" -j2 >/dev/null || exit 1
rm -f "$build"/quorvex_*.deb
(cd "$build" && cpack -G DEB >/dev/null) || { echo "cpack failed"; exit 1; }
debs=("$build"/quorvex_*.deb)
deb=${debs[0]}
[[ -f $deb ]] || { echo "no .deb in $build"; exit 1; }
echo "built $(basename "$deb")"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
field() { dpkg-deb -f "$deb" "$1"; }
has_file() { dpkg-deb -c "$deb" | awk '{print $NF}' | grep -qx "./$1"; }
depends=$(field Depends)
echo "Depends: $depends"
check "version is the project's ($version)" test "$(field Version)" = "$version"
check "section admin" test "$(field Section)" = admin
check "maintainer named" test -n "$(field Maintainer)"
check "depends on Samba's client libraries" grep -qE 'samba-libs \(>[>=]' <<<"$depends"
check "stays with the Samba series it was built for" grep -q 'samba-libs (<<' <<<"$depends"
for f in usr/bin/quorvex usr/bin/quorvex-sweep usr/share/man/man1/quorvex.1.gz \
  usr/share/man/man1/quorvex-sweep.1.gz usr/share/doc/quorvex/QUORVEX.TXT usr/share/doc/quorvex/copyright \
  usr/share/doc/quorvex/changelog.gz; do
  check "ships /$f" has_file "$f"
done

# Debian's own checks of a package: any error or warning fails (information
# tags do not). Its complaint about running as root goes to standard error.
lintian_out=$(lintian --fail-on error,warning --tag-display-limit 0 "$deb" 2>&1)
lintian_rc=$?
grep -v '^running with root privileges is not recommended!$' <<<"$lintian_out" | sed 's/^/lintian: /'
check "lintian finds no error or warning" test "$lintian_rc" = 0

# A page groff warns about may render wrong on another terminal width.
unpacked=$(mktemp -d /tmp/quorvex-deb.XXXXXX)
dpkg-deb -x "$deb" "$unpacked"
for page in quorvex quorvex-sweep; do
  check "man renders $page.1 without a warning" test -z "$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
    man --warnings -E UTF-8 -l "$unpacked/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)"
done
rm -rf "$unpacked"

work=$(mktemp -d /tmp/quorvex-package.XXXXXX)
installed=0
# Another suite may be installing packages at the same moment: wait for the lock.
remove() { apt-get remove -y -q -o DPkg::Lock::Timeout=300 quorvex >/dev/null 2>&1; }
cleanup() {
  if ((installed)); then
    remove || echo "could not remove the quorvex package"
  fi
  bash "$root/tests/lib/samba-host.sh" stop "$work/host"
  rm -rf "$work"
  qvx_teardown
}
trap cleanup EXIT

if dpkg-query -W -f='${Status}' quorvex 2>/dev/null | grep -q 'install ok installed'; then
  echo "quorvex is already installed here; not touching it"
  exit 1
fi
installed=1
if ! (cd "$build" && DEBIAN_FRONTEND=noninteractive apt-get install -y -q -o DPkg::Lock::Timeout=300 \
  "./$(basename "$deb")") >"$work/apt.log" 2>&1; then
  cat "$work/apt.log"
  echo "apt-get install failed"
  exit 1
fi
check "installs with apt-get" test -x /usr/bin/quorvex

bash "$root/tests/lib/samba-host.sh" start "$work/host" || exit 1
# shellcheck disable=SC1091
source "$work/host/host.env"
# The run of scripts/example.sh, shown as it comes (which also wakes the
# host's RPC workers, started on demand), then held to its bytes and code:
# passed, failed and verbose lines, and the role's 32.
echo "\$ quorvex /M qvxhost.test.lan /P /V /W     (installed, as $QVX_USER)"
ip netns exec "$QVX_CLIENT_NS" env USER="$QVX_USER" PASSWD="$QVX_PASSWORD" \
  /usr/bin/quorvex /M qvxhost.test.lan /P /V /W | tr -d '\r'
echo "exit code: ${PIPESTATUS[0]}"
QVX_ENV=(USER="$QVX_USER" PASSWD="$QVX_PASSWORD")
QVX_RUN=(ip netns exec "$QVX_CLIENT_NS" /usr/bin/quorvex)
qvx_case "installed tool runs the example" 32 8 -- /M qvxhost.test.lan /P /V /W <<'EOF'
 + Resolved hostname to: 10.97.0.1
 + Host UP. Successfully pinged: 10.97.0.1
 + NetBIOS name matches.
 + Host in domain: SÄLJARE
 ! OS version: 6.1
 ! OS comment: Quorvex Prüf Server
 ! ROLE: non-DC server
 + Admin$ share exists and has greater than 15MB free.
 + Connected to remote registry.
 - SERVER role.
 + W2K or greater OS.
EOF

# Minimal images tell dpkg to leave manual pages out; the page is then
# shipped (checked above) but cannot be found.
if grep -qs '^path-exclude=/usr/share/man' /etc/dpkg/dpkg.cfg.d/*; then
  echo "skip man -w quorvex: dpkg is told to leave manual pages out here"
else
  for page in quorvex quorvex-sweep; do
    check "man -w finds $page(1)" test "$(man -w "$page" 2>/dev/null)" = "/usr/share/man/man1/$page.1.gz"
    check "$page(1) names the version" grep -q "Quorvex $version" <(man -P cat "$page" 2>/dev/null)
  done
fi

installed=0
check "removes with apt-get" remove
check "nothing left in /usr/bin" test ! -e /usr/bin/quorvex

qvx_summary
