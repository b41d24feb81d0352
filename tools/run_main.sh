#!/usr/bin/env bash
# The main job: builds everything into build/, then installs the real x64
# setup silently under Wine in a fresh Windows 7 prefix and prints what it
# installed (files and bytes, system files, registry values, message boxes,
# programs started, exit code) and how long it took.
#   tools/run_main.sh [win7-936|win7-950|win7-32|winxp]
# With --window it walks the setup window instead, in Xvfb: welcome page,
# options (a typed web address), install path, the install, the last page,
# the end message; it prints the message boxes and where the screenshot of
# every page is.
#   tools/run_main.sh --window [win7-936|win7-950|win7-32]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VORN_BUILD_DIR:-$root/build}
command=main
if [[ ${1:-} == --window ]]; then
  command=window
  shift
fi
variant=${1:-win7-936}

"$root/tools/install_deps.sh"
cmake -S "$root" -B "$build" -G Ninja
cmake --build "$build"
exe=$build/win64/vornsetup64.exe
if [[ ! -f "$exe" ]]; then
  echo "run_main: $exe was not built (are the archive tools there?)" >&2
  exit 1
fi
python3 "$root/tests/wine/run.py" --root "$build/wine-main" --variant "$variant" --setup "$exe" \
  --shots "${VORN_SHOTS_DIR:-$build/wine-gui-shots/main}" "$command"
