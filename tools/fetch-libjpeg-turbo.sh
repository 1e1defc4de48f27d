#!/bin/bash
# fetch-libjpeg-turbo.sh DEST: unpacks Debian bookworm's libjpeg-turbo source
# (upstream 2.1.5, with Debian's patches) into the folder DEST. Needs the
# bookworm deb-src lines that tools/setup.sh adds, and dpkg-source.
set -e
dest="$1"
upstream=2.1.5
orig_sha256=254f3642b04e309fee775123133c6464181addc150499561020312ec61c1bf7c
[ -n "$dest" ] || { echo "usage: $0 DEST" >&2; exit 2; }
[ -f "$dest/CMakeLists.txt" ] && exit 0
if ! apt-cache showsrc libjpeg-turbo 2>/dev/null | grep -q "^Version: 1:$upstream-"; then
  echo "Debian's libjpeg-turbo $upstream source is not known to apt: run tools/setup.sh (it adds bookworm's deb-src lines)." >&2
  exit 1
fi
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
chmod 777 "$tmp" # apt's download user writes there
(cd "$tmp" && apt-get source --download-only -qq "libjpeg-turbo" >/dev/null)
orig="$tmp/libjpeg-turbo_$upstream.orig.tar.gz"
if ! echo "$orig_sha256  $orig" | sha256sum -c --quiet -; then
  echo "libjpeg-turbo_$upstream.orig.tar.gz from Debian does not have the expected contents." >&2
  exit 1
fi
dpkg-source --no-check -x "$tmp"/libjpeg-turbo_$upstream-*.dsc "$tmp/src" >/dev/null
mkdir -p "$(dirname "$dest")"
rm -rf "$dest.partial"
mv "$tmp/src" "$dest.partial"
mv "$dest.partial" "$dest"
