#!/usr/bin/env bash
# Starts or stops Debian's nginx with the repository's site configuration on loopback, under
# a private prefix, with the test CA's server certificate; never the system's nginx service.
#   control.sh start|stop STATE_FOLDER PORT SITE_FOLDER [TLS_FOLDER]
# TLS_FOLDER (default STATE_FOLDER/tls) is made by tools/content-server/tls.sh; the Wine
# tests pass the build's, whose CA the prefix trusts.
set -euo pipefail
mode=$1
mkdir -p "$2"
state=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
stop() {
    [ -f "$state/nginx.pid" ] && kill "$(cat "$state/nginx.pid")" 2>/dev/null || true
    for _ in $(seq 50); do [ -f "$state/nginx.pid" ] || break; sleep 0.1; done
    rm -f "$state/nginx.pid"
}
case $mode in
start)
    port=$3
    mkdir -p "$4"
    site=$(cd "$4" && pwd)
    tls=${5:-$state/tls}
    "$here/../content-server/tls.sh" "$tls"
    tls=$(cd "$tls" && pwd)
    stop
    mkdir -p "$state/temp"
    # The site file exactly as deployed, bound to this prefix's port, folder and certificate.
    sed -e "s|listen 443 ssl;|listen 127.0.0.1:$port ssl;|" -e '/listen \[::\]:443 ssl;/d' \
        -e "s|/srv/veltrane/site|$site|" -e "s|/etc/ssl/veltrane/|$tls/|" \
        "$here/veltrane-site.conf" >"$state/veltrane-site.conf"
    grep -q "127.0.0.1:$port" "$state/veltrane-site.conf" && grep -q "root $site;" "$state/veltrane-site.conf"
    cat >"$state/nginx.conf" <<CONF
pid $state/nginx.pid;
error_log $state/error.log;
worker_processes 1;
events { worker_connections 64; }
http {
    access_log $state/access.log;
    client_body_temp_path $state/temp/body;
    proxy_temp_path $state/temp/proxy;
    fastcgi_temp_path $state/temp/fastcgi;
    uwsgi_temp_path $state/temp/uwsgi;
    scgi_temp_path $state/temp/scgi;
    include $state/veltrane-site.conf;
}
CONF
    nginx -p "$state" -c "$state/nginx.conf" -e "$state/error.log"
    for _ in $(seq 100); do
        if python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2)" 2>/dev/null; then exit 0; fi
        sleep 0.1
    done
    echo "nginx did not start; see $state/error.log" >&2
    exit 1
    ;;
stop)
    stop
    ;;
esac
