#!/usr/bin/env bash
# Wine 10 beside the system's Wine 8: a Debian trixie chroot under the build
# directory (mmdebstrap, a few minutes and about 2.5 GB the first time), with
# Wine 10 and wine32, Xvfb, xdotool, ImageMagick, the fonts and the zh_CN and
# zh_TW locales.  Trixie installs wine32:i386 from one suite, which Debian 12
# cannot always do (its security suite's i386 index may be missing).
#
#   tools/wine10.sh prepare BUILD           build the chroot, or reuse it, and log its Wine version
#   tools/wine10.sh run BUILD [--no-wine32] CMD...
#                                           run CMD in it (as root, in the current directory)
#
# prepare never fails the run: a chroot that cannot be built (no network, no
# root, no mmdebstrap) is recorded in BUILD/wine10/status with the reason,
# and `run` then exits 77 with that reason (ctest counts the test skipped).
# `run` makes its mounts (/proc, /dev, /sys, the source tree) in a mount
# namespace of its own: they end with it, even when the run is killed, and
# the host never sees them.  --no-wine32 hides the 32-bit loader, so that
# Wine starts no 32-bit program (as Wine 8 without wine32 does).
set -euo pipefail
src=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
command=${1:-}
build=$(realpath -m "${2:-}")
shift 2 || { echo "usage: $0 prepare|run BUILD ..." >&2; exit 2; }
home=$build/trixie
root=$home/root
status=$home/status
mirror=${VORN_TRIXIE_MIRROR:-http://deb.debian.org/debian}
packages=(wine wine64 wine32:i386 xvfb xdotool imagemagick fonts-wqy-zenhei fonts-arphic-uming
          fonts-arphic-ukai locales python3 mount)
stamp="trixie ${packages[*]} zh_CN.UTF-8 zh_TW.UTF-8"

unavailable() {
  echo "unavailable: $*" >"$status"
  echo "wine10: Wine 10 is not available, its tests are skipped: $*"
}

# The command line of a program in the chroot, with what it needs mounted.
in_chroot() {
  local hide=$1
  shift
  unshare --mount --propagation private -- /bin/bash -c '
    set -e
    root=$1 src=$2 build=$3 hide=$4
    shift 4
    mount -t proc proc "$root/proc"
    mount --rbind /dev "$root/dev"
    mount --rbind /sys "$root/sys"
    for dir in "$src" "$build"; do
      mkdir -p "$root$dir"
      mount --bind "$dir" "$root$dir"
    done
    if [[ $hide == 1 ]]; then
      mount --bind /dev/null "$root/usr/lib/wine/wine"
    fi
    cwd=$PWD
    exec chroot "$root" /bin/sh -c "cd \"\$0\" 2>/dev/null || cd /; exec \"\$@\"" "$cwd" "$@"
  ' bash "$root" "$src" "$build" "$hide" "$@"
}

prepare() {
  mkdir -p "$home"
  if [[ -f $root/.vorn-stamp && $(cat "$root/.vorn-stamp") == "$stamp" ]]; then
    echo "wine10: reusing the chroot at $root"
  else
    if [[ $(id -u) -ne 0 ]]; then
      unavailable "building the chroot needs root"
      return 0
    fi
    if ! command -v mmdebstrap >/dev/null; then
      unavailable "mmdebstrap is not installed (tools/install_deps.sh installs it)"
      return 0
    fi
    rm -rf "$root" "$home/root.new"
    local include hook attempt ok=0
    include=$(IFS=,; echo "${packages[*]}")
    hook='printf "zh_CN.UTF-8 UTF-8\nzh_TW.UTF-8 UTF-8\n" >"$1/etc/locale.gen" && chroot "$1" locale-gen'
    echo "wine10: building a Debian trixie chroot with Wine 10 at $root (log: $home/mmdebstrap.log)"
    for attempt in 1 2 3; do
      # Its own mount namespace: whatever mmdebstrap mounts ends with it.
      if unshare --mount --propagation private -- mmdebstrap --variant=apt --architectures=amd64,i386 \
           --include="$include" --customize-hook="$hook" trixie "$home/root.new" "$mirror" \
           >"$home/mmdebstrap.log" 2>&1; then
        ok=1
        break
      fi
      echo "wine10: mmdebstrap failed (attempt $attempt): $(tail -n 1 "$home/mmdebstrap.log")"
      rm -rf "$home/root.new"
      sleep $((attempt * 10))
    done
    if (( !ok )); then
      unavailable "the trixie chroot could not be built (no network or no mirror?): $(tail -n 1 "$home/mmdebstrap.log")"
      return 0
    fi
    echo "$stamp" >"$home/root.new/.vorn-stamp"
    mv "$home/root.new" "$root"
  fi
  local version
  if ! version=$(in_chroot 0 /usr/lib/wine/wine64 --version 2>&1); then
    unavailable "Wine in the chroot does not start: $version"
    return 0
  fi
  echo "ready: $version" >"$status"
  echo "wine10: $version in $root"
}

run() {
  local hide=0
  if [[ ${1:-} == --no-wine32 ]]; then
    hide=1
    shift
  fi
  local state
  state=$(cat "$status" 2>/dev/null || echo "unavailable: the chroot was not prepared (tools/wine10.sh prepare $build)")
  if [[ $state != ready:* ]]; then
    echo "skipped: Wine 10 is ${state}"
    exit 77
  fi
  in_chroot "$hide" "$@"
}

case $command in
  prepare) prepare ;;
  run) run "$@" ;;
  *) echo "usage: $0 prepare|run BUILD ..." >&2; exit 2 ;;
esac
