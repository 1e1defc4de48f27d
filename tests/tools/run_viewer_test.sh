#!/bin/bash
# tools/run-viewer.sh keeps a plug-in already in the viewer's plug-in folder
# byte for byte (it may name the user's own camera), and the viewer still
# shows the simulated camera through it.
set -e
src="$1"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
plugins="$tmp/prefix/drive_c/Program Files/Dorsa/API/Libs/Debug"
mkdir -p "$plugins"
printf '# My own camera\r\nurl=http://{ip}:{port}/video{channel}.mjpg\r\nuser=me\r\npassword=s3cret #1\r\n' \
  > "$plugins/mjpeg-http.plugin"
cp "$plugins/mjpeg-http.plugin" "$tmp/before"
env -u DISPLAY -u DVV_IN_XVFB DVV_WINEPREFIX="$tmp/prefix" DVV_RUN_SECONDS=1 \
  DVV_CAMERA_PORT=$((20000 + RANDOM % 20000)) "$src/tools/run-viewer.sh"
cmp "$tmp/before" "$plugins/mjpeg-http.plugin"
echo "The plug-in is as it was."
