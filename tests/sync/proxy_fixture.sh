#!/usr/bin/env bash
# The proxy tests' own fixture: two tinyproxy instances on loopback, one open and one that
# asks for a password, each with its log in BUILD/proxy. Nothing else uses them.
#   proxy_fixture.sh start|stop BUILD OPEN_PORT AUTH_PORT
set -euo pipefail
mode=$1
build=$(cd "$2" && pwd)
state=$build/proxy
stop() {
    for name in open auth; do
        if [ -f "$state/$name.pid" ]; then kill "$(cat "$state/$name.pid")" 2>/dev/null || true; fi
        rm -f "$state/$name.pid"
    done
}
case $mode in
start)
    command -v tinyproxy >/dev/null || { echo "tinyproxy is missing; run tools/setup.sh" >&2; exit 1; }
    stop
    mkdir -p "$state"
    for name in open auth; do
        port=$3
        [ $name = auth ] && port=$4
        rm -f "$state/$name.log"
        {
            printf 'Port %s\nListen 127.0.0.1\nTimeout 60\nMaxClients 20\nAllow 127.0.0.1\n' "$port"
            printf 'LogFile "%s"\nLogLevel Connect\nDisableViaHeader Yes\n' "$state/$name.log"
            [ $name = auth ] && printf 'BasicAuth veltrane secret\n'
        } >"$state/$name.conf"
        tinyproxy -d -c "$state/$name.conf" </dev/null >"$state/$name.out" 2>&1 &
        echo $! >"$state/$name.pid"
        ok=0
        for _ in $(seq 100); do
            if python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2)" 2>/dev/null; then ok=1; break; fi
            sleep 0.1
        done
        [ $ok = 1 ] || { echo "tinyproxy ($name) did not start on $port; see $state/$name.out" >&2; exit 1; }
    done
    ;;
stop)
    stop
    ;;
esac
