#!/usr/bin/env bash
# The README's pictures of the setup window: walks the window under Wine in
# Xvfb (tools/run_main.sh --window) and writes each page, reduced to a small
# palette PNG, into docs/pages/ (code page 936) and docs/pages/950/ (950).
#   tools/page_pictures.sh [win7-936|win7-950 ...]     (default: both)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VORN_BUILD_DIR:-$root/build}
shots=$build/wine-gui-shots/pictures
variants=("$@")
if (( ${#variants[@]} == 0 )); then
  variants=(win7-936 win7-950)
fi

for variant in "${variants[@]}"; do
  case $variant in
    win7-936) pages=$root/docs/pages ;;
    win7-950) pages=$root/docs/pages/950 ;;
    *) echo "page_pictures: no pictures for $variant" >&2; exit 2 ;;
  esac
  VORN_SHOTS_DIR=$shots "$root/tools/run_main.sh" --window "$variant"
  mkdir -p "$pages"
  for page in welcome options install-path progress last; do
    src=$(ls "$shots/$variant/"*-"$page".png)
    out=$pages/$(basename "$src")
    convert "$src" -strip -dither None -colors 96 "PNG8:$out"
    echo "page_pictures: $out ($(stat -c %s "$out") bytes)"
  done
done
