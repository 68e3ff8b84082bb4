#!/usr/bin/env bash
# Release rings end to end: nginx on loopback with the repository's site file and a ring
# file written by veltrane-publish.exe, workstations under Wine from two addresses (direct from
# 127.0.0.1, and through a tinyproxy of this test's own that connects from 127.0.0.2) with
# identities of their own. The pilot ring (127.0.0.1 by address, and half of the identities)
# stages the new release and "all" does not; after promote both do; after a halt a pilot
# installation is offered the old release again and one that updated keeps its build. The
# fleet report on the log nginx wrote has a row per installation, two of them behind one address.
# Runs in the wine-proxy runtime, whose per-user proxy setting it changes.
#   nginx_rings_wine_test.sh BUILD PORT PROXY_PORT SYNC_CHILD.exe CHECK_CHILD.exe CHECK_CHILD_NEW.exe
set -Eeuo pipefail
trap 'echo "nginx_rings: failed at line $LINENO: $BASH_COMMAND" >&2' ERR
build=$(cd "$1" && pwd)
port=$2
proxy_port=$3
sync_child=$4
check_child=$5
check_child_new=$6
here=$(cd "$(dirname "$0")" && pwd)
tools=$here/../../tools
state=$build/nginx-rings
runtime=$build/${VELTRANE_WINE_RUNTIME:-wine}
run="$tools/wine/wine-run.sh $build"
winpath() { printf 'Z:%s' "${1//\//\\}"; }
publish() { $run "$build/tools/publish/veltrane-publish.exe" "$@"; }

proxy=
finish() {
    set_proxy "" || true
    if [ -n "$proxy" ]; then kill "$proxy" 2>/dev/null; wait "$proxy" 2>/dev/null || true; fi
    "$tools/nginx/control.sh" stop "$state/nginx" || true
}

# The per-user connection settings that WinHTTP reads (as the sync_proxy test writes them).
set_proxy() { # HOST:PORT, or "" for none
    local hex
    hex=$(python3 -c 'import struct, sys
p = sys.argv[1].encode()
blob = struct.pack("<4I", 0x46, 1, 3 if p else 1, len(p)) + p + struct.pack("<2I", 0, 0) + bytes(32)
print(blob.hex())' "$1")
    WINEPREFIX=$runtime/prefix WINEDEBUG=-all wine reg add \
        'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections' \
        /v DefaultConnectionSettings /t REG_BINARY /d "$hex" /f >/dev/null
}
trap finish EXIT

"$tools/nginx/control.sh" stop "$state/nginx"
rm -rf "$state"
mkdir -p "$state/site"
python3 - "$state" <<'PY'
import struct, sys, zlib
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
raw = b"".join(b"\0" + bytes((30, 120, 60)) * 320 for _ in range(200))
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 320, 200, 8, 2, 0, 0, 0)) + \
    chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")
for name, data in (("a.png", png), ("a.txt", "세트 A\n".encode()), ("duty.txt", "당직 김의사\n".encode()),
                   ("font.ttf", b"font of the release"),
                   ("release.key", b"Veltrane test signing key seed!!".hex().encode() + b"\n")):
    open(f"{sys.argv[1]}/{name}", "wb").write(data)
PY
site=$(winpath "$state/site")
publish duty --site "$site" --duty "$(winpath "$state/duty.txt")" >/dev/null
publish content --site "$site" --image "$(winpath "$state/a.png")" --text "$(winpath "$state/a.txt")" >/dev/null
cp "$check_child" "$state/old.exe"
cp "$check_child_new" "$state/new.exe"
release() { # EXECUTABLE [--ring NAME]
    publish release --secret-key "$(winpath "$state/release.key")" --site "$site" "${@:2}" \
        "$(winpath "$state/$1")" "$(winpath "$state/font.ttf")" >/dev/null
}

# Everyone on the old build; then a ring file with pilot, one command and a reload.
release old.exe
cp "$tools/nginx/veltrane-rings.conf" "$state/rings.conf"
"$tools/nginx/control.sh" start "$state/nginx" "$port" "$state/site" "$build/content-server/tls" "$state/rings.conf"
said=$(publish ring define pilot --site "$site" --rings "$(winpath "$state/rings.conf")" --addresses 127.0.0.1/32 --share 50)
grep -q 'nginx -t && systemctl reload nginx' <<<"$said"
"$tools/nginx/control.sh" reload "$state/nginx"
release new.exe --ring pilot
said=$(publish ring --site "$site")
grep -q '^ring pilot: serves 20261020\.101010\.0, halt goes back to 20261019\.230507\.0' <<<"$said" || { echo "$said" >&2; exit 1; }

# tinyproxy's connections to nginx come from 127.0.0.2.
mkdir -p "$state/proxy"
printf 'Port %s\nListen 127.0.0.1\nBind 127.0.0.2\nTimeout 60\nMaxClients 20\nAllow 127.0.0.1\nLogFile "%s"\nLogLevel Connect\nDisableViaHeader Yes\n' \
    "$proxy_port" "$state/proxy/tinyproxy.log" >"$state/proxy/tinyproxy.conf"
tinyproxy -d -c "$state/proxy/tinyproxy.conf" </dev/null >"$state/proxy/out" 2>&1 &
proxy=$!
for _ in $(seq 100); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $proxy_port), 0.2)" 2>/dev/null && break
    sleep 0.1
done

# An installation: the sync and update-check children side by side with its identity record.
install() { # NAME IDENTITY CHECK_EXECUTABLE
    mkdir -p "$state/$1"
    cp "$sync_child" "$state/$1/sync_child.exe"
    cp "$state/$3" "$state/$1/update_child.exe"
    printf '%s\n' "$2" >"$state/$1/Veltrane_Desktop.install-id"
}
# A staged check starts the updater; it finds no installation of this test's own to apply to.
wait_for_updaters() {
    for _ in $(seq 120); do
        grep -q -a -F 'nginx-rings' $(grep -l -a -i -F 'updater.exe' /proc/[0-9]*/cmdline 2>/dev/null) /dev/null 2>/dev/null || return 0
        sleep 0.5
    done
}
# On a loaded machine Wine's WinHTTP now and then stalls a TLS exchange with nginx until the
# request's deadline ends it (seen direct and through the proxy, one run in a few). A run that
# failed runs once more, as the product's retry schedule would run it; one that fails twice
# fails the test.
workstation() { # NAME VIA(direct|proxy) EXPECTED(staged|current)
    if [ "$2" = proxy ]; then set_proxy "127.0.0.1:$proxy_port"; else set_proxy ""; fi
    local record=$state/$1/Veltrane_Desktop.update-state
    $run "$state/$1/sync_child.exe" run || { echo "$1: the sync failed once; again" >&2; $run "$state/$1/sync_child.exe" run; } ||
        { echo "$1: the sync failed" >&2; tail -n 20 "$state/nginx/access.log" >&2; exit 1; }
    $run "$state/$1/update_child.exe" check
    if grep -q '^status=failed$' "$record"; then
        echo "$1: the update check failed once; again" >&2
        $run "$state/$1/update_child.exe" check
    fi
    wait_for_updaters
    if [ "$3" = staged ]; then
        grep -q '^status=staged$' "$record" && grep -q '^staged_build=20261020\.101010\.0$' "$record" &&
            [ "$(cat "$state/$1/Update/staging/ready")" = 20261020.101010.0 ]
    else
        grep -q '^status=current$' "$record" && [ ! -e "$state/$1/Update/staging/ready" ]
    fi || { echo "$1 ($2): expected $3, the record says:" >&2; cat "$record" >&2; tail -n 20 "$state/nginx/access.log" >&2; exit 1; }
    echo "nginx rings: $1 ($2) $3"
}
a=ffffffffffffffffffffffffffffffff  # outside the share: pilot by its address
b=00000000000000000000000000000001  # inside the share: pilot by identity, also through the proxy
c=fffffffffffffffffffffffffffffffe  # outside: all
d=7fffffffffffffffffffffffffffffff  # inside
install a "$a" old.exe
install b "$b" old.exe
install c "$c" old.exe
workstation a direct staged
workstation b proxy staged
workstation c proxy current
grep -q 'CONNECT localhost:'"$port" "$state/proxy/tinyproxy.log"

publish ring promote pilot all --site "$site" >/dev/null
rm -rf "$state/c"
install c "$c" old.exe
workstation c proxy staged

# Halted: pilot serves what it served before the release, while all keeps the new one.
publish ring halt pilot --site "$site" >/dev/null
install d "$d" old.exe
workstation d direct current
install a-updated "$a" new.exe
workstation a-updated direct current

# The fleet report on the log nginx wrote: every installation a row, two behind 127.0.0.2.
report=$(publish fleet --log "$(winpath "$state/nginx/access.log")" | tr -d '\r')
for row in "installation $a at 127.0.0.1  last sync 20.* UTC  build 20261020\.101010\.0  last update check 20.* UTC  ring pilot" \
    "installation $b at 127.0.0.2  last sync 20.* UTC  build 20261019\.230507\.0  last update check 20.* UTC  ring pilot" \
    "installation $c at 127.0.0.2  last sync 20.* UTC  build 20261019\.230507\.0  last update check 20.* UTC  ring all" \
    "installation $d at 127.0.0.1  .*  ring pilot" "^installations: 4 (4 by identity, 0 by address" \
    "^  all  20261019\.230507\.0  1$" "^  pilot  20261019\.230507\.0  2$" "^  pilot  20261020\.101010\.0  1$"; do
    grep -q "$row" <<<"$report" || { echo "fleet report without: $row" >&2; echo "$report" >&2; exit 1; }
done
echo "nginx rings: the fleet report has every installation, by identity, and the builds per ring"
