#!/usr/bin/env bash
# Runs bench_compose under a 3840 × 2160 screen, so the first monitor is one GDI knows and
# gets the content. Stops the build folder's Wine runtime first: run it while no tests run.
#   bench/wallpaper/run.sh BUILD [KEEP_FOLDER]   (BUILD: the windows build folder; the composed
#                                                pictures are kept in KEEP_FOLDER)
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
"$root/tools/wine/prefix.sh" cleanup "$build" >/dev/null 2>&1 || true
VELTRANE_XVFB_SCREEN=3840x2160x24 "$root/tools/wine/prefix.sh" setup "$build"
trap '"$root/tools/wine/prefix.sh" cleanup "$build" >/dev/null 2>&1' EXIT
winpath() { printf 'Z:%s' "${1//\//\\}"; }
"$root/tools/wine/wine-run.sh" "$build" "$build/bench/wallpaper/bench_compose.exe" \
    "$(winpath "$root/content/sample")" "$(winpath /usr/share/fonts/truetype/nanum/NanumGothic.ttf)" \
    ${2:+"$(winpath "$(mkdir -p "$2" && cd "$2" && pwd)")"}
