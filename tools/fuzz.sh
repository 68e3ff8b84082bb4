#!/usr/bin/env bash
# Runs the fuzz targets (all, or the ones named) for SECONDS in total, shared evenly and
# one after another at the lowest priority. Each starts from its seeds in fuzz/corpus and
# from build/fuzz-corpus/<target>, where what it finds is kept for the next run, with the
# target's dictionary when it has one (fuzz/dict); a crash is saved in build/fuzz-artifacts
# and makes the script fail. Prints executions and coverage.
#   tools/fuzz.sh SECONDS [target ...]      e.g. tools/fuzz.sh 600, tools/fuzz.sh 60 png
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:?usage: tools/fuzz.sh SECONDS [target ...]}
shift
build=${VELTRANE_BUILD_DIR:-$root/build}

"$root/tools/setup.sh" >/dev/null
cmake -S "$root" -B "$build/fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang-14 \
    -DCMAKE_CXX_COMPILER=clang++-14 -DVELTRANE_FUZZ=ON >/dev/null
cmake --build "$build/fuzz" -j "$(nproc)"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for seeds in "$root"/fuzz/corpus/*/; do targets+=("$(basename "$seeds")"); done
fi
each=$(( seconds / ${#targets[@]} ))
[ "$each" -ge 1 ] || each=1
mkdir -p "$build/fuzz-artifacts"

failed=0
for t in "${targets[@]}"; do
    corpus="$build/fuzz-corpus/$t"
    log="$build/fuzz-artifacts/$t.log"
    mkdir -p "$corpus"
    dict=()
    if [ -f "$build/fuzz/fuzz/dict/$t.dict" ]; then dict=(-dict="$build/fuzz/fuzz/dict/$t.dict"); fi
    if ! nice -n 19 "$build/fuzz/fuzz/fuzz_$t" -max_total_time="$each" -timeout=30 -print_final_stats=1 "${dict[@]}" \
            -artifact_prefix="$build/fuzz-artifacts/$t-" "$corpus" "$root/fuzz/corpus/$t" >"$log" 2>&1; then
        failed=1
        echo "$t: FAILED, see $log" >&2
    fi
    # The last status line: executions, coverage (cov: edges, ft: features) and corpus size.
    status=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
    echo "$t: ${status:-no status line}"
done
exit "$failed"
