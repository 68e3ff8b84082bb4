#!/usr/bin/env bash
# Runs one Windows bench on the sample content in a Wine runtime restarted for it (run it
# while no tests run in that runtime), with the program, the content and the font as its
# arguments. VELTRANE_WINE_RUNTIME and VELTRANE_MONITORS choose the runtime, as for tests.
#   bench/run-in-wine.sh BUILD BENCH_EXE
set -euo pipefail
build=$(cd "$1" && pwd)
bench=$2
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/wine/prefix.sh" cleanup "$build" >/dev/null 2>&1 || true
"$root/tools/wine/prefix.sh" setup "$build"
trap '"$root/tools/wine/prefix.sh" cleanup "$build" >/dev/null 2>&1' EXIT
winpath() { printf 'Z:%s' "${1//\//\\}"; }
"$root/tools/wine/wine-run.sh" "$build" "$build/$bench" \
    "$(winpath "$build/src/bin/Veltrane_Desktop/Veltrane_Desktop.exe")" \
    "$(winpath "$root/content/sample")" "$(winpath /usr/share/fonts/truetype/nanum/NanumGothic.ttf)"
