#!/bin/bash
# Sets up, builds the 64-bit viewer, the stand-in viewer control and the
# simulated camera, registers the control in the build's own Wine prefix,
# installs the mjpeg-http plug-in in the viewer's default plug-in folder there
# (only when that folder has none: a plug-in already there is kept as it is),
# starts the simulated camera on 127.0.0.1:${DVV_CAMERA_PORT:-8080} and then the
# viewer. Log files go to build/win64/run/. Without a display everything runs
# in a virtual X server: the viewer is connected to the camera as a user would
# (address 127.0.0.1, the camera's port, Connect), watched for DVV_RUN_SECONDS
# (default 15) seconds, a screenshot is saved as build/win64/run/screenshot.png,
# and the viewer is closed as a user would close it. DVV_WINEPREFIX names
# another Wine prefix to run in.
#
# With --rtsp the camera is the test RTSP camera instead (GStreamer's RTSP
# server, tests/rtspcamera/rtspcamera.py, 1280x720 at 25 pictures a second,
# H.264) on 127.0.0.1:${DVV_RTSP_PORT:-8554}, and the plug-in written (on the
# same terms) is rtsp.plugin.
set -e
cd "$(dirname "$0")/.."
rtsp=""
case "$1" in
  --rtsp) rtsp=1 ;;
  "") ;;
  *) echo "usage: $0 [--rtsp]" >&2; exit 2 ;;
esac
tools/setup.sh
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target DorsaVantixViewer dorsaviewerctl simcamera viewerpilot

export WINEPREFIX="${DVV_WINEPREFIX:-$PWD/build/win64/wineprefix}" WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml="
WINE=/usr/lib/wine/wine64
tools/make-wine-prefix.sh "$WINEPREFIX"
exe="$PWD/build/win64/app/DorsaVantixViewer.exe"
dll="$PWD/build/win64/control/dorsaviewerctl.dll"
camera="$PWD/build/win64/simcamera/simcamera.exe"
pilot="$PWD/build/win64/tests/ui/viewerpilot.exe"
rtspcamera="$PWD/tests/rtspcamera/rtspcamera.py"
port="${DVV_CAMERA_PORT:-8080}"
plugin=mjpeg-http.plugin
plugin_text='# The simulated camera (tools/run-viewer.sh)\nurl=http://{ip}:{port}/video{channel}.mjpg\n'
camera_name="Simulated camera"
if [ -n "$rtsp" ]; then
  port="${DVV_RTSP_PORT:-8554}"
  plugin=rtsp.plugin
  plugin_text='# The test RTSP camera (tools/run-viewer.sh --rtsp)\nurl=rtsp://{ip}:{port}/h264\n'
  camera_name="Test RTSP camera"
fi
"$WINE" regsvr32 /s "$("$WINE" winepath -w "$dll" 2>/dev/null)"
# The plug-in, where the viewer's Plugin Directory starts, unless one is
# there already: that one may name the user's own camera, and is kept as it is.
plugins="$WINEPREFIX/drive_c/Program Files/Dorsa/API/Libs/Debug"
mkdir -p "$plugins"
if ( set -C; printf "$plugin_text" > "$plugins/$plugin" ) 2>/dev/null; then
  echo "Plug-in for the camera written: $plugins/$plugin"
else
  echo "Kept the plug-in already in $plugins: $plugin (the camera needs $(printf "$plugin_text" | grep '^url='))"
fi
# Let this Wine session end: the viewer's must start where its display is.
/usr/lib/wine/wineserver -w

run="$PWD/build/win64/run"
mkdir -p "$run"
cd "$run"
echo "Log files go to $run"
echo "$camera_name: type 127.0.0.1 as Camera IP Address, $port as Port, 1 as Channel, then Connect."
if [ -n "$rtsp" ]; then
  # The demo's picture: a moving test pattern with the time, without the tests' markers.
  rm -f rtspcamera.ready
  /usr/bin/python3 "$rtspcamera" --port "$port" --size 1280x720 --fps 25 \
    --port-file rtspcamera.ready > rtspcamera.log 2>&1 &
  rtsp_pid=$!
  trap 'kill "$rtsp_pid" 2>/dev/null && wait "$rtsp_pid" 2>/dev/null || true' EXIT
  for i in $(seq 300); do
    [ -f rtspcamera.ready ] || ! kill -0 "$rtsp_pid" 2>/dev/null && break; sleep 0.1
  done
  [ -f rtspcamera.ready ] || { cat rtspcamera.log; echo "The test RTSP camera did not start"; exit 1; }
  cat rtspcamera.ready
  # The RTSP camera is already serving; the simulated camera is not started.
  camera=""
fi
if [ -n "$DISPLAY" ]; then
  if [ -n "$camera" ]; then
    "$WINE" "$camera" --port "$port" &
    trap '"$WINE" taskkill /im simcamera.exe >/dev/null 2>&1 || true' EXIT
  fi
  "$WINE" "$exe"
  exit 0
fi

export WINE exe camera pilot port
xvfb-run -a -s "-screen 0 1920x1080x24" bash -c '
  openbox >/dev/null 2>&1 &
  [ -z "$camera" ] || "$WINE" "$camera" --port "$port" &
  sleep 2
  "$WINE" "$pilot" "$("$WINE" winepath -w "$PWD" 2>/dev/null)" "$port" || rc=$?
  sleep "${DVV_RUN_SECONDS:-15}"
  import -window root screenshot.png && echo "Screenshot: $PWD/screenshot.png"
  "$WINE" taskkill /im DorsaVantixViewer.exe >/dev/null 2>&1 || true
  # Its closing line ends the log when it has gone.
  for i in $(seq 50); do
    grep -q "Main window closed" "$(ls -t Dorsa*.log | head -1)" 2>/dev/null && break; sleep 0.2
  done
  /usr/lib/wine/wineserver -k || true
  exit ${rc:-0}' || exit $?
