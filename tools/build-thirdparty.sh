#!/bin/bash
# build-thirdparty.sh NAME TRIPLET: builds, once, the third-party library NAME
# for the mingw-w64 target TRIPLET (x86_64-w64-mingw32, i686-w64-mingw32) from
# Debian bookworm's source package, and prints the folder that holds it
# (include/, lib/ with the import libraries, bin/ with the DLLs).
#
# The recipe is tools/thirdparty/NAME.sh: it names the source package
# (package=), the versions it builds (version_pattern=, matched against apt's
# source index) and how (a function build SRC PREFIX TRIPLET). The folder lives
# in $DVV_DEPS_CACHE (default /var/cache/dorsa-vantix-viewer/thirdparty),
# outside every build tree and clone, named NAME-TRIPLET-HASH by a hash of
# this script, the recipe, the source version and the compiler: a change to
# one of them makes a new one, and the old ones are removed. The build works
# in a temporary folder under a lock and renames it only when it is complete:
# a failed or interrupted attempt leaves nothing, and two runs build it once.
# DVV_DEPS_JOBS (default 2) compile jobs.
set -e
here="$(cd "$(dirname "$0")" && pwd)"
name="$1" triplet="$2"
recipe="$here/thirdparty/$name.sh"
if [ -z "$triplet" ] || [ ! -f "$recipe" ]; then
  echo "usage: $0 NAME TRIPLET (NAME: one of $(cd "$here/thirdparty" && ls *.sh | sed 's/\.sh$//' | xargs))" >&2
  exit 2
fi
cache="${DVV_DEPS_CACHE:-/var/cache/dorsa-vantix-viewer/thirdparty}"
say() { echo "build-thirdparty: $*" >&2; }
source "$recipe"

version="$(apt-cache showsrc "$package" 2>/dev/null | sed -n 's/^Version: //p' | grep -E "$version_pattern" | sort -V | tail -1)"
if [ -z "$version" ]; then
  say "error: apt knows no source of $package matching $version_pattern: run tools/setup.sh (it makes Debian bookworm's source index)"
  exit 1
fi
compiler="$("$triplet-gcc-posix" --version | head -1)"
hash=$( { cat "$0" "$recipe"; echo "$version"; echo "$compiler"; } | sha256sum | cut -c1-16)
out="$cache/$name-$triplet-$hash"
if [ -f "$out/recipe.txt" ]; then
  echo "$out"
  exit 0
fi
if [ ! -w "$(dirname "$cache")" ] && [ ! -w "$cache" ] && [ "$(id -u)" != 0 ]; then
  exec sudo --preserve-env=DVV_DEPS_CACHE,DVV_DEPS_JOBS "$0" "$@"
fi

mkdir -p "$cache"
exec 9>"$cache/$name-$triplet.lock"
flock 9
# Another run may have built it while this one waited.
if [ -f "$out/recipe.txt" ]; then
  echo "$out"
  exit 0
fi
work="$(mktemp -d "$cache/making-$name-$triplet-XXXXXX")"
trap 'rm -rf --one-file-system "$work"' EXIT
trap 'exit 1' INT TERM
# step LOG COMMAND...: runs one step with its output in LOG, shown when it fails.
step() {
  local log="$work/$1.log"; shift
  if ! "$@" >"$log" 2>&1; then
    say "error: $name for $triplet: '$*' failed; the last lines of its output:"
    tail -40 "$log" >&2
    exit 1
  fi
}
start=$SECONDS
say "building $name $version for $triplet into $out (once per recipe)"
mkdir "$work/download"
chmod 777 "$work/download" # apt's download user writes there
step download bash -c "cd '$work/download' && apt-get source --download-only -qq '$package=$version'"
step unpack dpkg-source --no-check -x "$work"/download/*.dsc "$work/src"
step build bash -ec "source '$recipe'; build '$work/src' '$work/prefix' '$triplet'"
{
  echo "$name $version for $triplet, built by tools/build-thirdparty.sh with tools/thirdparty/$name.sh"
  echo "compiler: $compiler"
  echo "seconds: $(( SECONDS - start ))"
} >"$work/prefix/recipe.txt"
mv "$work/prefix" "$out"
for old in "$cache/$name-$triplet"-*; do
  [ "$old" = "$out" ] || [ "${old%.lock}" != "$old" ] || rm -rf --one-file-system "$old"
done
say "built $name for $triplet in $(( SECONDS - start )) s"
echo "$out"
