#!/usr/bin/env bash
# How this machine runs 32-bit x86 Linux programs, which Debian's Wine needs
# to start a 32-bit Windows program (its 32-bit loader is one).
#
#   tools/i386.sh setup STATE     find the way, registering qemu-user-static if that is the only one
#   tools/i386.sh cleanup STATE   take back what setup added
#
# STATE gets one line, read by the Wine tests and tools/run_tests.sh:
#   native            the kernel runs them itself
#   binfmt NAME       through a binfmt_misc entry that was there before (left
#                     alone; whether the kernel could on its own is not known)
#   qemu              through qemu-i386-static, registered here for this run
#                     (about 150 times slower: only a named subset runs)
#   none: REASON      not at all: the 32-bit tests are skipped
# The registration (flag F: the interpreter is opened now, so it also works
# in a chroot) is shared by the runs that need it at the same time on this
# machine and removed when the last of them ends.  Both commands exit 0.
set -euo pipefail
command=${1:-}
state=$(realpath -m "${2:?usage: $0 setup|cleanup STATE}")
binfmt=/proc/sys/fs/binfmt_misc
entry=vorn-qemu-i386
qemu=/usr/bin/qemu-i386-static
holders=/run/vorn-qemu-i386.d
holder=$holders/run-$(printf '%s' "$state" | md5sum | cut -c1-16)
# i386 ELF executables, as Debian's qemu-user-static describes them.
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

# A 93-byte i386 program that only exits with 42: whatever runs it, runs 32-bit code.
runs_i386() {
  local probe rc=0
  probe=$(mktemp /tmp/vorn-i386.XXXXXX)
  local elf='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00'
  elf+='\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00'
  elf+='\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'
  elf+='\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
  elf+='\x31\xc0\x40\x31\xdb\xb3\x2a\xcd\x80'  # xor eax,eax; inc eax; xor ebx,ebx; mov bl,42; int 0x80
  printf "$elf" >"$probe"
  chmod 700 "$probe"
  "$probe" 2>/dev/null || rc=$?
  rm -f "$probe"
  [[ $rc -eq 42 ]]
}

# The enabled binfmt_misc entries other than ours that take i386 ELF files.
other_entries() {
  local f
  for f in "$binfmt"/*; do
    [[ -f $f && $(basename "$f") != register && $(basename "$f") != status && $(basename "$f") != "$entry" ]] || continue
    if grep -qx enabled "$f" && grep -q '^magic 7f454c4601010100000000000000000002000300' "$f"; then
      basename "$f"
    fi
  done
}

lock() {
  mkdir -p "$holders"
  exec 9>"$holders/lock"
  flock 9
}

setup() {
  mkdir -p "$(dirname "$state")"
  if runs_i386; then
    local others
    others=$( [[ -d $binfmt ]] && other_entries || true)
    if [[ -n $others ]]; then
      echo "binfmt $(echo $others)" >"$state"
    elif [[ -f $binfmt/$entry ]]; then
      # Another run's registration: share it.
      lock
      touch "$holder"
      echo "qemu" >"$state"
    else
      echo "native" >"$state"
    fi
  elif [[ $(id -u) -ne 0 ]]; then
    echo "none: the kernel refuses 32-bit x86 programs, and registering qemu-user-static needs root" >"$state"
  elif [[ ! -x $qemu ]]; then
    echo "none: the kernel refuses 32-bit x86 programs, and qemu-user-static is not installed" >"$state"
  else
    lock
    if [[ ! -e $binfmt/register ]] && mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null; then
      touch "$holders/mounted"
    fi
    if [[ ! -e $binfmt/register ]]; then
      echo "none: the kernel refuses 32-bit x86 programs and has no binfmt_misc" >"$state"
      return 0
    fi
    if [[ ! -f $binfmt/$entry ]]; then
      echo ":$entry:M::$magic:$mask:$qemu:F" >"$binfmt/register" || true
    fi
    touch "$holder"
    if runs_i386; then
      echo "qemu" >"$state"
    else
      echo "none: the kernel refuses 32-bit x86 programs, and they do not run through qemu-user-static either" >"$state"
      cleanup
    fi
  fi
  echo "i386: $(cat "$state")"
}

cleanup() {
  [[ -e $holder ]] || return 0
  lock
  rm -f "$holder"
  # A holder older than a day is a run that was killed before its cleanup.
  find "$holders" -type f -name 'run-*' -mmin +1440 -delete 2>/dev/null || true
  if [[ -z $(find "$holders" -type f -name 'run-*' 2>/dev/null) && -f $binfmt/$entry ]]; then
    echo -1 >"$binfmt/$entry"
    echo "i386: removed the qemu-user-static registration"
    if [[ -e $holders/mounted ]] && umount "$binfmt"; then
      rm -f "$holders/mounted"
    fi
  fi
}

case $command in
  setup) setup ;;
  cleanup) cleanup ;;
  *) echo "usage: $0 setup|cleanup STATE" >&2; exit 2 ;;
esac
