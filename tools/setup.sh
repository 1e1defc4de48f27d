#!/bin/bash
# Installs what the build, the tests and the viewer need on Debian 12 (QEMU
# and debootstrap for the emulated PC that runs the 32-bit build), and
# nothing that is already there. Needs root (or sudo) only when something is missing.
set -e
PKGS="cmake g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
      googletest wine wine64 xvfb xauth openbox fonts-wine imagemagick binutils-mingw-w64-i686
      qemu-system-x86 debootstrap e2fsprogs"
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
SUDO=""; [ "$(id -u)" = 0 ] || SUDO=sudo
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
