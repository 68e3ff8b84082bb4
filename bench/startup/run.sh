#!/usr/bin/env bash
# Runs bench_startup on the sample content in a runtime of its own with four monitors (two
# 3840 × 2160 beside each other, two 1920 × 1080 below them), restarted for it.
#   bench/startup/run.sh BUILD      (BUILD: the windows build folder)
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
export VELTRANE_WINE_RUNTIME=wine-startup
export VELTRANE_MONITORS=3840x2160+0+0,3840x2160+3840+0,1920x1080+0+2160,1920x1080+1920+2160
"$root/tools/wine/prefix.sh" cleanup "$build" >/dev/null 2>&1 || true
"$root/tools/wine/prefix.sh" setup "$build"
trap '"$root/tools/wine/prefix.sh" cleanup "$build" >/dev/null 2>&1' EXIT
winpath() { printf 'Z:%s' "${1//\//\\}"; }
"$root/tools/wine/wine-run.sh" "$build" "$build/bench/startup/bench_startup.exe" \
    "$(winpath "$build/src/bin/Veltrane_Desktop/Veltrane_Desktop.exe")" \
    "$(winpath "$root/content/sample")" "$(winpath /usr/share/fonts/truetype/nanum/NanumGothic.ttf)"
