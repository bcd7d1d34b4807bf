#!/bin/bash
# The Linux build inside a real Active Directory domain: a Samba domain
# controller, a member server joined to it and a client namespace
# (tests/lib/samba-domain.sh), with Kerberos tickets from kinit. Each case runs
# the sanitized build's quorvex in the client namespace with one combination
# of ticket and password, and asserts the exact standard output and standard
# error, the exit code and a time bound. Prints "N passed, N failed".
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)

bash "$root/scripts/install-deps.sh" samba samba-dev samba-ad-dc samba-ad-provision winbind smbclient krb5-user \
  libkrb5-dev strace iproute2 python3 cmake ninja-build g++ pkg-config googletest >/dev/null || exit 1

# shellcheck source=../lib/build.sh
source "$root/tests/lib/build.sh"
# The sanitized build the core and Samba suites use.
qvx_build sanitized quorvex quorvex-sweep || exit 1
build=$QVX_BUILD_DIR
qvx_sanitizer_env

work=$(mktemp -d /tmp/quorvex-domain.XXXXXX)
cleanup() {
  bash "$root/tests/lib/samba-domain.sh" stop "$work/domain" || true
  rm -rf "$work"
  declare -F qvx_teardown >/dev/null && qvx_teardown
}
trap cleanup EXIT
touch "$work/stamp"
# Microseconds since the epoch, and seconds with a tenth since a reading.
now_us() { echo "${EPOCHREALTIME/./}"; }
seconds_since() { local us=$(($(now_us) - $1)); echo "$((us / 1000000)).$((us / 100000 % 10))"; }
start=$(now_us)
bash "$root/tests/lib/samba-domain.sh" start "$work/domain" || exit 1
# shellcheck disable=SC1091
source "$work/domain/domain.env"
echo "domain up in $(seconds_since "$start") s"

client() {
  nsenter -t "$QVX_CLIENT_HOLDER" -m -n -- env -u USER -u PASSWD -u PASSWD_FILE -u PASSWD_FD -u KRB5CCNAME \
    KRB5_CONFIG="$QVX_KRB5_CONFIG" "$@"
}
tickets=$work/tickets
mkdir -p "$tickets"
(umask 077; printf "%s\n" "$QVX_PASSWORD" >"$work/password")
# kinit LIFETIME NAME: a ticket of the administrator in $tickets/NAME.
kinit_as_admin() {
  client kinit -l "$1" -c "FILE:$tickets/$2" "$QVX_ADMIN@$QVX_REALM" <"$work/password" >/dev/null 2>&1 ||
    { echo "kinit -l $1 failed"; exit 1; }
}
kinit_as_admin 10h valid
# Expired by the time its cases run.
kinit_as_admin 2s expired
# Valid, but inside the five minutes before its end in which Samba would
# replace it.
kinit_as_admin 4m ending
: >"$tickets/empty"

tool=$build/quorvex
# The member starts its RPC workers on the first call; the cases are timed
# warm. A password, so that no ticket cache is touched.
client USER="$QVX_DOMAIN\\$QVX_ADMIN" PASSWD_FILE="$work/password" "$tool" /M member1 >/dev/null 2>&1
# shellcheck source=../lib/harness.sh
source "$root/tests/lib/harness.sh"
exec 3<"$work/password"  # the descriptor PASSWD_FD names
QVX_WANT_STDERR=

# run NAME RC TICKET [VAR=value...] -- ARGS <<< expected lines
# TICKET names a cache in $tickets (absent ones too). USER and the password
# variables are unset unless given; they go through client(), which clears
# the caller's. Descriptor 3 holds the password. Standard error must equal
# QVX_WANT_STDERR, empty unless a case says otherwise.
run() {
  local name=$1 want_rc=$2 ticket=$3 max=5
  shift 3
  local -a env=()
  while [[ $1 != -- ]]; do env+=("$1"); shift; done
  shift
  [[ -n $strace ]] && max=120
  # shellcheck disable=SC2206
  QVX_RUN=(client KRB5CCNAME="FILE:$tickets/$ticket" "${env[@]}" $strace "$tool")
  qvx_case "$name" "$want_rc" "$max" -- "$@"
  QVX_WANT_STDERR=
}

# One verdict from problems found by hand: none means passed.
report() {
  local name=$1
  shift
  if (($# == 0)); then
    qvx_passed=$((qvx_passed + 1))
    printf 'ok   %s\n' "$name"
  else
    qvx_failed=$((qvx_failed + 1))
    printf 'FAIL %s: %s\n' "$name" "$(IFS=';'; echo "$*")"
  fi
}

strace=
admin="$QVX_DOMAIN\\$QVX_ADMIN"
member_passes=" + Resolved hostname to: $QVX_MEMBER_ADDR
 + NetBIOS name matches.
 + Host in domain: $QVX_DOMAIN
 + Admin\$ share exists and has greater than 15MB free.
 + Connected to remote registry.
 + WORKSTATION role.
 + W2K or greater OS."
no_access=" + Resolved hostname to: $QVX_MEMBER_ADDR
 - Can not access. NetWkstaGetInfo call failed."

# A ticket and no password: the whole check of the member, under every name.
run "ticket: short name, /C and /T, verbose" 0 valid -- /M member1 /C qvxdom /T OTHERDOM /V <<EOF
 + Resolved hostname to: $QVX_MEMBER_ADDR
 + NetBIOS name matches.
 + Host in domain: $QVX_DOMAIN
 ! OS version: 6.1
 ! OS comment: Quorvex Member Server
 ! ROLE: non-DC server
 + Admin\$ share exists and has greater than 15MB free.
 + Connected to remote registry.
 + WORKSTATION role.
 + W2K or greater OS.
EOF
run "ticket: full name" 0 valid -- /M "member1.$QVX_DNS_DOMAIN" <<<"$member_passes"
run "ticket: address" 0 valid -- /M "$QVX_MEMBER_ADDR" <<EOF
 + Resolved IP address to: MEMBER1.${QVX_DNS_DOMAIN^^}
${member_passes#*$'\n'}
EOF
run "ticket: already in the /T domain" 8 valid -- /M member1 /T "$QVX_DOMAIN" <<EOF
 + Resolved hostname to: $QVX_MEMBER_ADDR
 + NetBIOS name matches.
 - Host is already in the $QVX_DOMAIN domain.
EOF
run "ticket: not in the /C domain" 8 valid -- /M MEMBER1 /C otherdom <<EOF
 + Resolved hostname to: $QVX_MEMBER_ADDR
 + NetBIOS name matches.
 - Host is in the $QVX_DOMAIN domain (NOT OTHERDOM as expected).
EOF
# admin$ is a 20 MB tmpfs: a little under 20 MB free.
run "ticket: admin\$ free space above /F 19" 0 valid -- /M member1 /F 19 <<<"${member_passes/15MB/19MB}"
run "ticket: admin\$ free space below /F 20" 16 valid -- /M member1 /F 20 <<<"${member_passes/ + Admin\$ share exists and has greater than 15MB/ - Admin\$ share exists but has less than 20MB}"
run "ticket wins over a wrong PASSWD" 0 valid USER="$admin" PASSWD=wrong -- /M member1 <<<"$member_passes"
# The controller refuses the level-102 workstation query to every caller.
run "the controller: query refused, cleanly" 2 valid -- /M dc1 /V <<EOF
 + Resolved hostname to: $QVX_DC_ADDR
 ! Retrying NetWkstaGetInfo call...
 - Can not access. NetWkstaGetInfo call failed.
EOF

# No usable ticket: USER and the password, or a quick failure.
run "ticket near its end: PASSWD used" 0 ending USER="$admin" PASSWD="$QVX_PASSWORD" -- /M member1 <<<"$member_passes"
run "ticket near its end, no password" 2 ending -- /M member1 <<<"$no_access"
run "empty cache: PASSWD used" 0 empty USER="$admin" PASSWD="$QVX_PASSWORD" -- /M member1 <<<"$member_passes"
run "no ticket: PASSWD used" 0 none USER="$admin" PASSWD="$QVX_PASSWORD" -- /M member1 <<<"$member_passes"
run "no ticket, no password" 2 none USER="$admin" -- /M member1 /V <<EOF
 + Resolved hostname to: $QVX_MEMBER_ADDR
 ! Retrying NetWkstaGetInfo call...
 - Can not access. NetWkstaGetInfo call failed.
EOF
run "no ticket, wrong PASSWD" 2 none USER="$admin" PASSWD=wrong -- /M member1 <<<"$no_access"
run "PASSWD_FILE wins over PASSWD" 0 none USER="$admin" PASSWD=wrong PASSWD_FILE="$work/password" \
  -- /M member1 <<<"$member_passes"
run "PASSWD_FD" 0 none USER="$admin" PASSWD_FD=3 -- /M member1 <<<"$member_passes"
QVX_WANT_STDERR="quorvex: no password could be read from PASSWD_FILE"
run "PASSWD_FILE unreadable: no fallback to PASSWD" 2 none USER="$admin" PASSWD="$QVX_PASSWORD" \
  PASSWD_FILE="$work/absent" -- /M member1 <<<"$no_access"

waited=$(now_us)
while client klist -s -c "FILE:$tickets/expired" 2>/dev/null; do sleep 0.2; done
echo "waited $(seconds_since "$waited") s for the short ticket to expire"
run "expired ticket: PASSWD used" 0 expired USER="$admin" PASSWD="$QVX_PASSWORD" -- /M member1 <<<"$member_passes"
run "expired ticket, no password" 2 expired -- /M member1 <<<"$no_access"

# The password goes nowhere but into the logon: not in a file opened, not in
# a write to any descriptor (the NTLM exchange carries no password). LeakSanitizer
# does not work under ptrace.
strace="env ASAN_OPTIONS=detect_leaks=0:exitcode=99 strace -f -qq -s 65536 -e trace=write,openat -o $work/strace.out"
run "under strace: PASSWD used" 0 none USER="$admin" PASSWD="$QVX_PASSWORD" -- /M member1 <<<"$member_passes"
strace=
problems=()
grep -q 'write(1, " + Resolved' "$work/strace.out" || problems+=("strace saw no write")
grep -qF "$QVX_PASSWORD" "$work/strace.out" && problems+=("the password is in the trace")
report "strace: the password is in no write or openat" "${problems[@]}"

problems=()
changed=$(find /etc -xdev -path /etc/netns -prune -o -newer "$work/stamp" -print 2>/dev/null | head -5)
[[ -z $changed ]] || problems+=("changed: $changed")
report "no file under /etc changed" "${problems[@]}"

# What a move trips over, as the member resolves the domain's accounts:
# Domain Admins (there since the set-up) and a domain user in its
# BUILTIN\Administrators, and a profile of that user, in the record of a
# sweep with a ticket; compared with what rpcclient says of the member.
member() { nsenter -t "$QVX_MEMBER_HOLDER" -m -n -- "$@"; }
nsenter -t "$QVX_DC_HOLDER" -m -n -- samba-tool user create olduser "Qv-$RANDOM-x9!" -s "$QVX_DC_CONF" \
  >/dev/null 2>&1
for _ in $(seq 50); do
  olduser_sid=$(member wbinfo -n "$QVX_DOMAIN\\olduser" 2>/dev/null | awk '{print $1}')
  [[ -n $olduser_sid ]] && break
  sleep 0.2
done
member net -s "$QVX_MEMBER_CONF" sam addmem 'BUILTIN\Administrators' "$QVX_DOMAIN\\olduser" >/dev/null 2>&1
member net -s "$QVX_MEMBER_CONF" registry createkey \
  "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\$olduser_sid" >/dev/null 2>&1
echo member1 >"$work/member-list"
client KRB5CCNAME="FILE:$tickets/valid" "$build/quorvex-sweep" --jobs 1 --deadline 30 --no-progress \
  --jsonl "$work/member.jsonl" "$work/member-list" >"$work/member-sweep.out" 2>&1
rpc() { client rpcclient -U "$admin%$QVX_PASSWORD" -c "$1" member1 2>/dev/null; }
members=$(rpc 'queryaliasmem builtin 0x220' | awk -F'[][]' '/sid:/{print $2}' | sort | tr '\n' ' ')
names=$(rpc "lookupsids $members")
problems=()
mapfile -t problems < <(python3 - "$work/member.jsonl" "$QVX_DOMAIN" "$olduser_sid" "$members" "$names" <<'EOF'
import json, re, sys
path, domain, olduser, members, names = sys.argv[1:]
r = json.loads(open(path, encoding="utf-8").readline())
if r["exit_code"] != 0: print(f"exit code {r['exit_code']}")
admins = {a["sid"]: a for a in r["local_admins"] or []}
if sorted(admins) != sorted(members.split()): print(f"admins {sorted(admins)} not rpcclient's {members.split()}")
# rpcclient: "S-1-5-21-... DOMAIN\name (2)"
for sid, name, kind in re.findall(r"^(S-[0-9-]+) (.*) \((\d+)\)$", names, re.M):
    a = admins.get(sid)
    want = {"1": "user", "2": "group"}.get(kind)
    if a is None or f"{a['domain']}\\{a['name']}" != name or (want and a["kind"] != want):
        print(f"admin {sid}: {a} against {name} ({kind})")
# Samba's member names the group as winbind does, in lower case.
if not any(a["name"].lower() == "domain admins" and a["domain"] == domain and a["kind"] == "group"
           for a in admins.values()):
    print(f"Domain Admins missing from {list(admins.values())}; rpcclient: {names!r}")
profiles = r["profiles"] or []
if [p for p in profiles if p["sid"] == olduser] != [{"sid": olduser, "name": "olduser", "domain": domain}]:
    print(f"profiles {profiles}")
for b in ("old-domain-admins", "old-domain-profiles"):
    if b not in (r["blockers"] or []): print(f"blockers {r['blockers']} lack {b}")
if r["old_domain"] != domain: print(f"old domain {r['old_domain']}")
EOF
)
[[ -n $olduser_sid ]] || problems+=("the domain user has no SID on the member")
report "sweep of the member: its administrators and profiles as it names them, and their blockers" "${problems[@]}"

echo "cases and set-up took $(seconds_since "$start") s"
qvx_summary
