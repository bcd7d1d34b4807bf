# Scenarios of the real-peer suite, sourced by tests/suites/samba.sh.
# The host: NetBIOS name QVXHOST in workgroup SÄLJARE, comment "Quorvex Prüf
# Server" (a letter outside ASCII, which must come out as the same UTF-8), admin$ on a 20 MB tmpfs; Samba answers ProductType "ServerNT" and
# CurrentVersion "6.1", so the host is a server and passes as W2K or greater.
# Names in the client namespace: qvxhost, qvxhost.test.lan and wrongname are
# the server at 10.97.0.1; ghost.test.lan is the server at 192.0.2.1 with a
# first label that no resolver knows; silent, drop and nohost are addresses
# that never answer in their own ways.
#
# qvx_case NAME EXIT_CODE MAX_SECONDS [VAR=value...] -- ARGS <<< expected lines (tests/lib/harness.sh)

passing_tail=' + Admin$ share exists and has greater than 15MB free.
 + Connected to remote registry.
 + SERVER role.
 + W2K or greater OS.'

verbose_report=' ! OS version: 6.1
 ! OS comment: Quorvex Prüf Server
 ! ROLE: non-DC server'

qvx_case "passes by NetBIOS name" 0 5 -- /M qvxhost <<EOF
 + Resolved hostname to: 10.97.0.1
 + NetBIOS name matches.
 + Host in domain: SÄLJARE
$passing_tail
EOF

qvx_case "passes by full name, lower case" 0 5 -- /M qvxhost.test.lan <<EOF
 + Resolved hostname to: 10.97.0.1
 + NetBIOS name matches.
 + Host in domain: SÄLJARE
$passing_tail
EOF

qvx_case "server refused with /W" 32 5 -- /M qvxhost /W <<EOF
 + Resolved hostname to: 10.97.0.1
 + NetBIOS name matches.
 + Host in domain: SÄLJARE
 + Admin\$ share exists and has greater than 15MB free.
 + Connected to remote registry.
 - SERVER role.
 + W2K or greater OS.
EOF

qvx_case "verbose report" 0 5 -- /M qvxhost /V <<EOF
 + Resolved hostname to: 10.97.0.1
 + NetBIOS name matches.
 + Host in domain: SÄLJARE
$verbose_report
$passing_tail
EOF

qvx_case "ping a live host" 0 8 -- /M qvxhost /P <<EOF
 + Resolved hostname to: 10.97.0.1
 + Host UP. Successfully pinged: 10.97.0.1
 + NetBIOS name matches.
 + Host in domain: SÄLJARE
$passing_tail
EOF

qvx_case "ping a silent address" 1 8 -- /M "$QVX_DROP" /P /V <<EOF
 + Resolved IP address to: DROP
 ! Second knock...
 - Host DOWN. Could not ping: $QVX_DROP
EOF

# Free space: 20 MB of tmpfs holds a little under 20 MB free.
qvx_case "free space above /F" 0 5 -- /M qvxhost /F 19 <<EOF
 + Resolved hostname to: 10.97.0.1
 + NetBIOS name matches.
 + Host in domain: SÄLJARE
 + Admin\$ share exists and has greater than 19MB free.
 + Connected to remote registry.
 + SERVER role.
 + W2K or greater OS.
EOF

qvx_case "free space below /F" 16 5 -- /M qvxhost /F 020 <<EOF
 + Resolved hostname to: 10.97.0.1
 + NetBIOS name matches.
 + Host in domain: SÄLJARE
 - Admin\$ share exists but has less than 020MB free.
 + Connected to remote registry.
 + SERVER role.
 + W2K or greater OS.
EOF

qvx_case "free space test skipped with /D" 0 5 -- /M qvxhost /D <<EOF
 + Resolved hostname to: 10.97.0.1
 + NetBIOS name matches.
 + Host in domain: SÄLJARE
 + Admin\$ share exists.
 + Connected to remote registry.
 + SERVER role.
 + W2K or greater OS.
EOF

share_missing=' + Resolved hostname to: 10.97.0.1
 + NetBIOS name matches.
 + Host in domain: SÄLJARE
 - Admin$ share does NOT exist or we have no access to it.
 + Connected to remote registry.
 + SERVER role.
 + W2K or greater OS.'

mv "$QVX_SHARE_DIR/System32" "$QVX_SHARE_DIR/System32.away"
qvx_case "admin\$ without System32" 16 5 -- /M qvxhost /D <<<"$share_missing"
mv "$QVX_SHARE_DIR/System32.away" "$QVX_SHARE_DIR/System32"

# Refused: the share admits nobody until the include is emptied again.
printf 'valid users = nobody\n' >"$QVX_DIR/run/admin-share.conf"
kill -HUP "$(<"$QVX_DIR/run/pid/smbd.pid")"
sleep 1
qvx_case "admin\$ refused" 16 5 -- /M qvxhost <<<"$share_missing"
: >"$QVX_DIR/run/admin-share.conf"
kill -HUP "$(<"$QVX_DIR/run/pid/smbd.pid")"
sleep 1

qvx_case "name mismatch" 4 5 -- /M wrongname <<EOF
 + Resolved hostname to: 10.97.0.1
 - NetBIOS name does NOT match. Returned: QVXHOST
EOF

qvx_case "name mismatch ignored with /I" 0 5 -- /M wrongname /I <<EOF
 + Resolved hostname to: 10.97.0.1
 + Host in domain: SÄLJARE
$passing_tail
EOF

qvx_case "name mismatch ignored, shown with /V" 0 5 -- /M wrongname /I /V <<EOF
 + Resolved hostname to: 10.97.0.1
 ! NetBIOS name does not match. Returned: QVXHOST
 + Host in domain: SÄLJARE
$verbose_report
$passing_tail
EOF

# /R: the NetBIOS name GHOST resolves nowhere (the system resolver lacks it
# and no one answers the broadcast), so the retry addresses the host by the
# address or the full name, which then serves every later check too.
qvx_case "/R retries by address" 0 12 -- /M "$QVX_ADDR_ALT" /R /I /V <<EOF
 + Resolved IP address to: GHOST.TEST.LAN
 ! Retrying NetWkstaGetInfo call with IP Address: $QVX_ADDR_ALT
 ! NetBIOS name does not match. Returned: QVXHOST
 + Host in domain: SÄLJARE
$verbose_report
$passing_tail
EOF

qvx_case "/R retries by full name" 0 12 -- /M "$QVX_GHOST" /R /I /V <<EOF
 + Resolved hostname to: $QVX_ADDR_ALT
 ! Retrying NetWkstaGetInfo call with: GHOST.TEST.LAN
 ! NetBIOS name does not match. Returned: QVXHOST
 + Host in domain: SÄLJARE
$verbose_report
$passing_tail
EOF

qvx_case "without /R the retry keeps the name" 2 12 -- /M "$QVX_GHOST" /V <<EOF
 + Resolved hostname to: $QVX_ADDR_ALT
 ! Retrying NetWkstaGetInfo call...
 - Can not access. NetWkstaGetInfo call failed.
EOF

qvx_case "/C other than the host's domain" 8 5 -- /M qvxhost /C OTHERDOM <<EOF
 + Resolved hostname to: 10.97.0.1
 + NetBIOS name matches.
 - Host is in the SÄLJARE domain (NOT OTHERDOM as expected).
EOF

qvx_case "/T the host's own domain" 8 5 -- /M qvxhost /C OTHERDOM /T säljare <<EOF
 + Resolved hostname to: 10.97.0.1
 + NetBIOS name matches.
 - Host is already in the SÄLJARE domain.
EOF

qvx_case "/C and /T that fit" 0 5 -- /M qvxhost /C säljare /T NEWDOM <<EOF
 + Resolved hostname to: 10.97.0.1
 + NetBIOS name matches.
 + Host in domain: SÄLJARE
$passing_tail
EOF

qvx_case "wrong password" 2 5 PASSWD=not-the-password -- /M qvxhost /V <<EOF
 + Resolved hostname to: 10.97.0.1
 ! Retrying NetWkstaGetInfo call...
 - Can not access. NetWkstaGetInfo call failed.
EOF

qvx_case "password in USER" 0 5 'USER=Administrator%Quorvex-Test-1' PASSWD= -- /M qvxhost <<EOF
 + Resolved hostname to: 10.97.0.1
 + NetBIOS name matches.
 + Host in domain: SÄLJARE
$passing_tail
EOF

# Each failing attempt is bounded (5 s to set up a session) and the stage
# tries twice: 10 s and a margin for the sanitizers.
unreachable=' ! Retrying NetWkstaGetInfo call...
 - Can not access. NetWkstaGetInfo call failed.'

qvx_case "address with no host" 2 13 -- /M "$QVX_NOHOST" /V <<EOF
 + Resolved IP address to: NOHOST
$unreachable
EOF

qvx_case "address that drops SYNs" 2 13 -- /M "$QVX_DROP" /V <<EOF
 + Resolved IP address to: DROP
$unreachable
EOF

qvx_case "server that accepts TCP and stays silent" 2 13 -- /M "$QVX_SILENT" /V <<EOF
 + Resolved IP address to: SILENT
$unreachable
EOF
