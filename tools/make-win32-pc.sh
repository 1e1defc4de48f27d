#!/bin/bash
# make-win32-pc.sh: makes, once, the emulated PC that runs the 32-bit build,
# and prints the folder that holds it: a Debian 12 disk image (disk.img) with
# 32-bit Wine, Xvfb and openbox, made from Debian's packages only, with a
# 32-bit Wine prefix created in it, and the PC's kernel and initrd.
#
# The folder lives in $DVV_PC_CACHE (default /var/cache/dorsa-vantix-viewer/
# win32-pc), outside any build tree, named by a hash of this recipe: this
# script, the PC's first process (win32-pc/init) and make-wine-prefix.sh. A
# change to one of them makes a new image; the old ones are removed. Needs
# root (debootstrap, chroot); takes about 15 minutes on 2 cores.
set -e
here="$(cd "$(dirname "$0")" && pwd)"
cache="${DVV_PC_CACHE:-/var/cache/dorsa-vantix-viewer/win32-pc}"
RELEASE=bookworm
MIRROR=http://deb.debian.org/debian
SECURITY=http://deb.debian.org/debian-security
# Generous: creating the prefix takes about a minute when the machine is idle.
PREFIX_SECONDS=1200
PACKAGES="linux-image-amd64 kmod iproute2 procps tzdata xvfb xauth openbox fonts-wine
  fonts-crosextra-carlito fonts-dejavu-core
  wine wine32:i386 libxcomposite1:i386 libxcursor1:i386 libxfixes3:i386 libxi6:i386
  libxinerama1:i386 libxrandr2:i386 libxrender1:i386 libxxf86vm1:i386"

hash=$(cat "$0" "$here/win32-pc/init" "$here/make-wine-prefix.sh" | sha256sum | cut -c1-16)
image="$cache/image-$hash"
if [ -f "$image/disk.img" ]; then
  echo "$image"
  exit 0
fi
if [ "$(id -u)" != 0 ]; then
  exec sudo --preserve-env=DVV_PC_CACHE "$0" "$@"
fi

mkdir -p "$cache"
exec 9>"$cache/lock"
flock 9
# Another run may have made it while this one waited.
if [ -f "$image/disk.img" ]; then
  echo "$image"
  exit 0
fi

source "$here/win32-pc/boot.sh"
work="$(mktemp -d "$cache/making-XXXXXX")"
root="$work/root"
cleanup() {
  mountpoint -q "$root/proc" && umount "$root/proc"
  rm -rf --one-file-system "$work"
}
trap cleanup EXIT
say() { echo "make-win32-pc: $*" >&2; }
# step LOG COMMAND...: runs one step with its output in LOG, shown when it fails.
step() {
  local log="$work/$1.log"; shift
  if ! "$@" >"$log" 2>&1; then
    say "error: '$*' failed; the last lines of its output:"
    tail -30 "$log" >&2
    exit 1
  fi
}
in_root() {
  chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"
}

start=$SECONDS
say "making the emulated PC $image (once per recipe)"
say "debootstrap $RELEASE from $MIRROR..."
step debootstrap debootstrap --variant=minbase "$RELEASE" "$root" "$MIRROR"
cat >"$root/etc/apt/sources.list" <<SOURCES
deb $MIRROR $RELEASE main
deb $MIRROR $RELEASE-updates main
deb $SECURITY $RELEASE-security main
SOURCES
printf '127.0.0.1\tlocalhost\n127.0.1.1\tdvv-pc\n' >"$root/etc/hosts"
echo dvv-pc >"$root/etc/hostname"
mount -t proc proc "$root/proc"
say "installing Wine, Xvfb, openbox and a kernel..."
step multiarch in_root dpkg --add-architecture i386
step update in_root apt-get update
# The initrd needs only the disk and its file system; it is made with the kernel.
step initramfs in_root apt-get install -y --no-install-recommends initramfs-tools
sed -i 's/^MODULES=.*/MODULES=list/' "$root/etc/initramfs-tools/initramfs.conf"
printf 'virtio_pci\nvirtio_blk\next4\n' >>"$root/etc/initramfs-tools/modules"
# shellcheck disable=SC2086
step install in_root apt-get install -y --no-install-recommends $PACKAGES
step clean in_root apt-get clean
rm -rf "$root"/var/lib/apt/lists/*
umount "$root/proc"
install -m 755 "$here/win32-pc/init" "$root/sbin/dvv-pc-init"
install -m 755 "$here/make-wine-prefix.sh" "$root/usr/local/bin/make-wine-prefix.sh"
cp "$root"/boot/vmlinuz-* "$work/vmlinuz"
cp "$root"/boot/initrd.img-* "$work/initrd.img"
# Room for the prefix and what the tests write.
size=$(( $(du -sm "$root" | cut -f1) + 1536 ))
say "making the disk image (${size} MB)..."
step mkfs mkfs.ext4 -q -L dvv-pc -d "$root" "$work/disk.img" "${size}M"
rm -rf --one-file-system "$root"

say "creating the 32-bit Wine prefix inside the emulated PC..."
cat >"$work/job.sh" <<'JOB'
export HOME=/root WINEARCH=win32 DVV_WINE=/usr/lib/wine/wine
/usr/local/bin/make-wine-prefix.sh /opt/dvv/wineprefix
JOB
pc_boot "$work" "$work" "$PREFIX_SECONDS" off || exit 1
if [ "$(cat "$work/exit-code")" != 0 ]; then
  say "error: creating the Wine prefix failed:"
  tail -30 "$work/job.log" >&2
  exit 1
fi

mkdir "$work/image"
mv "$work/disk.img" "$work/vmlinuz" "$work/initrd.img" "$work/image/"
mv "$work/image" "$image"
# Images of older recipes are no longer used.
for old in "$cache"/image-*; do
  [ "$old" = "$image" ] || rm -rf --one-file-system "$old"
done
say "made in $(( SECONDS - start )) s"
echo "$image"
