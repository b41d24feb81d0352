#!/usr/bin/env bash
# Builds everything (native, win64, win32) into build/ and runs every test:
# unit, contract (simulation and Wine), static PE checks, Wine end-to-end on
# the system's Wine 8 and on Wine 10 in a Debian trixie chroot (made, or
# reused, under build/trixie/ while the build runs), with the shipping
# 32-bit setup wherever this machine can run 32-bit programs.  ctest's
# summary comes last, then one line: the Wine versions, how 32-bit programs
# ran, and which tests were skipped and why.
#   tools/run_tests.sh            (VORN_BUILD_DIR overrides build/)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VORN_BUILD_DIR:-$root/build}

"$root/tools/install_deps.sh"
mkdir -p "$build"
"$root/tools/wine10.sh" prepare "$build" >"$build/trixie.log" 2>&1 &
chroot_job=$!
cmake -S "$root" -B "$build" -G Ninja
cmake --build "$build"
wait "$chroot_job" || true
cat "$build/trixie.log"

state=$build/wine32/i386-path
# ctest's own cleanup removes a qemu registration; this one covers a ctest
# that was interrupted.
trap '"$root/tools/i386.sh" cleanup "$state" >/dev/null 2>&1 || true' EXIT
rm -f "$state"
status=0
ctest --test-dir "$build" --output-on-failure -j2 | tee "$build/ctest.log" || status=$?

# Each skipped test printed its reason as "skipped: ..." (the full-disk
# scenario in its own words).
reasons=$(grep -ho '^skipped: .*\|[^:(]*: the full-disk scenario is skipped' "$build/Testing/Temporary/LastTest.log" \
            2>/dev/null | sed 's/^skipped: //' | sort | uniq -c | sed 's/^ *\([0-9]*\) \(.*\)/\1 × \2/' |
          paste -sd ';' - | sed 's/;/; /g' || true)
echo "run_tests: Wine 8: $(/usr/lib/wine/wine64 --version 2>/dev/null || echo none);" \
     "Wine 10: $(cat "$build/trixie/status" 2>/dev/null || echo "not prepared");" \
     "32-bit setup: $(cat "$state" 2>/dev/null || echo "not run");" \
     "$(grep -c '(Skipped)$' "$build/ctest.log" || true) tests skipped${reasons:+: $reasons}"
exit $status
