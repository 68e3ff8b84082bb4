#!/usr/bin/env bash
# Prepares and stops the Wine runtime of one build folder.
#   prefix.sh setup BUILD    start Xvfb, build the template prefix once, copy it to a fresh
#                            working prefix (so no run sees the last run's registry or files),
#                            run the hooks in prepare.d, start a persistent wineserver
#   prefix.sh cleanup BUILD  stop the wineserver and Xvfb
# VELTRANE_XVFB_SCREEN sets the screen (default 1920x1080x24; Wine sees one monitor of that size).
# VELTRANE_WINE_RUNTIME names the runtime's folder in BUILD (default "wine"); runtimes share
# the template prefix. VELTRANE_MONITORS ("WxH+X+Y,...", X root coordinates, the first one
# primary and placed at Windows' origin) gives that runtime several monitors through the
# Xinerama stand-in in monitors/, on one Xvfb screen that holds them all.
# Hooks: template.d/*.sh run once when the template is made (trust stores, fonts);
# prepare.d/*.sh run on every setup (stand-ins built in BUILD). Both get WINEPREFIX, BUILD
# and TOOLS in the environment.
set -Eeuo pipefail
shopt -s nullglob
trap 'echo "prefix.sh: failed at line $LINENO: $BASH_COMMAND" >&2' ERR

mode=$1
build=$(cd "$2" && pwd)
tools=$(cd "$(dirname "$0")" && pwd)
state=$build/${VELTRANE_WINE_RUNTIME:-wine}
template=$build/wine/template
prefix=$state/prefix
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml=" BUILD=$build TOOLS=$tools
screen=${VELTRANE_XVFB_SCREEN:-1920x1080x24}

start_xvfb() {
    if [ -f "$state/xvfb.pid" ] && kill -0 "$(cat "$state/xvfb.pid")" 2>/dev/null; then return; fi
    # Runtimes set up at the same time would otherwise pick the same free display.
    exec 8>/tmp/.veltrane-xvfb.lock
    flock 8
    local n
    for n in $(seq 90 140); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
    done
    Xvfb ":$n" -screen 0 "$screen" -nolisten tcp >"$state/xvfb.log" 2>&1 8>&- &
    local pid=$!
    echo $pid >"$state/xvfb.pid"
    echo ":$n" >"$state/display"
    # Bounded for a loaded machine; a server that ended says why at once.
    for _ in $(seq 300); do
        [ -e "/tmp/.X11-unix/X$n" ] && { exec 8>&-; return; }
        kill -0 $pid 2>/dev/null || break
        sleep 0.1
    done
    echo "Xvfb did not start on :$n; its log:" >&2
    cat "$state/xvfb.log" >&2
    exit 1
}

template_key() {
    cat "$0" "$tools"/template.d/*.sh | sha256sum | cut -c1-16
}

make_template() {
    local key
    key=$(template_key)
    [ -f "$template/.veltrane-$key" ] && return
    rm -rf "$template"
    WINEPREFIX=$template wineboot -i >/dev/null 2>&1
    WINEPREFIX=$template wineserver -w
    # A new prefix reports Windows 7; the program must see Windows 10 build 19045. Wine 8
    # takes major.minor from CurrentVersion (Windows itself keeps "6.3" there).
    local k='HKLM\Software\Microsoft\Windows NT\CurrentVersion'
    WINEPREFIX=$template wine reg add "$k" /v CurrentBuild /d 19045 /f >/dev/null 2>&1
    WINEPREFIX=$template wine reg add "$k" /v CurrentBuildNumber /d 19045 /f >/dev/null 2>&1
    WINEPREFIX=$template wine reg add "$k" /v CurrentMajorVersionNumber /t REG_DWORD /d 10 /f >/dev/null 2>&1
    WINEPREFIX=$template wine reg add "$k" /v CurrentMinorVersionNumber /t REG_DWORD /d 0 /f >/dev/null 2>&1
    WINEPREFIX=$template wine reg add "$k" /v CurrentVersion /d 10.0 /f >/dev/null 2>&1
    WINEPREFIX=$template wine reg add "$k" /v ProductName /d "Windows 10 Pro" /f >/dev/null 2>&1
    for hook in "$tools"/template.d/*.sh; do
        [ -e "$hook" ] || continue
        WINEPREFIX=$template bash "$hook"
    done
    WINEPREFIX=$template wineserver -w
    touch "$template/.veltrane-$key"
}

# Builds the Xinerama stand-in and sizes the screen to hold every listed monitor.
use_monitors() {
    rm -f "$state/monitors"
    [ -n "${VELTRANE_MONITORS:-}" ] || return 0
    mkdir -p "$state/xinerama"
    gcc -O2 -Wall -Wextra -Werror -shared -fPIC -Wl,-soname,libXinerama.so.1 \
        -o "$state/xinerama/libXinerama.so.1" "$tools/monitors/xinerama_standin.c"
    local width=0 height=0 m w h x y
    IFS=, read -ra list <<<"$VELTRANE_MONITORS"
    for m in "${list[@]}"; do
        IFS='x+' read -r w h x y <<<"$m"
        (( x + w > width )) && width=$((x + w))
        (( y + h > height )) && height=$((y + h))
    done
    screen=${width}x${height}x24
    echo "$VELTRANE_MONITORS" >"$state/monitors"
    export LD_LIBRARY_PATH=$state/xinerama${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
}

setup() {
    mkdir -p "$state"
    use_monitors
    start_xvfb
    export DISPLAY
    DISPLAY=$(cat "$state/display")
    mkdir -p "$build/wine"
    (flock 9 && make_template) 9>"$build/wine/template.lock"
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    rm -rf "$prefix" "$state/tests"
    cp -a "$template" "$prefix"
    mkdir -p "$state/tests"
    if [ -f "$state/monitors" ]; then
        # Wine would otherwise take Xvfb's one RandR output. The server that wrote it ends
        # first, so that no cached list of one monitor outlives it.
        WINEPREFIX=$prefix wine reg add 'HKCU\Software\Wine\X11 Driver' /v UseXRandR /d N /f >/dev/null 2>&1 </dev/null
        WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
        WINEPREFIX=$prefix wineserver -w
    fi
    WINEPREFIX=$prefix wineserver -p >/dev/null 2>&1 </dev/null
    # The first program in a prefix starts Wine's services (services.exe, rpcss, ...), which
    # outlive it and keep its output pipes open; start them here, detached from any pipe,
    # so that no test's runner waits on them.
    WINEPREFIX=$prefix wine wineboot >/dev/null 2>&1 </dev/null
    for hook in "$tools"/prepare.d/*.sh; do
        [ -e "$hook" ] || continue
        WINEPREFIX=$prefix bash "$hook"
    done
}

cleanup() {
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    if [ -f "$state/xvfb.pid" ]; then
        kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
        rm -f "$state/xvfb.pid" "$state/display"
    fi
}

case $mode in
    setup) setup ;;
    cleanup) cleanup ;;
    *) echo "usage: prefix.sh setup|cleanup BUILD" >&2; exit 2 ;;
esac
