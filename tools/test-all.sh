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

deps=$("$root/tools/setup.sh" | tail -n 1)

if [ "$what" = all ] || [ "$what" = host ]; then
    cmake -S "$root" -B "$build/host" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
    cmake --build "$build/host" -j "$jobs"
    (cd "$build/host" && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j "$jobs" --no-tests=error)
fi

if [ "$what" = all ] || [ "$what" = fuzz ]; then
    cmake -S "$root" -B "$build/fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang-14 \
        -DCMAKE_CXX_COMPILER=clang++-14 -DVELTRANE_FUZZ=ON >/dev/null
    cmake --build "$build/fuzz" -j "$jobs"
    (cd "$build/fuzz" && ctest --output-on-failure -j "$jobs" --no-tests=error)
fi

if [ "$what" = all ] || [ "$what" = windows ]; then
    cmake -S "$root" -B "$build/windows" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DVELTRANE_DEPS_PREFIX="$deps" >/dev/null
    cmake --build "$build/windows" -j "$jobs"
    test -f "$build/windows/src/bin/Veltrane_Desktop/Veltrane_Desktop.exe"
    (cd "$build/windows" && ctest --output-on-failure -j "$jobs" --no-tests=error)
fi
