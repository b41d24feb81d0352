#!/usr/bin/env bash
# The README's pictures of the setup window: walks the window under Wine in
# Xvfb (tools/run_main.sh --window) and writes each page, reduced to a small
# palette PNG, into docs/pages/.
#   tools/page_pictures.sh [win7-936|win7-950]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VORN_BUILD_DIR:-$root/build}
variant=${1:-win7-936}
shots=$build/wine-gui-shots/pictures

VORN_SHOTS_DIR=$shots "$root/tools/run_main.sh" --window "$variant"
mkdir -p "$root/docs/pages"
for page in welcome options install-path progress last; do
  src=$(ls "$shots/$variant/"*-"$page".png)
  out=$root/docs/pages/$(basename "$src")
  convert "$src" -strip -dither None -colors 96 "PNG8:$out"
  echo "page_pictures: $out ($(stat -c %s "$out") bytes)"
done
