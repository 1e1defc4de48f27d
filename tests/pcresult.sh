#!/bin/bash
# pcresult.sh RESULTS NAME: CTest's view of the 32-bit test program NAME,
# which ran in the emulated PC (the test win32_pc_run): prints what it printed
# there and exits with its exit code.
if [ ! -f "$1/$2.rc" ]; then
  echo "error: $2 has no result from the emulated PC in $1 (see the test win32_pc_run)"
  exit 1
fi
cat "$1/$2.out"
exit "$(cat "$1/$2.rc")"
