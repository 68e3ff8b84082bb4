#!/usr/bin/env bash
# Runs bench_service on the sample content in the build folder's Wine runtime (restarted
# for it: run it while no tests run).
#   bench/service/run.sh BUILD      (BUILD: the windows build folder)
set -euo pipefail
exec "$(dirname "$0")/../run-in-wine.sh" "$1" bench/service/bench_service.exe
