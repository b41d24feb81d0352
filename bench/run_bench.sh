#!/bin/sh
# Runs the unpack-and-verify benchmark and prints its ratio to the floor.
#   bench/run_bench.sh [build-dir]      (default: ./build)
# VORN_PAYLOAD=path/payload.voz measures that archive instead of the sample.
set -eu
build=${1:-build}
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
grep -E '^(payload|extract|floor)' "$log"
