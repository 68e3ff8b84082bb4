#!/usr/bin/env bash
# Starts or stops Debian's nginx with the repository's site configuration on loopback, under
# a private prefix, with the test CA's server certificate; never the system's nginx service.
#   control.sh start|stop|reload STATE_FOLDER PORT SITE_FOLDER [TLS_FOLDER] [RING_FILE]
# TLS_FOLDER (default STATE_FOLDER/tls) is made by tools/content-server/tls.sh; the Wine
# tests pass the build's, whose CA the prefix trusts. RING_FILE (default the shipped one, no
# ring) is what `veltrane-publish ring define --rings` writes. The site's access log is
# STATE_FOLDER/access.log.
# Start returns once the site serves with that certificate, or fails at once and says why.
set -Eeuo pipefail
trap 'echo "nginx control.sh: failed at line $LINENO: $BASH_COMMAND" >&2' ERR
mode=$1
mkdir -p "$2"
state=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
running() { [ -e "/proc/$1" ] && ! grep -q ') Z' "/proc/$1/stat" 2>/dev/null; }
stop() {
    [ -f "$state/nginx.pid" ] || return 0
    local pid
    pid=$(cat "$state/nginx.pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 100); do running "$pid" || break; sleep 0.1; done
    if running "$pid"; then
        echo "nginx $pid did not end" >&2
        exit 1
    fi
    rm -f "$state/nginx.pid"
}
case $mode in
start)
    port=$3
    mkdir -p "$4"
    site=$(cd "$4" && pwd)
    tls=${5:-$state/tls}
    rings=${6:-$here/veltrane-rings.conf}
    [ -f "$rings" ] || { echo "nginx: no ring file $rings" >&2; exit 1; }
    rings=$(cd "$(dirname "$rings")" && pwd)/$(basename "$rings")
    "$here/../content-server/tls.sh" "$tls"
    tls=$(cd "$tls" && pwd)
    stop
    mkdir -p "$state/temp"
    # The site file exactly as deployed, bound to this prefix's port, folder and certificate.
    sed -e "s|listen 443 ssl;|listen 127.0.0.1:$port ssl;|" -e '/listen \[::\]:443 ssl;/d' \
        -e "s|/srv/veltrane/site|$site|" -e "s|/etc/ssl/veltrane/|$tls/|" \
        -e "s|/var/log/nginx/veltrane-access.log|$state/access.log|" -e "s|/etc/nginx/veltrane-rings.conf|$rings|" \
        "$here/veltrane-site.conf" >"$state/veltrane-site.conf"
    grep -q "127.0.0.1:$port" "$state/veltrane-site.conf" && grep -q "root $site;" "$state/veltrane-site.conf" &&
        grep -q "access_log $state/access.log veltrane;" "$state/veltrane-site.conf" &&
        grep -q "^include $rings;" "$state/veltrane-site.conf"
    cat >"$state/nginx.conf" <<CONF
pid $state/nginx.pid;
error_log $state/error.log;
# Workers as whoever started it: a clone under root's own folder is closed to nobody.
user $(id -un) $(id -gn);
worker_processes 1;
events { worker_connections 64; }
http {
    # A host's own format for its other sites (nginx.org's packages set this one); the
    # site's log must not follow it.
    log_format main '\$remote_addr - \$remote_user [\$time_local] "\$request" '
                    '\$status \$body_bytes_sent "\$http_referer" '
                    '"\$http_user_agent" "\$http_x_forwarded_for"';
    access_log $state/host-access.log main;
    client_body_temp_path $state/temp/body;
    proxy_temp_path $state/temp/proxy;
    fastcgi_temp_path $state/temp/fastcgi;
    uwsgi_temp_path $state/temp/uwsgi;
    scgi_temp_path $state/temp/scgi;
    include $state/veltrane-site.conf;
}
CONF
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
        echo "nginx: port $port is already in use:" >&2
        ss -ltnp "sport = :$port" >&2 || true
        exit 1
    fi
    nginx -p "$state" -c "$state/nginx.conf" -e "$state/error.log"
    if ! python3 "$here/../content-server/ready.py" "$(cat "$state/nginx.pid")" 60 "$port=$tls/test-ca.pem"; then
        echo "nginx did not serve; its error log ($state/error.log):" >&2
        cat "$state/error.log" >&2
        stop
        exit 1
    fi
    ;;
reload)
    # After the ring file changed: nginx reads it again, and refuses a broken one.
    nginx -p "$state" -c "$state/nginx.conf" -e "$state/error.log" -t -q
    nginx -p "$state" -c "$state/nginx.conf" -e "$state/error.log" -s reload
    sleep 1
    ;;
stop)
    stop
    ;;
esac
