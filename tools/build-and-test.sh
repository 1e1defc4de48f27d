#!/bin/bash
# Installs what is missing, builds both presets (win64 and win32) and runs
# every test: the win64 tests under Wine in a virtual X server with a window
# manager; the host-side checks of the win32 build, and its test programs in
# the emulated PC (made once per machine, meanwhile the builds run;
# DVV_SKIP_WIN32_PC=1 leaves it out for a quick local run). Arguments go to
# the win64 stage's ctest.
set -e
cd "$(dirname "$0")/.."
tools/setup.sh

pc_log="$(mktemp)"
trap 'rm -f "$pc_log"' EXIT
if [ -z "$DVV_SKIP_WIN32_PC" ]; then
  tools/make-win32-pc.sh >"$pc_log" 2>&1 &
  pc_maker=$!
fi

for p in win64 win32; do
  cmake --preset $p >/dev/null
  cmake --build --preset $p
done

rc=0
start=$SECONDS
tools/with-wine-session.sh build/win64 ctest --preset win64 "$@" || rc=1
echo "win64 tests: $(( SECONDS - start )) s"

start=$SECONDS
if [ -n "$DVV_SKIP_WIN32_PC" ]; then
  echo "DVV_SKIP_WIN32_PC is set: the 32-bit test programs are not run."
  ctest --preset win32 -LE '^pc$' || rc=1
elif ! wait "$pc_maker"; then
  cat "$pc_log"
  echo "error: the emulated PC could not be made: the 32-bit test programs are not run."
  ctest --preset win32 -LE '^pc$' || true
  rc=1
else
  cat "$pc_log"
  ctest --preset win32 || rc=1
fi
echo "win32 tests: $(( SECONDS - start )) s"
exit $rc
