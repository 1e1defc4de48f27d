#!/bin/bash
# Sets up, builds the 64-bit viewer and the stand-in viewer control, registers
# the control in the build's own Wine prefix and starts the viewer there.
# The log file is written to build/win64/run/. Without a display the viewer
# runs in a virtual X server for DVV_RUN_SECONDS (default 15) seconds, a
# screenshot is saved as build/win64/run/screenshot.png, and the viewer is
# closed as a user would close it (so its log ends with the closing line).
set -e
cd "$(dirname "$0")/.."
tools/setup.sh
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target DorsaVantixViewer dorsaviewerctl

export WINEPREFIX="$PWD/build/win64/wineprefix" WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml="
WINE=/usr/lib/wine/wine64
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Creating the Wine prefix $WINEPREFIX (once)..."
  "$WINE" wineboot -i >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w
fi
exe="$PWD/build/win64/app/DorsaVantixViewer.exe"
dll="$PWD/build/win64/control/dorsaviewerctl.dll"
"$WINE" regsvr32 /s "$("$WINE" winepath -w "$dll" 2>/dev/null)"
# Let this Wine session end: the viewer's must start where its display is.
/usr/lib/wine/wineserver -w

run="$PWD/build/win64/run"
mkdir -p "$run"
cd "$run"
echo "Log files go to $run"
if [ -n "$DISPLAY" ]; then
  exec "$WINE" "$exe"
fi

export WINE exe
exec xvfb-run -a -s "-screen 0 1920x1080x24" bash -c '
  openbox >/dev/null 2>&1 &
  "$WINE" "$exe" &
  viewer=$!
  sleep "${DVV_RUN_SECONDS:-15}"
  import -window root screenshot.png && echo "Screenshot: $PWD/screenshot.png"
  "$WINE" taskkill /im DorsaVantixViewer.exe >/dev/null 2>&1 || true
  wait $viewer || true
  /usr/lib/wine/wineserver -k || true'
