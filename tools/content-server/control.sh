#!/usr/bin/env bash
# Starts or stops the content-server stand-in of one build folder (a ctest fixture).
#   control.sh start|stop BUILD PORT UNTRUSTED_PORT [SPOTLIGHT_PORT]
# Start returns once every port serves with its certificate, or fails at once and says why.
# The stand-in ends with its starter (the ctest run) if nobody stops it.
set -Eeuo pipefail
trap 'echo "content-server control.sh: failed at line $LINENO: $BASH_COMMAND" >&2' ERR
mode=$1
build=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
state=$build/content-server
tls=$state/tls

running() { [ -e "/proc/$1" ] && ! grep -q ') Z' "/proc/$1/stat" 2>/dev/null; }
stop() {
    [ -f "$state/pid" ] || return 0
    local pid
    pid=$(cat "$state/pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 100); do running "$pid" || break; sleep 0.1; done
    if running "$pid"; then
        echo "content server $pid did not end" >&2
        exit 1
    fi
    rm -f "$state/pid"
}

case $mode in
start)
    "$here/tls.sh" "$tls"
    stop
    ports=("$3" "$4" ${5:+"$5"})
    for port in "${ports[@]}"; do
        if [ "$port" != 0 ] && (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            echo "content server: port $port is already in use:" >&2
            ss -ltnp "sport = :$port" >&2 || true
            exit 1
        fi
    done
    rm -rf "$state/root"
    mkdir -p "$state/root"
    python3 "$here/server.py" --root "$state/root" --tls "$tls" --port "$3" --untrusted-port "$4" \
        --spotlight-port "${5:-0}" --owner "$PPID" \
        </dev/null >"$state/server.log" 2>&1 &
    echo $! >"$state/pid"
    checks=("$3=$tls/test-ca.pem" "$4=$tls/rogue-ca.pem")
    [ "${5:-0}" != 0 ] && checks+=("$5=$tls/test-ca.pem")
    if ! python3 "$here/ready.py" "$!" 60 "${checks[@]}"; then
        echo "content server did not start; its log ($state/server.log):" >&2
        cat "$state/server.log" >&2
        stop
        exit 1
    fi
    ;;
stop)
    stop
    ;;
esac
