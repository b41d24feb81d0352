#!/bin/sh
# Two builds side by side, in one run: the ratios of run_bench.sh for each,
# taken in turn (A, B, A, B), so that whatever else the machine does falls on
# both alike.
#   bench/compare.sh BUILD_A BUILD_B [rounds]      (default: 2 rounds)
# Build each with the targets vorn_bench and win64; to measure an earlier
# commit: git worktree add ../before <commit>, then build it there.
set -eu
if [ $# -lt 2 ]; then
    echo "usage: $0 BUILD_A BUILD_B [rounds]" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
rounds=${3:-2}
i=1
while [ "$i" -le "$rounds" ]; do
    for build in "$1" "$2"; do
        echo "== round $i: $build"
        "$here/run_bench.sh" "$build"
    done
    i=$((i + 1))
done
