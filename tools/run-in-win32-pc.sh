#!/bin/bash
# run-in-win32-pc.sh [-t SECONDS] BUILDDIR OUTDIR COMMAND [ARG...]
# Runs COMMAND in the emulated PC (made once by tools/make-win32-pc.sh), where
# 32-bit Windows programs run: boots it with its disk left unchanged, with
# this source tree (read-only), BUILDDIR and OUTDIR shared in at the same
# paths as here, and runs COMMAND in BUILDDIR in a Wine session (32-bit Wine,
# the PC's own prefix, a virtual X server with openbox), then powers it off.
# COMMAND's output is printed afterwards; OUTDIR keeps it (job.log), the PC's
# console (console.log) and whatever COMMAND writes to $DVV_PC_OUT. Exits
# with COMMAND's exit code, or 1 with the reason when the PC did not boot,
# could not share the folders, has no prefix, or ran past SECONDS (the
# whole run, boot included; default 3600).
set -e
seconds=3600
if [ "$1" = -t ]; then
  seconds="$2"; shift 2
fi
if [ $# -lt 3 ]; then
  echo "usage: $0 [-t SECONDS] BUILDDIR OUTDIR COMMAND [ARG...]" >&2
  exit 2
fi
source="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "$1" && pwd)"
out="$2"; shift 2

# OUTDIR is made afresh, but only when it is empty or one of ours.
if [ -e "$out" ] && [ ! -f "$out/.dvv-pc-out" ] && [ -n "$(ls -A "$out")" ]; then
  echo "error: $out is not an output folder of this script; it is left alone" >&2
  exit 2
fi
rm -rf --one-file-system "$out"
mkdir -p "$out"
out="$(cd "$out" && pwd)"
touch "$out/.dvv-pc-out"

image="$("$source/tools/make-win32-pc.sh")"
source "$source/tools/win32-pc/boot.sh"

{
  echo 'fail() { echo "dvv-pc: error: $*"; exit 125; }'
  echo 'share() { mkdir -p "$2" && mount -t 9p -o "trans=virtio,version=9p2000.L,msize=262144,cache=loose$3" "$1" "$2" || fail "cannot mount the host folder $2"; }'
  printf 'share src %q ,ro\n' "$source"
  printf 'share build %q\n' "$build"
  printf 'mkdir -p %q && mount --bind /dvv/job %q || fail "cannot mount %q"\n' "$out" "$out" "$out"
  printf 'export HOME=/root LANG=C.UTF-8 DVV_WINE=/usr/lib/wine/wine DVV_WINEPREFIX=/opt/dvv/wineprefix DVV_PC_OUT=%q\n' "$out"
  echo '[ -f "$DVV_WINEPREFIX/system.reg" ] || fail "the image has no Wine prefix ($DVV_WINEPREFIX)"'
  printf 'cd %q\n' "$build"
  printf 'exec %q %q' "$source/tools/with-wine-session.sh" "$build"
  printf ' %q' "$@"
  echo
} >"$out/job.sh"

echo "Running in the emulated PC (time limit $seconds s): $*"
start=$SECONDS
pc_boot "$image" "$out" "$seconds" on src="$source:ro" build="$build" || exit 1
rc="$(cat "$out/exit-code")"
cat "$out/job.log"
if grep -q "^dvv-pc: error: " "$out/job.log"; then
  echo "error: $(sed -n 's/^dvv-pc: error: //p' "$out/job.log" | tail -1)" >&2
  exit 1
fi
echo "The emulated PC ran for $(( SECONDS - start )) s; exit code $rc."
exit "$rc"
