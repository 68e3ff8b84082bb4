#!/usr/bin/env bash
# Runs bench_startup on the sample content in a runtime of its own with four monitors (two
# 3840 × 2160 beside each other, two 1920 × 1080 below them), restarted for it.
#   bench/startup/run.sh BUILD      (BUILD: the windows build folder)
set -euo pipefail
export VELTRANE_WINE_RUNTIME=wine-startup
export VELTRANE_MONITORS=3840x2160+0+0,3840x2160+3840+0,1920x1080+0+2160,1920x1080+1920+2160
exec "$(dirname "$0")/../run-in-wine.sh" "$1" bench/startup/bench_startup.exe
