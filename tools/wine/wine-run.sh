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

# A program that the test started from its own folders and left running (a service, a
# watchdog, a helper copy) would hold the prefix's named objects in every later test: it
# gets a few seconds to end, then it is ended and named.
left_running() {
    local file c
    for file in $(grep -l -a -i -F -- "$(winpath "$dir")\\" /proc/[0-9]*/cmdline 2>/dev/null); do
        c=
        { IFS= read -r -d '' c <"$file"; } 2>/dev/null || [ -n "$c" ] || continue
        [[ $c == [A-Za-z]:\\* ]] && { file=${file#/proc/}; echo "${file%/cmdline}"; }
    done
}
for _ in $(seq 20); do [ -z "$(left_running)" ] && break; sleep 0.5; done
for pid in $(left_running); do
    echo "wine-run: ended what the test left running: $(tr '\0' ' ' <"/proc/$pid/cmdline")" >&2
    kill -KILL "$pid" 2>/dev/null
done
[ $code -eq 0 ] && rm -rf "$dir"
exit $code
