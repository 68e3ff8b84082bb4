#!/usr/bin/env bash
# The cross-compiling emulator: runs one Windows program in the build folder's prefix, with
# LOCALAPPDATA, APPDATA and TEMP of its own (fresh for every run, removed after success).
#   wine-run.sh BUILD PROGRAM.exe [ARGUMENTS...]
set -uo pipefail

build=$(cd "$1" && pwd); shift
program=$1; shift
state=$build/${VELTRANE_WINE_RUNTIME:-wine}
if [ ! -f "$state/display" ]; then
    echo "wine-run: the Wine runtime is not set up; run the wine.setup test (ctest) first" >&2
    exit 2
fi
export WINEPREFIX=$state/prefix WINEDEBUG=${WINEDEBUG:--all}
export DISPLAY
DISPLAY=$(cat "$state/display")
if [ -f "$state/monitors" ]; then
    export VELTRANE_MONITORS LD_LIBRARY_PATH
    VELTRANE_MONITORS=$(cat "$state/monitors")
    LD_LIBRARY_PATH=$state/xinerama${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
fi

winpath() { printf 'Z:%s' "${1//\//\\}"; }

dir=$(mktemp -d "$state/tests/$(basename "$program" .exe)-XXXXXX")
mkdir -p "$dir/LocalAppData" "$dir/AppData" "$dir/Temp"
export VELTRANE_TEST_LOCALAPPDATA VELTRANE_TEST_APPDATA VELTRANE_TEST_TEMP VELTRANE_TEST_ROOT
VELTRANE_TEST_LOCALAPPDATA=$(winpath "$dir/LocalAppData")
VELTRANE_TEST_APPDATA=$(winpath "$dir/AppData")
VELTRANE_TEST_TEMP=$(winpath "$dir/Temp")
VELTRANE_TEST_ROOT=$dir

wine "$build/tools/wine/veltrane_launcher.exe" "$(winpath "$(realpath "$program")")" "$@" 2> >(grep -v -e 'wine32 is missing' -e 'multiarch needs' -e 'dpkg --add-architecture' -e 'apt-get install wine32' >&2)
code=$?
[ $code -eq 0 ] && rm -rf "$dir"
exit $code
