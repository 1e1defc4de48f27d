#!/bin/bash
# Installs what the build, the tests and the viewer need on Debian 12 (QEMU
# and debootstrap for the emulated PC that runs the 32-bit build; GStreamer's
# RTSP server for the test camera; openssl for the HTTPS test camera's
# certificate; Debian's ffmpeg for its player, which the
# benchmark compares with), and nothing that is already there. Needs root (or
# sudo) only when something is missing.
set -e
PKGS="cmake g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
      googletest wine wine64 xvfb xauth openbox fonts-wine fonts-crosextra-carlito fonts-dejavu-core
      imagemagick binutils-mingw-w64-i686 nasm dpkg-dev make pkg-config qemu-system-x86 debootstrap e2fsprogs
      python3-gi gir1.2-gst-rtsp-server-1.0 gstreamer1.0-plugins-base gstreamer1.0-plugins-good
      gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly gstreamer1.0-x ffmpeg openssl"
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done

# The build compiles Debian bookworm's source packages of its third-party
# libraries (tools/thirdparty/): apt needs their source index. It is made
# from the machine's own package sources (its mirror, its suites), so a
# machine with a local mirror fetches sources from there too. Only bookworm's
# suites: other sources (a vendor's) may have no source index at all.
src_list=/etc/apt/sources.list.d/debian-bookworm-src.sources
deb_src_entries() {
  {
    # One-line format: deb [options] URI SUITE COMPONENT...
    cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
      awk '$1 == "deb" { i = 2; opts = "";
             if ($2 ~ /^\[/) { while ($i !~ /\]$/) { opts = opts " " $i; i++ } opts = opts " " $i; i++ }
             signed = ""; if (match(opts, /signed-by=[^] ]+/)) signed = substr(opts, RSTART + 10, RLENGTH - 10)
             comps = ""; for (j = i + 2; j <= NF; j++) comps = comps " " $j
             print $i "\t" $(i + 1) "\t" substr(comps, 2) "\t" signed }'
    # deb822 format: paragraphs of Types, URIs, Suites, Components, Signed-By, Enabled.
    for f in /etc/apt/sources.list.d/*.sources; do
      [ -f "$f" ] && [ "$f" != "$src_list" ] || continue
      awk 'function flush() {
             if (types ~ /(^| )deb( |$)/ && enabled != "no")
               for (u = 1; u <= nu; u++) for (s = 1; s <= ns; s++)
                 print uris[u] "\t" suites[s] "\t" comps "\t" signed
             types = ""; nu = 0; ns = 0; comps = ""; signed = ""; enabled = "" }
           /^[ \t]*#/ { next }
           /^[ \t]*$/ { flush(); next }
           { key = tolower($1); sub(/^[^:]*:[ \t]*/, ""); }
           key == "types:" { types = $0 }
           key == "uris:" { nu = split($0, uris, /[ \t]+/) }
           key == "suites:" { ns = split($0, suites, /[ \t]+/) }
           key == "components:" { comps = $0 }
           key == "signed-by:" { signed = $0 }
           key == "enabled:" { enabled = tolower($0) }
           END { flush() }' "$f"
    done
  } | awk -F'\t' '$2 ~ /^bookworm/' | sort -u |
    while IFS=$'\t' read -r uri suite comps signed; do
      printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: %s\n' "$uri" "$suite" "$comps"
      [ -z "$signed" ] || printf 'Signed-By: %s\n' "$signed"
      echo
    done
}
src_wanted="# Made by tools/setup.sh from this machine's package sources: Debian bookworm's
# source packages, for the third-party libraries the build compiles.
$(deb_src_entries)"
need_src=""
[ "$(cat "$src_list" 2>/dev/null)" = "$src_wanted" ] || need_src=1
for s in libjpeg-turbo ffmpeg; do
  apt-cache showsrc "$s" >/dev/null 2>&1 || need_src=1
done
[ -z "$missing" ] && [ -z "$need_src" ] && exit 0
SUDO=""; [ "$(id -u)" = 0 ] || SUDO=sudo
if [ -n "$need_src" ]; then
  if ! grep -q '^URIs:' <<<"$src_wanted"; then
    echo "error: no Debian bookworm package source is configured in /etc/apt/sources.list or /etc/apt/sources.list.d/" >&2
    exit 1
  fi
  echo "Writing Debian bookworm's source index from this machine's package sources: $src_list"
  $SUDO tee "$src_list" >/dev/null <<<"$src_wanted"
fi
[ -n "$missing" ] && echo "Installing:$missing"
$SUDO apt-get update -qq
[ -z "$missing" ] || DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
