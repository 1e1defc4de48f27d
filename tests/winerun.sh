#!/bin/bash
# Runs one Windows program under Wine for CTest: winerun.sh PREFIX PROGRAM [ARGS...]
# Uses the build tree's own Wine prefix, created once; with no display it
# wraps itself in a virtual X server (tools/build-and-test.sh provides one for
# the whole run, so this is only the fallback). DVV_WINE is the loader (the
# 32-bit one in the emulated PC).
set -e
export WINEPREFIX="$1"; shift
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
WINE="${DVV_WINE:-/usr/lib/wine/wine64}"
"$(dirname "$0")/../tools/make-wine-prefix.sh" "$WINEPREFIX"

if [ -z "$DISPLAY" ]; then
  exec xvfb-run -a -s "-screen 0 1920x1080x24" "$0" "$WINEPREFIX" "$@"
fi
# Wine's services must not inherit the test's output pipes (CTest would wait
# for them): make sure they run before the test starts.
"$WINE" wineboot </dev/null >/dev/null 2>&1 || true
# A test may ask for a file size limit (a disk that fills up), for the program
# alone: writing past it then fails instead of ending the process.
if [ -n "$DVV_FILE_SIZE_LIMIT_KB" ]; then
  ulimit -f "$DVV_FILE_SIZE_LIMIT_KB"
  trap '' XFSZ
fi
exec "$WINE" "$@"
