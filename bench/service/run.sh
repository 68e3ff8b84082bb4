#!/usr/bin/env bash
# Runs bench_service on the sample content in the build folder's Wine runtime (restarted
# for it: run it while no tests run).
#   bench/service/run.sh BUILD      (BUILD: the windows build folder)
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
"$root/tools/wine/prefix.sh" cleanup "$build" >/dev/null 2>&1 || true
"$root/tools/wine/prefix.sh" setup "$build"
trap '"$root/tools/wine/prefix.sh" cleanup "$build" >/dev/null 2>&1' EXIT
winpath() { printf 'Z:%s' "${1//\//\\}"; }
"$root/tools/wine/wine-run.sh" "$build" "$build/bench/service/bench_service.exe" \
    "$(winpath "$build/src/bin/Veltrane_Desktop/Veltrane_Desktop.exe")" \
    "$(winpath "$root/content/sample")" "$(winpath /usr/share/fonts/truetype/nanum/NanumGothic.ttf)"
