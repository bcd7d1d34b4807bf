#!/usr/bin/env bash
# Installs the Debian packages named as arguments, or without arguments
# everything the builds and tests need. Safe to run again: only what is
# missing is fetched. Every script that needs packages comes through here.
set -euo pipefail

if (($#)); then
  packages=("$@")
else
  packages=(
    cmake ninja-build g++ clang clang-format-14 libclang-rt-14-dev googletest libgtest-dev pkg-config
    nlohmann-json3-dev
    iproute2 iptables iputils-ping procps python3 dpkg-dev man-db lintian zip
    samba samba-dev smbclient samba-common-bin faketime
    samba-ad-dc samba-ad-provision winbind krb5-user libkrb5-dev strace
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64
    libcli11-dev
    chromium nodejs
  )
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
