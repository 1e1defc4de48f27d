# Sourced, inside the emulated PC, by the list of 32-bit test programs that
# CMake makes (pc-tests.sh): dvv_test runs one of them with tests/winerun.sh
# in the PC's Wine session, its output to $DVV_PC_OUT/NAME.out and its exit
# code to NAME.rc, where tests/pcresult.sh reads them back on the host.

# dvv_test NAME SECONDS FOLDER [VAR=value...] -- PROGRAM [ARG...]
dvv_test() {
  local name="$1" seconds="$2" folder="$3" vars=() rc=0 start=$SECONDS
  shift 3
  while [ "$1" != -- ]; do
    vars+=("$1"); shift
  done
  shift
  (cd "$folder" && exec env "${vars[@]}" timeout -k 10 "$seconds" \
     "$(dirname "${BASH_SOURCE[0]}")/winerun.sh" "$WINEPREFIX" "$@") \
    </dev/null >"$DVV_PC_OUT/$name.out" 2>&1 || rc=$?
  if [ "$rc" = 124 ] || [ "$rc" = 137 ]; then
    echo "error: $name did not end within $seconds s in the emulated PC" >>"$DVV_PC_OUT/$name.out"
    # What it started must not disturb the next program.
    /usr/lib/wine/wineserver -k
  fi
  echo "$rc" >"$DVV_PC_OUT/$name.rc"
  echo "$name: exit code $rc, $(( SECONDS - start )) s"
}
