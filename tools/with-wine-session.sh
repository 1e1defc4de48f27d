#!/bin/bash
# with-wine-session.sh BUILDDIR COMMAND...: runs COMMAND with the build tree's
# Wine prefix created and kept warm (one wineserver for the whole run, shut
# down after), inside a virtual X server with openbox when no display is set.
# In the emulated PC, DVV_WINE (the 32-bit loader) and DVV_WINEPREFIX (the
# PC's own prefix) take the place of the 64-bit loader and the tree's prefix.
set -e
build="$(cd "$1" && pwd)"; shift
tools="$(cd "$(dirname "$0")" && pwd)"
export WINEPREFIX="${DVV_WINEPREFIX:-$build/wineprefix}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
WINE="${DVV_WINE:-/usr/lib/wine/wine64}"
"$tools/make-wine-prefix.sh" "$WINEPREFIX"

if [ -z "$DISPLAY" ] && [ -z "$DVV_IN_XVFB" ]; then
  export DVV_IN_XVFB=1
  exec xvfb-run -a -s "-screen 0 1920x1080x24" "$0" "$build" "$@"
fi

cleanup() {
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  [ -n "$wm" ] && kill "$wm" 2>/dev/null || true
}
trap cleanup EXIT
wm=""
if [ -n "$DVV_IN_XVFB" ]; then
  openbox >/dev/null 2>&1 & wm=$!
fi
/usr/lib/wine/wineserver -p
# Start Wine's own services now, detached from our output: started by the
# first test they would inherit its pipes and keep CTest waiting.
"$WINE" wineboot </dev/null >/dev/null 2>&1 || true
"$@"
