#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12 (bookworm): the
# native and MinGW toolchains, zlib for both, GoogleTest and Google Benchmark,
# Wine, Xvfb and friends for the window tests, CJK fonts, the zh_CN and zh_TW
# UTF-8 locales, clang with its libFuzzer and sanitizer runtimes, osslsigncode
# and openssl for the signed release, and for the second Wine mmdebstrap and
# qemu-user-static (tools/wine10.sh, tools/i386.sh).  Idempotent: apt is not
# touched when everything is there.
#
# wine32 is not installed here: the i386 architecture stays out of this
# system, whose mirror's security suite may lack its i386 index (then every
# later apt-get update fails).  The trixie chroot has wine32 instead.
set -euo pipefail

packages=(
  cmake ninja-build g++ libgtest-dev libbenchmark-dev zlib1g-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64 libz-mingw-w64-dev
  wine64 xvfb xdotool imagemagick fonts-wqy-zenhei fonts-arphic-uming fonts-arphic-ukai
  locales python3
  osslsigncode openssl
  clang libclang-rt-14-dev
  mmdebstrap qemu-user-static
)
locales_needed=(zh_CN.UTF-8 zh_TW.UTF-8)

sudo=()
if [[ $(id -u) -ne 0 ]]; then
  sudo=(sudo)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if (( ${#missing[@]} )); then
  echo "install_deps: installing ${missing[*]}"
  # A mirror in the middle of a sync fails a download now and then: retried.
  for attempt in 1 2 3; do
    if "${sudo[@]}" apt-get -o Acquire::Retries=3 update &&
       DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get -o Acquire::Retries=3 install -y \
         --no-install-recommends "${missing[@]}"; then
      break
    fi
    (( attempt < 3 )) || exit 1
    echo "install_deps: apt failed (attempt $attempt), trying again"
    sleep $((attempt * 15))
  done
else
  echo "install_deps: all ${#packages[@]} packages present"
fi

# `locale -a` spells them zh_CN.utf8.
have_locales=$(locale -a 2>/dev/null | tr '[:upper:]' '[:lower:]' | sed 's/utf-8/utf8/')
generate=0
for loc in "${locales_needed[@]}"; do
  want=$(tr '[:upper:]' '[:lower:]' <<<"$loc" | sed 's/utf-8/utf8/')
  if ! grep -qx "$want" <<<"$have_locales"; then
    generate=1
    line="$loc UTF-8"
    if grep -Eq "^#? *$loc UTF-8" /etc/locale.gen 2>/dev/null; then
      "${sudo[@]}" sed -i -E "s/^# *($loc UTF-8)/\\1/" /etc/locale.gen
    else
      echo "$line" | "${sudo[@]}" tee -a /etc/locale.gen >/dev/null
    fi
  fi
done
if (( generate )); then
  echo "install_deps: generating ${locales_needed[*]}"
  "${sudo[@]}" locale-gen
else
  echo "install_deps: locales ${locales_needed[*]} present"
fi
