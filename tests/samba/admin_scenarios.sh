# shellcheck shell=bash disable=SC2154
# The host administration calls and registry key listing of the Linux
# backend against the suite's Samba host, sourced by tests/suites/samba.sh
# after the tool's own scenarios. The tool never makes these calls: they are
# made by quorvex_admin_probe (tests/posix/samba/admin_probe.cc), and what it
# prints is held to what Samba's own tools (net, rpcclient) say of the same
# host, run from the same namespace just before.
#
# Needs: $work, $build, $root, the host's host.env sourced, the harness.

probe=$build/quorvex_admin_probe
smb_conf=$QVX_DIR/run/smb.conf
logon="Administrator%$QVX_PASSWORD"
saved_run=("${QVX_RUN[@]}")
QVX_RUN=(ip netns exec "$QVX_CLIENT_NS" "$probe")

on_client() { ip netns exec "$QVX_CLIENT_NS" "$@"; }
net_rpc() { on_client net rpc "$@" -I "$QVX_ADDR" -U "$logon" 2>/dev/null; }
rpc_client() { on_client rpcclient -U "$logon" -c "$1" "$QVX_ADDR" 2>/dev/null; }

# A failed case of the suite's own making (Samba's tools did not say what the
# comparison needs), counted like any other.
admin_setup_failed() {
  qvx_failed=$((qvx_failed + 1))
  printf 'FAIL %-62s: %s\n' "$1" "$2"
}

host_sid=$(net -s "$smb_conf" getlocalsid 2>/dev/null | awk '{print $NF}')
foreign_sid=S-1-5-21-1111-2222-3333-1104
profiles='SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList'

# --- Services --------------------------------------------------------------

# NAME|DISPLAY|ACCOUNT|START|STATE of a service as `net rpc service status`
# says it.
status_code() {
  case $1 in
    stopped) echo 1 ;; "start pending") echo 2 ;; "stop pending") echo 3 ;; running) echo 4 ;;
    "resume pending") echo 5 ;; "pause pending") echo 6 ;; paused) echo 7 ;; *) echo "?$1" ;;
  esac
}
net_service_line() {
  local name=$1 status
  status=$(net_rpc service status "$name") || return 1
  local state start account display
  state=$(sed -n "s/^$name service is \(.*\)\.$/\1/p" <<<"$status")
  start=$(sed -n 's/^[[:space:]]*Start Type *= 0x//p' <<<"$status")
  account=$(sed -n 's/^[[:space:]]*Start Name *= //p' <<<"$status")
  display=$(sed -n 's/^[[:space:]]*Display Name *= //p' <<<"$status")
  echo "$name|$display|$account|$((16#$start))|$(status_code "$state")"
}

net_services() { net_rpc service list | sed -n 's/^\([^ ]*\) .*/\1/p' | while read -r name; do net_service_line "$name"; done; }

# A logon account of a domain being left, planted just before the check and
# compared with what net says right after it: a new RPC worker of Samba's
# writes its services' keys again, so the plant is made once a call has
# started the worker, and made again (three times at most) when it was lost.
services_dir=$qvx_work/services
mkdir -p "$services_dir"
for _ in 1 2 3; do
  net_rpc service status WINS >/dev/null
  net -s "$smb_conf" registry setvalue 'HKLM\SYSTEM\CurrentControlSet\Services\WINS' ObjectName sz 'OLDDOM\svc-acct' \
    >/dev/null 2>&1
  qvx_run "$services_dir" -- '\\qvxhost' services
  want_services=$(net_services)
  [[ $want_services == *'|OLDDOM\svc-acct|'* ]] && break
done
[[ $want_services == *'|OLDDOM\svc-acct|'* ]] ||
  admin_setup_failed "services as net rpc service says" "the planted account did not hold: $want_services"
qvx_want "$services_dir/want" <<<"$want_services"
qvx_judge "services as net rpc service says" 0 10 "$services_dir"

qvx_case "Remote Registry as net rpc service status says" 0 10 -- '\\qvxhost' service RemoteRegistry \
  <<<"$(net_service_line RemoteRegistry)"

net_rpc service status NoSuchService >/dev/null && admin_setup_failed "a missing service" "net found NoSuchService"
qvx_case "a missing service" 1 10 -- '\\qvxhost' service NoSuchService <<EOF
failed OpenServiceW 1060
EOF

# --- Accounts --------------------------------------------------------------

# "SID DOMAIN\NAME (USE)" lines as rpcclient's lookupsids prints them, with
# its "*unknown*" for the names of a SID it could not translate left empty.
rpc_lookup_lines() {
  rpc_client "lookupsids $*" | sed 's/\*unknown\*\\\*unknown\*/\\/'
}

net -s "$smb_conf" groupmap addmem S-1-5-32-544 "$foreign_sid" >/dev/null 2>&1
net -s "$smb_conf" groupmap addmem S-1-5-32-544 "$host_sid-1000" >/dev/null 2>&1
# shellcheck disable=SC2046
members=$(rpc_client 'queryaliasmem builtin 0x220' | sed -n 's/^[[:space:]]*sid:\[\(.*\)\]$/\1/p')
[[ $members == *"$foreign_sid"* ]] || admin_setup_failed "local administrators" "planted member missing: $members"
# shellcheck disable=SC2086
qvx_case "local administrators as rpcclient says" 0 10 -- '\\qvxhost' admins <<<"$(rpc_lookup_lines $members)"

sids=("$foreign_sid" "$host_sid-1000" "$host_sid-500" S-1-5-32-544 S-1-5-32-545 S-1-1-0 S-1-5-18)
qvx_case "SIDs as rpcclient lookupsids says" 0 10 -- '\\qvxhost' lookup "${sids[@]}" \
  <<<"$(rpc_lookup_lines "${sids[@]}")"

qvx_case "a SID text that names no SID" 1 10 -- '\\qvxhost' lookup S-1-5-32-544 S-1-5-x <<EOF
failed LsaLookupSids 1337
EOF

# Samba outside an AD domain keeps no DNS domain information.
[[ $host_sid == S-1-5-21-* ]] || admin_setup_failed "host domains" "net getlocalsid said '$host_sid'"
qvx_case "host domains as net getlocalsid says" 0 10 -- '\\qvxhost' domains <<EOF
domains $host_sid|
EOF

# --- Registry keys ---------------------------------------------------------

net -s "$smb_conf" registry createkey "HKLM\\$profiles\\$foreign_sid" >/dev/null 2>&1
net -s "$smb_conf" registry createkey "HKLM\\$profiles\\$host_sid-1000" >/dev/null 2>&1
net -s "$smb_conf" registry createkey 'HKLM\SOFTWARE\Quorvex\Prüfung' >/dev/null 2>&1
net -s "$smb_conf" registry createkey 'HKLM\SOFTWARE\Quorvex\Zweite' >/dev/null 2>&1
net_subkeys() { net -s "$smb_conf" registry enumerate "HKLM\\$1" 2>/dev/null | sed -n 's/^Keyname *= /key /p'; }

want=$(net_subkeys "$profiles")
[[ $want == *"$foreign_sid"* ]] || admin_setup_failed "profile subkeys" "the planted key did not show: $want"
qvx_case "profile subkeys as net registry enumerate says" 0 10 -- '\\qvxhost' keys "$profiles" <<<"$want"
qvx_case "subkey names outside ASCII" 0 10 -- '\\qvxhost' keys 'SOFTWARE\Quorvex' <<<"$(net_subkeys 'SOFTWARE\Quorvex')"
qvx_case "a key without subkeys" 0 10 -- '\\qvxhost' keys "$profiles\\$foreign_sid" </dev/null

# Everything in one process: one session carries every pipe. The listing is
# prepared first and goes on beside the registry and account calls; the
# query of one service waits for it. Samba's view is taken right after, as
# for the services alone.
all_dir=$qvx_work/all
mkdir -p "$all_dir"
qvx_run "$all_dir" -- '\\qvxhost' prepare keys 'SOFTWARE\Quorvex' admins service RemoteRegistry services domains
# shellcheck disable=SC2086
qvx_want "$all_dir/want" <<EOF
$(net_subkeys 'SOFTWARE\Quorvex')
$(rpc_lookup_lines $members)
$(net_service_line RemoteRegistry)
$(net_services)
domains $host_sid|
EOF
qvx_judge "every call in one session" 0 15 "$all_dir"

# Prepared and not all asked for, as for a host whose server query fails
# after its first answer: the run ends with the listing and the
# administrators still under way and lets them go.
qvx_case "prepared, then the domains only" 0 10 -- '\\qvxhost' prepare domains <<<"domains $host_sid|"

# --- Failures --------------------------------------------------------------

qvx_case "services with a wrong password" 1 10 PASSWD=not-the-password -- '\\qvxhost' services <<EOF
failed OpenSCManagerW 1326
EOF

qvx_case "administrators of a server that stays silent" 1 8 -- '\\silent' admins <<EOF
failed NetLocalGroupGetMembers 121
EOF

# run_with_worker_stopped DIR ARGS...: runs the probe with ARGS into DIR in
# the background; once it has written its first line, Samba's service
# control worker is stopped, and the probe's `wait-for DIR/go` released; the
# worker goes on again when the probe has ended.
run_with_worker_stopped() {
  local dir=$1 run
  shift
  qvx_run "$dir" -- "$@" &
  run=$!
  for _ in $(seq 100); do [[ -s $dir/out ]] && break; sleep 0.1; done
  local -a stopped=()
  for pid in $(ip netns pids "$QVX_SERVER_NS"); do
    [[ $(cat "/proc/$pid/comm" 2>/dev/null) == rpcd_classic ]] && stopped+=("$pid")
  done
  ((${#stopped[@]})) && kill -STOP "${stopped[@]}"
  touch "$dir/go"
  wait "$run"
  ((${#stopped[@]})) && kill -CONT "${stopped[@]}"
}

# A call the host stops answering in the middle of a session ends at its
# bound (10 s): the service control worker is stopped between two calls,
# the second a listing prepared before it is waited for.
stall_dir=$qvx_work/stall
mkdir -p "$stall_dir"
qvx_want "$stall_dir/want" <<EOF
$(net_service_line RemoteRegistry)
failed OpenSCManagerW 121
EOF
run_with_worker_stopped "$stall_dir" '\\qvxhost' service RemoteRegistry wait-for "$stall_dir/go" prepare services
qvx_judge --min 10000 "a call that stalls ends at its bound" 1 16 "$stall_dir"

# A listing prepared while the service control worker is stopped: its pipe's
# open outlasts the connect's bound (5 s), and that is the answer, not asked
# again on a new session.
open_dir=$qvx_work/open-stall
mkdir -p "$open_dir"
qvx_want "$open_dir/want" <<EOF
domains $host_sid|
failed OpenSCManagerW 121
EOF
run_with_worker_stopped "$open_dir" '\\qvxhost' domains wait-for "$open_dir/go" prepare services
qvx_judge --min 5000 "a prepared listing whose pipe does not open ends at its bound" 1 9 "$open_dir"

# --- Clock -----------------------------------------------------------------

# The probe's clock and time of day as statements within 2 s of the offset
# wanted, and Samba's `net time` of the same host with it.
clock_case() {
  local name=$1 offset=$2 client_ns=$3 addr=$4 dir=$qvx_work/clock
  mkdir -p "$dir"
  local -a run_before=("${QVX_RUN[@]}")
  QVX_RUN=(ip netns exec "$client_ns" "$probe")
  qvx_run "$dir" -- '\\qvxhost' clock tod
  QVX_RUN=("${run_before[@]}")
  local before after net_time
  before=$(date +%s)
  net_time=$(date -d "$(ip netns exec "$client_ns" net time -I "$addr" -U "$logon" 2>/dev/null)" +%s)
  after=$(date +%s)
  local net_skew=$((net_time - (before + after) / 2)) skew_ms=""
  {
    while read -r what host_ms local_ms; do
      if ! [[ $host_ms =~ ^[0-9]+$ && $local_ms =~ ^[0-9]+$ ]]; then
        printf '%s %s %s\r\n' "$what" "$host_ms" "$local_ms"
        continue
      fi
      skew_ms=$((host_ms - local_ms))
      if ((skew_ms - offset * 1000 <= 2000 && offset * 1000 - skew_ms <= 2000)); then
        printf '%s within 2 s of %+d s\r\n' "$what" "$offset"
      else
        printf '%s off by %d ms\r\n' "$what" "$skew_ms"
      fi
    done < <(tr -d '\r' <"$dir/out")
    if ((net_skew - offset <= 2 && offset - net_skew <= 2)); then
      printf 'net time within 2 s of %+d s\r\n' "$offset"
    else
      printf 'net time off by %d s\r\n' "$net_skew"
    fi
  } >"$dir/judged"
  mv "$dir/judged" "$dir/out"
  qvx_want "$dir/want" <<EOF
clock within 2 s of $(printf %+d "$offset") s
tod within 2 s of $(printf %+d "$offset") s
net time within 2 s of $(printf %+d "$offset") s
EOF
  qvx_judge "$name" 0 10 "$dir"
}

clock_case "clock of a host on time" 0 "$QVX_CLIENT_NS" "$QVX_ADDR"
for offset in +600 -120; do
  clock_host=$work/clock$offset
  if QVX_FAKETIME=$offset bash "$root/tests/lib/samba-host.sh" start "$clock_host" >/dev/null; then
    # shellcheck disable=SC1091
    clock_case "clock of a host $offset s off" "$offset" \
      "$(source "$clock_host/host.env" && echo "$QVX_CLIENT_NS")" "$QVX_ADDR"
  else
    admin_setup_failed "clock of a host $offset s off" "its host did not start"
  fi
  bash "$root/tests/lib/samba-host.sh" stop "$clock_host" >/dev/null 2>&1
done

QVX_RUN=("${saved_run[@]}")
