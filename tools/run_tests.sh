#!/usr/bin/env bash
# Builds everything (native, win64, win32) into build/ and runs every test:
# unit, contract (simulation and Wine), static PE checks, Wine end-to-end.
# ctest's summary is the last thing printed.
#   tools/run_tests.sh            (VORN_BUILD_DIR overrides build/)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VORN_BUILD_DIR:-$root/build}

"$root/tools/install_deps.sh"
cmake -S "$root" -B "$build" -G Ninja
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure -j2
