#!/bin/bash
# wine-prefix.sh: makes the Wine prefix $WINEPREFIX ready for the viewer and
# its tests, once, under a lock: created alone (concurrent first starts
# fail), Wine's crash debugger off (a crashing program must end, so its test
# fails instead of hanging), and fonts that fit the program's dialogs.
# Settings already made are not made again.
set -e
: "${WINEPREFIX:?WINEPREFIX must name the prefix}"
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
WINE=/usr/lib/wine/wine64
# Raise this when the settings below change: existing prefixes take them then.
SETTINGS=fonts-1
[ -f "$WINEPREFIX/.dvv-$SETTINGS" ] && exit 0

mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
[ -f "$WINEPREFIX/.dvv-$SETTINGS" ] && exit 0
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Creating the Wine prefix $WINEPREFIX (once)..."
  "$WINE" wineboot -i >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w
fi
reg() { "$WINE" reg add "$@" /f >/dev/null 2>&1; }
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
touch "$WINEPREFIX/.dvv-$SETTINGS"
