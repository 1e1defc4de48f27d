# Boots the emulated PC once; sourced by tools/make-win32-pc.sh and
# tools/run-in-win32-pc.sh.
#
# pc_boot IMAGE JOBDIR SECONDS SNAPSHOT [TAG=PATH[:ro]]...
#   Boots IMAGE (the folder made by make-win32-pc.sh) under full-system
#   emulation, with JOBDIR shared as tag "job" (its job.sh is what the PC
#   runs) and each TAG=PATH shared read-write, or read-only with ":ro".
#   SNAPSHOT "on" keeps the image unchanged, "off" writes into it. No
#   network. The PC is stopped after SECONDS. Returns 0 when the job ran
#   (its exit code is in JOBDIR/exit-code), else says what went wrong on
#   stderr and returns 1.

pc_boot() {
  local image="$1" job="$2" seconds="$3" snapshot="$4"; shift 4
  local shares=() share tag path ro
  for share in "$@"; do
    tag="${share%%=*}"; path="${share#*=}"; ro=""
    case "$path" in *:ro) path="${path%:ro}"; ro=",readonly=on";; esac
    shares+=(-virtfs "local,path=$path,mount_tag=$tag,security_model=none$ro")
  done
  rm -f "$job/exit-code" "$job/job.log" "$job/console.log" "$job/qemu.log"
  # QEMU 7.2's emulated SMAP crashes the guest kernel on the iret of every
  # 32-bit Wine process: -smap.
  local rc=0
  timeout -k 30 "$seconds" qemu-system-x86_64 -accel tcg -cpu max,-smap -smp 1 -m 2048 \
    -nodefaults -no-user-config -display none -monitor none -nic none -no-reboot \
    -serial "file:$job/console.log" \
    -kernel "$image/vmlinuz" -initrd "$image/initrd.img" \
    -append "root=/dev/vda rw console=ttyS0 quiet panic=1 init=/sbin/dvv-pc-init" \
    -drive "file=$image/disk.img,format=raw,if=virtio,snapshot=$snapshot" \
    -virtfs "local,path=$job,mount_tag=job,security_model=none" "${shares[@]}" \
    </dev/null >"$job/qemu.log" 2>&1 || rc=$?

  local why=""
  if [ "$rc" = 124 ] || [ "$rc" = 137 ]; then
    why="the emulated PC did not finish within its time limit of $seconds s"
  elif [ "$rc" != 0 ]; then
    why="QEMU failed (exit code $rc): $(tail -5 "$job/qemu.log")"
  elif ! grep -q "^dvv-pc: booted" "$job/console.log" 2>/dev/null; then
    why="the emulated PC did not boot"
  elif ! grep -q "^dvv-pc: job started" "$job/console.log"; then
    why="the emulated PC could not mount the folder shared by the host"
  elif [ ! -f "$job/exit-code" ]; then
    why="the emulated PC stopped before its job ended"
  fi
  [ -z "$why" ] && return 0
  {
    echo "error: $why."
    echo "--- the PC's console (last lines of $job/console.log):"
    tail -20 "$job/console.log" 2>/dev/null
    if [ -s "$job/job.log" ]; then
      echo "--- the job's output (last lines of $job/job.log):"
      tail -20 "$job/job.log"
    fi
  } >&2
  return 1
}
