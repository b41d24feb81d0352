#!/usr/bin/env bash
# The main job: builds everything into build/, then installs the real x64
# setup silently under Wine in a fresh Windows 7 prefix and prints what it
# installed (files and bytes, system files, registry values, message boxes,
# programs started, exit code) and how long it took.
#   tools/run_main.sh [win7-936|win7-950|win7-32|winxp]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VORN_BUILD_DIR:-$root/build}
variant=${1:-win7-936}

"$root/tools/install_deps.sh"
cmake -S "$root" -B "$build" -G Ninja
cmake --build "$build"
exe=$build/win64/vornsetup64.exe
if [[ ! -f "$exe" ]]; then
  echo "run_main: $exe was not built (are the archive tools there?)" >&2
  exit 1
fi
python3 "$root/tests/wine/run.py" --root "$build/wine-main" --variant "$variant" --setup "$exe" main
