#!/bin/bash
# make-wine-prefix.sh PREFIX: makes the Wine prefix PREFIX ready for the viewer
# and its tests, once, under a lock (tests starting together must not all
# create it): created, Wine's crash debugger off, and fonts that fit the
# program's dialogs. $DVV_WINE is the loader: 64-bit here, 32-bit in the
# emulated PC.
set -e
export WINEPREFIX="$1"
WINE="${DVV_WINE:-/usr/lib/wine/wine64}"
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml="
# Named after the settings below: a prefix made before them takes them too.
ready="$WINEPREFIX/.dvv-ready-fonts"
[ -f "$ready" ] && exit 0
mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9
  [ -f "$ready" ] && exit 0
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the Wine prefix $WINEPREFIX (once)..."
    "$WINE" wineboot -i >/dev/null 2>&1 || true
    /usr/lib/wine/wineserver -w
    [ -f "$WINEPREFIX/system.reg" ] || { echo "error: Wine could not create the prefix $WINEPREFIX" >&2; exit 1; }
  fi
  # On a busy machine a setting in a prefix just made is now and then refused
  # (twice in four fresh runs beside another): it is tried again first.
  reg() {
    local try
    for try in 1 2 3; do
      "$WINE" reg add "$@" /f >/dev/null 2>&1 && return 0
      /usr/lib/wine/wineserver -w
    done
    echo "error: could not set $* in $WINEPREFIX" >&2
    exit 1
  }
  # A crashing program must end, not wait in Wine's debugger: a test then
  # fails instead of hanging until its time-out.
  reg 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ /d ""
  # The dialogs are laid out for the platform's dialog font at 8 points. Wine
  # gives that name to a face of its own (or whatever fontconfig offers) whose
  # text runs wider than the dialog units it yields: labels then wrap and lose
  # their second line. Carlito keeps the text within them. The log popup asks
  # for a monospaced face that Wine lacks, and would get a proportional one.
  subst='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes'
  reg "$subst" /v "MS Shell Dlg" /t REG_SZ /d "Carlito"
  reg "$subst" /v "MS Shell Dlg 2" /t REG_SZ /d "Carlito"
  reg "$subst" /v "Lucida Console" /t REG_SZ /d "DejaVu Sans Mono"
  /usr/lib/wine/wineserver -w
  touch "$ready"
) 9>"$WINEPREFIX.lock"
