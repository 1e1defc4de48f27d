#!/bin/bash
# Installs what the build, the tests and the viewer need on Debian 12 (QEMU
# and debootstrap for the emulated PC that runs the 32-bit build), and
# nothing that is already there. Needs root (or sudo) only when something is missing.
set -e
PKGS="cmake g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
      googletest wine wine64 xvfb xauth openbox fonts-wine fonts-crosextra-carlito fonts-dejavu-core
      imagemagick binutils-mingw-w64-i686 nasm dpkg-dev qemu-system-x86 debootstrap e2fsprogs"
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
# The build compiles Debian's libjpeg-turbo source (cmake/LibJpegTurbo.cmake):
# apt needs bookworm's source index for it.
need_src=""
apt-cache showsrc libjpeg-turbo >/dev/null 2>&1 || need_src=1
[ -z "$missing" ] && [ -z "$need_src" ] && exit 0
SUDO=""; [ "$(id -u)" = 0 ] || SUDO=sudo
if [ -n "$need_src" ]; then
  echo "Adding Debian bookworm's source index (deb-src)"
  $SUDO tee /etc/apt/sources.list.d/debian-bookworm-src.sources >/dev/null <<'SOURCES'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
fi
[ -n "$missing" ] && echo "Installing:$missing"
$SUDO apt-get update -qq
[ -z "$missing" ] || DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
