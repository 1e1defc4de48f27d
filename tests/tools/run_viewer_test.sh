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

# With --rtsp: the test RTSP camera's plug-in goes beside the kept one, and
# the camera ends with the script.
port=$((20000 + RANDOM % 20000))
env -u DISPLAY -u DVV_IN_XVFB DVV_WINEPREFIX="$tmp/prefix" DVV_RUN_SECONDS=1 \
  DVV_RTSP_PORT=$port "$src/tools/run-viewer.sh" --rtsp
cmp "$tmp/before" "$plugins/mjpeg-http.plugin"
grep -qx 'url=rtsp://{ip}:{port}/h264' "$plugins/rtsp.plugin"
if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
  echo "The test RTSP camera still serves on port $port after the script ended."
  exit 1
fi
echo "The RTSP camera's plug-in was written and the camera has ended."
