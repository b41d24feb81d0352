#!/usr/bin/env bash
# Runs one fuzz target over its seeds for a fixed number of inputs, at low
# priority; new inputs go to a scratch corpus under the build directory.
#   tools/fuzz_run.sh BUILD TARGET RUNS [libFuzzer options...]
# TARGET: voz extract trailer restore cmdline registry skin
set -euo pipefail
build=$1 target=$2 runs=$3
shift 3
corpus=$build/fuzz-corpus/$target
mkdir -p "$corpus"
exec nice -n 10 "$build/fuzz/fuzz_$target" -runs="$runs" -rss_limit_mb=4096 -print_final_stats=1 \
  -artifact_prefix="$build/fuzz-corpus/crash-$target-" "$@" "$corpus" "$build/fuzz-seeds/$target"
