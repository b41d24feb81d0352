#!/usr/bin/env bash
# Runs every fuzz target long: a million inputs each unless given, two at a
# time at low priority, and prints the executions each reached.
#   tools/fuzz_long.sh [BUILD] [RUNS]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
runs=${2:-1000000}
logs=$build/fuzz-logs
mkdir -p "$logs"
targets=(voz extract trailer restore cmdline registry skin)
for ((i = 0; i < ${#targets[@]}; i += 2)); do
  for t in "${targets[@]:i:2}"; do
    "$root/tools/fuzz_run.sh" "$build" "$t" "$runs" >"$logs/$t.log" 2>&1 &
  done
  wait
done
for t in "${targets[@]}"; do
  printf '%-8s %s\n' "$t" "$(grep -o 'stat::number_of_executed_units: [0-9]*' "$logs/$t.log" || echo 'no result (see log)')"
done
