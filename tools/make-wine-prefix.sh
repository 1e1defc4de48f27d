#!/bin/bash
# make-wine-prefix.sh PREFIX: creates the Wine prefix PREFIX once (under a lock,
# so tests starting together don't all create it) and turns off Wine's crash
# debugger there. $DVV_WINE is the loader: 64-bit here, 32-bit in the emulated PC.
set -e
export WINEPREFIX="$1"
WINE="${DVV_WINE:-/usr/lib/wine/wine64}"
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$WINEPREFIX/.no-crash-debugger" ] && exit 0
mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the Wine prefix $WINEPREFIX (once)..."
    "$WINE" wineboot -i >/dev/null 2>&1 || true
    /usr/lib/wine/wineserver -w
    [ -f "$WINEPREFIX/system.reg" ] || { echo "error: Wine could not create the prefix $WINEPREFIX" >&2; exit 1; }
  fi
  # A crashing program must end, not wait in Wine's debugger: a test then
  # fails instead of hanging until its time-out.
  if [ ! -f "$WINEPREFIX/.no-crash-debugger" ]; then
    "$WINE" reg add "HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug" \
      /v Debugger /t REG_SZ /d "" /f >/dev/null 2>&1 ||
      { echo "error: could not turn off the crash debugger in $WINEPREFIX" >&2; exit 1; }
    /usr/lib/wine/wineserver -w
    touch "$WINEPREFIX/.no-crash-debugger"
  fi
) 9>"$WINEPREFIX.lock"
