#!/usr/bin/env bash
# Starts or stops the content-server stand-in of one build folder (a ctest fixture).
#   control.sh start|stop BUILD PORT UNTRUSTED_PORT [SPOTLIGHT_PORT]
set -euo pipefail
mode=$1
build=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
state=$build/content-server
case $mode in
start)
    "$here/tls.sh" "$state/tls"
    [ -f "$state/pid" ] && kill "$(cat "$state/pid")" 2>/dev/null || true
    rm -rf "$state/root"
    mkdir -p "$state/root"
    python3 "$here/server.py" --root "$state/root" --tls "$state/tls" --port "$3" --untrusted-port "$4" \
        --spotlight-port "${5:-0}" \
        </dev/null >"$state/server.log" 2>&1 &
    echo $! >"$state/pid"
    for _ in $(seq 100); do
        if python3 -c "import socket,sys; socket.create_connection(('127.0.0.1', $3), 0.2)" 2>/dev/null; then exit 0; fi
        sleep 0.1
    done
    echo "content server did not start; see $state/server.log" >&2
    exit 1
    ;;
stop)
    [ -f "$state/pid" ] && kill "$(cat "$state/pid")" 2>/dev/null || true
    rm -f "$state/pid"
    ;;
esac
