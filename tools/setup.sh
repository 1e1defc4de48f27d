#!/bin/bash
# Installs what the build, the tests and the viewer need on Debian 12, and
# nothing that is already there. Needs root (or sudo) only when something is missing.
set -e
PKGS="cmake g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
      googletest wine wine64 xvfb xauth openbox fonts-wine fonts-crosextra-carlito fonts-dejavu-core
      imagemagick binutils-mingw-w64-i686"
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
SUDO=""; [ "$(id -u)" = 0 ] || SUDO=sudo
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
