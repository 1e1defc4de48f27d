#!/bin/bash
# Installs what is missing, builds both presets (win64 and win32) and runs
# every test: the win64 tests under Wine in a virtual X server with a window
# manager, and the host-side checks of the win32 build.
set -e
cd "$(dirname "$0")/.."
tools/setup.sh

for p in win64 win32; do
  cmake --preset $p >/dev/null
  cmake --build --preset $p
done

rc=0
ctest --preset win32 || rc=1
tools/with-wine-session.sh build/win64 ctest --preset win64 "$@" || rc=1
exit $rc
