#!/usr/bin/env bash
# The one command: set up the machine, build both targets, run every test (host under
# sanitizers, then the same tests and the Windows ones under Wine). Exits non-zero when
# anything fails or nothing was built.
#   tools/test-all.sh            everything
#   tools/test-all.sh host       host build and tests only
#   tools/test-all.sh fuzz       fuzz build and its short runs only (tools/fuzz.sh runs longer)
#   tools/test-all.sh windows    windows build and Wine tests only
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
what=${1:-all}
jobs=$(nproc)
build=${VELTRANE_BUILD_DIR:-$root/build}

# Each phase's time, and every test case that skipped, printed when the run ends however it ends.
phases=()
tested=()  # the build folders whose tests ran in this run
phase_start=$SECONDS
phase() {
    phases+=("$(printf '%-16s %4d s' "$1" $((SECONDS - phase_start)))")
    phase_start=$SECONDS
}
report() {
    local code=$?
    echo
    echo "Phase times:"
    printf '  %s\n' "${phases[@]}"
    printf '  %-16s %4d s\n' total "$SECONDS"
    local skipped="" dir
    for dir in "${tested[@]}"; do
        skipped+=$(grep -E '^\[  SKIPPED \] [A-Za-z0-9_]+\.[A-Za-z0-9_/]+$' "$dir/Testing/Temporary/LastTest.log" 2>/dev/null || true)$'\n'
    done
    skipped=$(printf '%s' "$skipped" | grep -v '^$' | sort -u || true)
    if [ -n "$skipped" ]; then
        echo "Skipped test cases:"
        printf '%s\n' "$skipped" | sed 's/^\[  SKIPPED \] /  /'
    fi
    exit "$code"
}
trap report EXIT

deps=$("$root/tools/setup.sh" | tail -n 1)
phase setup

if [ "$what" = all ] || [ "$what" = host ]; then
    cmake -S "$root" -B "$build/host" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
    cmake --build "$build/host" -j "$jobs"
    phase "host build"
    tested+=("$build/host")
    (cd "$build/host" && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j "$jobs" --no-tests=error)
    phase "host tests"
fi

if [ "$what" = all ] || [ "$what" = fuzz ]; then
    cmake -S "$root" -B "$build/fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang-14 \
        -DCMAKE_CXX_COMPILER=clang++-14 -DVELTRANE_FUZZ=ON >/dev/null
    cmake --build "$build/fuzz" -j "$jobs"
    phase "fuzz build"
    tested+=("$build/fuzz")
    (cd "$build/fuzz" && ctest --output-on-failure -j "$jobs" --no-tests=error)
    phase "fuzz runs"
fi

if [ "$what" = all ] || [ "$what" = windows ]; then
    cmake -S "$root" -B "$build/windows" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DVELTRANE_DEPS_PREFIX="$deps" >/dev/null
    cmake --build "$build/windows" -j "$jobs"
    test -f "$build/windows/src/bin/Veltrane_Desktop/Veltrane_Desktop.exe"
    phase "windows build"
    tested+=("$build/windows")
    (cd "$build/windows" && ctest --output-on-failure -j "$jobs" --no-tests=error)
    phase "windows tests"
fi
