#!/bin/bash
# A Samba Active Directory domain in network namespaces, for the tool to check
# from a third: a domain controller (its internal DNS and Kerberos), a member
# server joined to it (winbindd, smbd) and a client whose resolver is the
# controller. Each namespace also has a mount namespace of its own with a
# private /run, /etc/hosts, /etc/resolv.conf and Samba state directories, so
# nothing outside DIR is written. The addresses exist only on a bridge inside
# the controller's namespace: no packet leaves.
#
#   tests/lib/samba-domain.sh start DIR   set it up; writes DIR/domain.env
#   tests/lib/samba-domain.sh stop DIR    stop everything start started
#
# DIR/domain.env:
#   QVX_CLIENT_HOLDER   run a client command with
#                       `nsenter -t $QVX_CLIENT_HOLDER -m -n CMD`
#   QVX_MEMBER_HOLDER, QVX_DC_HOLDER   the same for the member and the controller
#   QVX_MEMBER_CONF, QVX_DC_CONF       their smb.conf
#   QVX_KRB5_CONFIG     the krb5.conf provisioning wrote (KRB5_CONFIG)
#   QVX_REALM, QVX_DOMAIN, QVX_DNS_DOMAIN
#   QVX_DC, QVX_DC_ADDR, QVX_MEMBER, QVX_MEMBER_ADDR   NetBIOS names, addresses
#   QVX_ADMIN, QVX_PASSWORD   the domain's administrator
#   admin$ on the member is a 20 MB tmpfs at /mnt of its mount namespace
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=./netns.sh
source "$root/tests/lib/netns.sh"

command=${1:-}
dir=${2:-}
[[ -n $command && -n $dir ]] || { echo "usage: $0 start|stop DIR" >&2; exit 2; }

if [[ $command == stop ]]; then
  [[ -f $dir/domain.env ]] || exit 0
  # shellcheck disable=SC1091
  source "$dir/domain.env"
  ns_stop "$QVX_CLIENT_NS" "$QVX_MEMBER_NS" "$QVX_DC_NS"
  rm -f "$dir/domain.env"
  exit 0
fi
[[ $command == start ]] || { echo "unknown command: $command" >&2; exit 2; }

mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
id=$$
realm=QVXDOM.TEST
domain=QVXDOM
dns_domain=qvxdom.test
dc_addr=10.99.0.1
member_addr=10.99.0.2
client_addr=10.99.0.3
password=Quorvex-Dom-1

cat >"$dir/domain.env" <<EOF
QVX_DC_NS=qvx-dc-$id
QVX_MEMBER_NS=qvx-mbr-$id
QVX_CLIENT_NS=qvx-dcl-$id
QVX_KRB5_CONFIG=$dir/dc/private/krb5.conf
QVX_REALM=$realm
QVX_DOMAIN=$domain
QVX_DNS_DOMAIN=$dns_domain
QVX_DC=DC1
QVX_DC_ADDR=$dc_addr
QVX_MEMBER=MEMBER1
QVX_MEMBER_ADDR=$member_addr
QVX_ADMIN=Administrator
QVX_PASSWORD=$password
EOF
# shellcheck disable=SC1091
source "$dir/domain.env"

# Three namespaces on one bridge that lives in the controller's.
ip netns add "$QVX_DC_NS"
ip netns add "$QVX_MEMBER_NS"
ip netns add "$QVX_CLIENT_NS"
ip -n "$QVX_DC_NS" link add qbr type bridge
ip -n "$QVX_DC_NS" addr add "$dc_addr/24" dev qbr
for role in m c; do
  ns=$QVX_MEMBER_NS addr=$member_addr
  [[ $role == c ]] && ns=$QVX_CLIENT_NS addr=$client_addr
  ip link add "qd$role$id" type veth peer name "qd${role}b$id"
  ip link set "qd$role$id" netns "$ns"
  ip link set "qd${role}b$id" netns "$QVX_DC_NS"
  ip -n "$QVX_DC_NS" link set "qd${role}b$id" master qbr up
  ip -n "$ns" addr add "$addr/24" dev "qd$role$id"
  ip -n "$ns" link set "qd$role$id" up
done
for ns in "$QVX_DC_NS" "$QVX_MEMBER_NS" "$QVX_CLIENT_NS"; do ip -n "$ns" link set lo up; done
ip -n "$QVX_DC_NS" link set qbr up

# setup ROLE NS HOSTS_LINE: the namespace's holder, its private files and
# state directories; prints the holder's number.
setup() {
  local role=$1 ns=$2 hosts_line=$3 holder d
  mkdir -p "$dir/$role"/{lib/private,cache,log,etc}
  printf '127.0.0.1 localhost\n%s\n' "$hosts_line" >"$dir/$role/etc/hosts"
  printf 'nameserver %s\nsearch %s\n' "$dc_addr" "$dns_domain" >"$dir/$role/etc/resolv.conf"
  holder=$(ns_holder_start "$ns")
  ns_run "$holder" sh -e -c '
    mount -t tmpfs -o mode=0755,size=16m quorvex-run /run
    mount --bind "$1/etc/hosts" /etc/hosts
    mount --bind "$1/etc/resolv.conf" /etc/resolv.conf
    mount --bind "$1/lib" /var/lib/samba
    mount --bind "$1/cache" /var/cache/samba
    mount --bind "$1/log" /var/log/samba' sh "$dir/$role"
  echo "$holder"
}

# Samba looks up this machine's own name too.
dc=$(setup dc "$QVX_DC_NS" "$dc_addr dc1.$dns_domain dc1 $(hostname)")
member=$(setup member "$QVX_MEMBER_NS" "$member_addr member1.$dns_domain member1 $(hostname)")
client=$(setup client "$QVX_CLIENT_NS" "$client_addr $(hostname)")
printf 'QVX_CLIENT_HOLDER=%s\nQVX_MEMBER_HOLDER=%s\nQVX_DC_HOLDER=%s\nQVX_MEMBER_CONF=%s\nQVX_DC_CONF=%s\n' \
  "$client" "$member" "$dc" "$dir/member/etc/smb.conf" "$dir/dc/etc/smb.conf" >>"$dir/domain.env"

log=$dir/setup.log
fail() {
  echo "domain set-up failed at: $1 (see $dir)" >&2
  tail -20 "$log" >&2
  exit 1
}

# The controller. An empty configuration keeps the shares of this machine's
# own smb.conf out of the new one; no DNS forwarder, so a name the domain
# lacks is answered inside it.
: >"$dir/dc/empty.conf"
mkdir -m 0750 "$dir/dc/ntp_signd"
ns_run "$dc" samba-tool domain provision -s "$dir/dc/empty.conf" --targetdir="$dir/dc" \
  --realm="$realm" --domain="$domain" --server-role=dc --dns-backend=SAMBA_INTERNAL \
  --host-name=dc1 --host-ip="$dc_addr" --adminpass="$password" \
  --option="interfaces = lo $dc_addr/24" --option="bind interfaces only = yes" \
  --option="dns forwarder =" --option="ntp signd socket directory = $dir/dc/ntp_signd" \
  --option="log file = $dir/dc/log/samba.log" >"$log" 2>&1 || fail "provisioning"
setsid nsenter -t "$dc" -m -n -- samba -s "$dir/dc/etc/smb.conf" --foreground --no-process-group \
  </dev/null >"$dir/dc/log/samba.out" 2>&1 &

# The member, joined once the controller answers Kerberos and LDAP.
cat >"$dir/member/etc/smb.conf" <<EOF
[global]
  netbios name = MEMBER1
  workgroup = $domain
  realm = $realm
  security = ads
  server string = Quorvex Member Server
  # Tickets are checked with the machine password in secrets.tdb; a keytab
  # would go to /etc.
  kerberos method = secrets only
  idmap config * : backend = tdb
  idmap config * : range = 3000-7999
  idmap config $domain : backend = rid
  idmap config $domain : range = 10000-999999
  disable netbios = yes
  smb ports = 445
  interfaces = $member_addr/24
  bind interfaces only = yes
  log file = $dir/member/log/%m.log
  load printers = no
  printing = bsd
  printcap name = /dev/null
  disable spoolss = yes

[admin\$]
  path = /mnt
  read only = yes
EOF
# This machine's NSS has no winbind: the administrator's account (the rid
# mapping gives it 10000 + 500) is in the member's private passwd instead.
cp /etc/passwd "$dir/member/etc/passwd"
cp /etc/group "$dir/member/etc/group"
echo "administrator:x:10500:10512::/nonexistent:/usr/sbin/nologin" >>"$dir/member/etc/passwd"
echo "domain admins:x:10512:" >>"$dir/member/etc/group"
ns_run "$member" sh -e -c 'mount --bind "$1/passwd" /etc/passwd; mount --bind "$1/group" /etc/group' \
  sh "$dir/member/etc"
# admin$ lies where the administrator (not root) can reach it; DIR is
# private to its owner.
ns_run "$member" sh -e -c 'mount -t tmpfs -o size=20m,mode=0755 quorvex-admin /mnt; mkdir /mnt/System32'

ready=0
for _ in $(seq 300); do
  if ns_run "$member" bash -c "exec 3<>/dev/tcp/$dc_addr/389 && exec 4<>/dev/tcp/$dc_addr/88 && \
      exec 5<>/dev/tcp/$dc_addr/53" 2>/dev/null; then
    ready=1
    break
  fi
  sleep 0.1
done
((ready)) || fail "controller start"

# The member's address and reverse name in the controller's DNS, while the
# member joins.
(
  ns_run "$dc" samba-tool dns add 127.0.0.1 "$dns_domain" member1 A "$member_addr" \
    -s "$dir/dc/etc/smb.conf" -U "Administrator%$password" &&
    ns_run "$dc" samba-tool dns zonecreate 127.0.0.1 0.99.10.in-addr.arpa \
      -s "$dir/dc/etc/smb.conf" -U "Administrator%$password" &&
    ns_run "$dc" samba-tool dns add 127.0.0.1 0.99.10.in-addr.arpa 2 PTR "member1.$dns_domain" \
      -s "$dir/dc/etc/smb.conf" -U "Administrator%$password"
) >"$dir/dns.log" 2>&1 &
dns_job=$!

joined=0
for _ in 1 2 3 4 5; do
  if ns_run "$member" net ads join -s "$dir/member/etc/smb.conf" --no-dns-updates \
    -U "Administrator%$password" >>"$log" 2>&1; then
    joined=1
    break
  fi
  sleep 1
done
((joined)) || fail "member join"
wait "$dns_job" || { cat "$dir/dns.log" >>"$log"; fail "DNS records"; }

setsid nsenter -t "$member" -m -n -- winbindd -s "$dir/member/etc/smb.conf" --foreground --no-process-group \
  </dev/null >"$dir/member/log/winbindd.out" 2>&1 &

# Domain Admins administer the member (BUILTIN\Administrators), as on a
# Windows member; the group needs winbindd for its number.
for _ in $(seq 300); do
  ns_run "$member" wbinfo -p >/dev/null 2>&1 && break
  sleep 0.1
done
{
  ns_run "$member" net -s "$dir/member/etc/smb.conf" sam createbuiltingroup Administrators &&
    ns_run "$member" net -s "$dir/member/etc/smb.conf" sam addmem 'BUILTIN\Administrators' "$domain\Domain Admins"
} >>"$log" 2>&1 || fail "BUILTIN\\Administrators"

setsid nsenter -t "$member" -m -n -- smbd -s "$dir/member/etc/smb.conf" --foreground --no-process-group \
  </dev/null >"$dir/member/log/smbd.out" 2>&1 &
for _ in $(seq 300); do
  ns_run "$client" bash -c "exec 3<>/dev/tcp/$member_addr/445" 2>/dev/null && exit 0
  sleep 0.1
done
fail "member start"
