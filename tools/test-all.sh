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

host_part() {
    cmake -S "$root" -B "$build/host" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
    cmake --build "$build/host" -j "$jobs"
    phase "host build"
    (cd "$build/host" && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j "$jobs" --no-tests=error)
    phase "host tests"
}
fuzz_part() {
    cmake -S "$root" -B "$build/fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang-14 \
        -DCMAKE_CXX_COMPILER=clang++-14 -DVELTRANE_FUZZ=ON >/dev/null
    cmake --build "$build/fuzz" -j "$jobs"
    phase "fuzz build"
    (cd "$build/fuzz" && ctest --output-on-failure -j "$jobs" --no-tests=error)
    phase "fuzz runs"
}
windows_build() {
    cmake -S "$root" -B "$build/windows" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DVELTRANE_DEPS_PREFIX="$deps" >/dev/null
    cmake --build "$build/windows" -j "$jobs"
    test -f "$build/windows/src/bin/Veltrane_Desktop/Veltrane_Desktop.exe"
    phase "windows build"
}
# Returns ctest's status itself: called in an || list, where set -e does not act.
windows_tests() {
    local code=0
    (cd "$build/windows" && ctest --output-on-failure -j "$jobs" --no-tests=error) || code=$?
    phase "windows tests"
    return "$code"
}

case $what in
    host) tested+=("$build/host"); host_part ;;
    fuzz) tested+=("$build/fuzz"); fuzz_part ;;
    windows) tested+=("$build/windows"); windows_build; windows_tests ;;
    all)
        # The Wine tests mostly wait (about a sixth of two cores), so the host and fuzz halves
        # are built and run beside them at the lowest priority, and their output is shown
        # after the Wine tests' own.
        windows_build
        tested+=("$build/host" "$build/fuzz" "$build/windows")
        beside_log=$build/beside-wine-tests.log
        mkdir -p "$build"
        (
            renice -n 19 -p "$BASHPID" >/dev/null
            ionice -c 3 -p "$BASHPID" 2>/dev/null || true
            phases=()
            trap 'printf "%s\n" "${phases[@]}" > "$beside_log.phases"' EXIT
            host_part
            fuzz_part
        ) > "$beside_log" 2>&1 &
        beside=$!
        windows_code=0
        windows_tests || windows_code=$?
        beside_code=0
        wait "$beside" || beside_code=$?
        echo
        echo "Host and fuzz halves, run beside the Wine tests:"
        cat "$beside_log"
        while IFS= read -r line; do [ -z "$line" ] || phases+=("$line (beside)"); done < "$beside_log.phases"
        [ "$windows_code" = 0 ] || exit "$windows_code"
        [ "$beside_code" = 0 ] || exit "$beside_code"
        ;;
    *) echo "test-all: unknown part $what" >&2; exit 2 ;;
esac
