#!/bin/bash
# A real Samba host in a network namespace of its own, for the tool to check
# from a second namespace. Nothing leaves the two namespaces: the addresses
# exist only on the veth pair between them.
#
#   tests/lib/samba-host.sh start DIR [OPTION...]   start the host; writes DIR/host.env
#   tests/lib/samba-host.sh stop DIR                stop everything start started
#
# Options of start, for a host that stands in for many (a fleet benchmark):
#   --routed CIDR    the server also owns every address of CIDR through one
#                    local route, and the client reaches them by way of
#                    QVX_ADDR; smbd then listens on every address it has, so
#                    there is no silent server (QVX_SILENT is empty). CIDR
#                    must not meet 10.97.0.0/24 or 192.0.2.0/24.
#   --global SETTING a line of the server's [global] section from its start,
#                    e.g. 'log level = 0' (repeatable; goes to global.conf)
#
# DIR/host.env names the client namespace (run the tool with
# `ip netns exec $QVX_CLIENT_NS ...`), the addresses and the logon:
#   QVX_SERVER       server's NetBIOS name (QVXHOST); qvxhost and
#                    qvxhost.test.lan resolve to it, and so does wrongname
#   QVX_ADDR         its 10.97 address; QVX_ADDR_ALT a second address of
#                    it, in another network (/M takes either)
#   QVX_GHOST        a full name of the server whose first label no resolver
#                    knows (reverse name of QVX_ADDR_ALT)
#   QVX_NOHOST       address on the link that nobody owns (nor does anybody
#                    own 192.0.2.100-199, on the same link)
#   QVX_DROP         address whose packets the server namespace drops
#   QVX_SILENT       address whose port 445 accepts TCP and never answers
#   QVX_USER, QVX_PASSWORD   a logon with administrator rights on the host
#   QVX_SHARE_DIR    the directory behind admin$ (a 20 MB tmpfs)
#   QVX_DIR          DIR; the server's settings may be changed in
#                    DIR/run/global.conf and the admin$ share's in
#                    DIR/run/admin-share.conf (both empty at start but
#                    for the settings of --global)
#
# QVX_FAKETIME=OFFSET (libfaketime's, e.g. +600 or -120) in the environment
# of start sets the host's clock that many seconds off ours: smbd and the RPC
# daemons it starts see it, their timers still run on the real monotonic
# clock.
set -euo pipefail

command=${1:-}
dir=${2:-}
usage="usage: $0 start DIR [--routed CIDR] [--global SETTING]... | stop DIR"
[[ -n $command && -n $dir ]] || { echo "$usage" >&2; exit 2; }
shift 2
routed=
settings=()
while (($#)); do
  case $1 in
    --routed) [[ $# -ge 2 ]] || { echo "$usage" >&2; exit 2; }; routed=$2; shift 2 ;;
    --global) [[ $# -ge 2 ]] || { echo "$usage" >&2; exit 2; }; settings+=("$2"); shift 2 ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
done

# shellcheck source=./netns.sh
source "$(dirname "$0")/netns.sh"

if [[ $command == stop ]]; then
  [[ -f $dir/host.env ]] || exit 0
  # shellcheck disable=SC1091
  source "$dir/host.env"
  # The RPC daemon detaches from smbd and starts its workers itself; its
  # workers end with it.
  stop_pid_file "$dir/run/pid/samba-dcerpcd.pid"
  stop_pid_file "$dir/run/pid/smbd.pid"
  stop_pid_file "$dir/silent.pid"
  for f in "$dir"/run/pid/*.pid; do [[ -e $f ]] && stop_pid_file "$f"; done
  mountpoint -q "$QVX_SHARE_DIR" && umount "$QVX_SHARE_DIR"
  ip netns del "$QVX_SERVER_NS" 2>/dev/null || true
  ip netns del "$QVX_CLIENT_NS" 2>/dev/null || true
  rm -rf "/etc/netns/$QVX_CLIENT_NS"
  rm -f "$dir/host.env"
  exit 0
fi

[[ $command == start ]] || { echo "unknown command: $command" >&2; exit 2; }

mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
server_ns=qvx-smb-srv-$$
client_ns=qvx-smb-cli-$$
srv=10.97.0.1
cli=10.97.0.2
# The tool takes any four fields of 0..255 as an address, 10.97.x.y
# included. These documentation addresses give the server a second address
# (and the client a way to it) that exists only inside the namespaces.
srv_alt=192.0.2.1
cli_alt=192.0.2.2
password=Quorvex-Test-1
# smbd binds only addresses that interfaces hold, and a routed range's are
# held by a route: it then listens on every address, the silent server's
# port included, so that server has no place beside it.
silent=192.0.2.3
bind_only=yes
if [[ -n $routed ]]; then
  silent=
  bind_only=no
fi

cat >"$dir/host.env" <<EOF
QVX_SERVER_NS=$server_ns
QVX_CLIENT_NS=$client_ns
QVX_SERVER=QVXHOST
QVX_DOMAIN=SÄLJARE
QVX_ADDR=$srv
QVX_ADDR_ALT=$srv_alt
QVX_GHOST=ghost.test.lan
QVX_NOHOST=192.0.2.5
QVX_DROP=192.0.2.4
QVX_SILENT=$silent
QVX_USER='SÄLJARE\\Administrator'
QVX_PASSWORD=$password
QVX_SHARE_DIR=$dir/admin
QVX_DIR=$dir
EOF

qvx_ns server_ns qvx-smb-srv
qvx_ns client_ns qvx-smb-cli
qvx_link "$client_ns" "$cli/24 $cli_alt/24" "$server_ns" "$srv/24 $srv_alt/24${silent:+ $silent/24}"
# Packets for the drop address go to the server namespace, which does not
# forward them and answers nothing: a host that drops SYNs.
ip -n "$client_ns" route add "192.0.2.4/32" via "$srv_alt"
ip netns exec "$server_ns" sysctl -qw net.ipv4.ip_forward=0
# A routed range sits behind the server's end of the link: the client's
# neighbour table holds one entry for all of it, and one local route costs
# smbd nothing per connection, where as many interface addresses would be
# listed again by every connection's process.
if [[ -n $routed ]]; then
  ip -n "$client_ns" route add "$routed" via "$srv"
  ip -n "$server_ns" route add local "$routed" dev lo
fi

# This machine's own name is in the hosts file because Samba's client looks
# it up at start; no lookup leaves the namespace.
qvx_etc "$client_ns" "127.0.0.1 localhost
$cli $(hostname)
$srv qvxhost.test.lan qvxhost wrongname
$srv_alt ghost.test.lan
${silent:+$silent silent
}192.0.2.4 drop
192.0.2.5 nohost"

run=$dir/run
mkdir -p "$run"/{private,lock,state,cache,pid,ncalrpc,log} "$dir/admin"
mount -t tmpfs -o size=20m,mode=0755 quorvex-admin "$dir/admin"
mkdir -p "$dir/admin/System32"
printf 'root = Administrator\n' >"$run/users.map"
: >"$run/admin-share.conf"
: >"$run/global.conf"
((${#settings[@]} == 0)) || printf '%s\n' "${settings[@]}" >"$run/global.conf"
cat >"$run/smb.conf" <<EOF
[global]
  netbios name = QVXHOST
  workgroup = SÄLJARE
  server string = Quorvex Prüf Server
  server role = standalone server
  security = user
  map to guest = never
  disable netbios = yes
  smb ports = 445
  interfaces = $srv/24 $srv_alt/24
  bind interfaces only = $bind_only
  private dir = $run/private
  lock directory = $run/lock
  state directory = $run/state
  cache directory = $run/cache
  pid directory = $run/pid
  ncalrpc dir = $run/ncalrpc
  log file = $run/log/%m.log
  log level = 1
  passdb backend = tdbsam:$run/private/passdb.tdb
  username map = $run/users.map
  load printers = no
  printing = bsd
  printcap name = /dev/null
  disable spoolss = yes
  include = $run/global.conf

[admin\$]
  path = $dir/admin
  read only = yes
  include = $run/admin-share.conf
EOF

printf '%s\n%s\n' "$password" "$password" | smbpasswd -c "$run/smb.conf" -s -a root >"$run/log/setup.out" 2>&1 ||
  { cat "$run/log/setup.out" >&2; exit 1; }
net -s "$run/smb.conf" groupmap add sid=S-1-5-32-544 unixgroup=root type=builtin ntgroup=Administrators \
  >>"$run/log/setup.out" 2>&1 || { cat "$run/log/setup.out" >&2; exit 1; }

clock=()
if [[ -n ${QVX_FAKETIME:-} ]]; then
  faketime_lib=$(compgen -G '/usr/lib/*/faketime/libfaketime.so.1' | head -n 1) ||
    { echo "libfaketime is not installed" >&2; exit 1; }
  clock=(env LD_PRELOAD="$faketime_lib" FAKETIME="$QVX_FAKETIME" FAKETIME_DONT_FAKE_MONOTONIC=1)
fi

# smbd signals its whole process group when it stops: a session of its own
# keeps that signal away from whoever started or stops it.
setsid ip netns exec "$server_ns" "${clock[@]}" smbd -s "$run/smb.conf" --foreground --no-process-group \
  </dev/null >"$run/log/smbd.out" 2>&1 &
echo $! >"$run/pid/smbd.pid"

# A server that accepts TCP on 445 and never says a word.
if [[ -n $silent ]]; then
  ip netns exec "$server_ns" python3 -c '
import socket, sys, time
held = []
listeners = []
for address in sys.argv[1:]:
    s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind((address, 445)); s.listen(16); s.setblocking(False); listeners.append(s)
while True:
    for s in listeners:
        try:
            held.append(s.accept()[0])
        except BlockingIOError:
            pass
    time.sleep(0.05)
' "$silent" </dev/null >/dev/null 2>&1 &
  echo $! >"$dir/silent.pid"
fi

# Ready when the server answers on 445.
for _ in $(seq 100); do
  if ip netns exec "$client_ns" bash -c "exec 3<>/dev/tcp/$srv/445" 2>/dev/null; then
    exit 0
  fi
  sleep 0.1
done
echo "samba host did not start; see $run/log" >&2
exit 1
