#!/bin/sh
# The three performance ratios, measured in one run:
#   unpack and verify of the payload (simulated file system) against its floor;
#   the silent install under Wine against Wine's own xcopy of the files it installed;
#   the setup window under Wine, from start to painted, against a trivial window.
#   bench/run_bench.sh [build-dir]      (default: ./build)
# VORN_PAYLOAD=path/payload.voz measures that archive in the first.  Without
# Wine, Xvfb or the win64 build only the first is measured.
set -eu
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
exe="$build/vorn_bench"
if [ ! -x "$exe" ]; then
    echo "run_bench.sh: $exe not found; build the vorn_bench target first" >&2
    exit 1
fi
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# Best of several repetitions: other work on the machine only adds time.
if ! "$exe" --benchmark_repetitions=8 --benchmark_color=false >"$log" 2>&1; then
    cat "$log" >&2
    exit 1
fi
grep -E '^(payload|extract)' "$log"
if [ -f "$build/win64/vornsetup64.exe" ] && command -v Xvfb >/dev/null && command -v xdotool >/dev/null; then
    python3 "$here/wine_bench.py" --build "$build"
else
    echo "run_bench.sh: no win64 build, Xvfb or xdotool: the Wine timings are skipped"
fi
