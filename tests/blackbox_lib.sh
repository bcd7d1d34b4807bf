# Shared by the black-box scripts of both builds: the bytes the tool writes.

# Lines ended by CR LF, as the tool writes them.
lines() {
  local line
  for line in "$@"; do printf '%s\r\n' "$line"; done
}

# The usage text up to its last line, which is a free-worded contact line.
usage_head() {
  lines "" \
    "Quorvex /M (HostName | IP_Address) [/C Current_DOMAIN] [/T Target_DOMAIN]" \
    "              [/F nnn] [/D] [/I] [/W] [/A] [/P] [/R] [/V | /Q]" \
    "" \
    "Use Quorvex to help verify that a remote host is ready for AD migration," \
    "or to verify general availability/access of a remote host. Exits with error" \
    "code 0 if successful. Host and domain names should be NetBIOS names." \
    "" \
    "/M (required): Specify the host to check" \
    "/C (optional): Specify the expected CURRENT domain of the host" \
    "/T (optional): Specify the TARGET domain we are migrating to" \
    "/D (optional): Disable check for free space (15MB default) on admin\$ share" \
    "/F (optional): Specify free space (MBs) needed on admin\$ share (15MB default)" \
    "/I (optional): Ignore NetBIOS name mismatch" \
    "/W (optional): Workstation Only: Exclude (fail) hosts that are servers" \
    "/A (optional): Allow NT4: Include (pass) hosts running NT4 OS" \
    "/P (optional): Ping host to verify online" \
    "/R (optional): Try connecting with DNS name or IP Address if NetBIOS name fails" \
    "/V (optional): Verbose: Shows additional information (leading ! in output)" \
    "/Q (optional): Quiet: Set errorlevel but display nothing (except syntax errors)" \
    "" \
    "NOTE: Please see QUORVEX.TXT for error codes and more usage information." \
    ""
}
