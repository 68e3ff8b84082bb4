#!/usr/bin/env bash
# A workstation syncing from the repository's nginx site under Wine: the Windows build's
# veltrane-publish.exe publishes, nginx serves on a port of its own with the certificate the
# prefix trusts, and the sync child (built with that port's origin) gets generations that are
# byte for byte the published files, never a mix of two sets while sets are being published;
# the fleet report reads the log nginx wrote.
#   nginx_sync_wine_test.sh BUILD PORT SYNC_CHILD.exe
set -Eeuo pipefail
trap 'echo "nginx_sync: failed at line $LINENO: $BASH_COMMAND" >&2' ERR
build=$(cd "$1" && pwd)
port=$2
child=$3
here=$(cd "$(dirname "$0")" && pwd)
tools=$here/../../tools
state=$build/nginx-sync
run="$tools/wine/wine-run.sh $build"
winpath() { printf 'Z:%s' "${1//\//\\}"; }

publisher=
finish() {
    if [ -n "$publisher" ]; then kill "$publisher" 2>/dev/null; wait "$publisher" 2>/dev/null || true; fi
    "$tools/nginx/control.sh" stop "$state/nginx" || true
}
trap finish EXIT

"$tools/nginx/control.sh" stop "$state/nginx"
rm -rf "$state"
mkdir -p "$state/ws" "$state/site"
python3 - "$state" <<'PY'
import struct, sys, zlib
def png(rgb):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    raw = b"".join(b"\0" + bytes(rgb) * 320 for _ in range(200))
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 320, 200, 8, 2, 0, 0, 0)) + \
        chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")
for name, data in (("a.png", png((200, 30, 30))), ("b.png", png((30, 30, 200))),
                   ("a.txt", "\n세트 A\n---\npadding_x=10\n".encode()), ("b.txt", "세트 B\n".encode()),
                   ("duty.txt", "당직 김의사\n".encode())):
    open(f"{sys.argv[1]}/{name}", "wb").write(data)
PY
publish() { # image text
    $run "$build/tools/publish/veltrane-publish.exe" content --site "$(winpath "$state/site")" \
        --image "$(winpath "$state/$1")" --text "$(winpath "$state/$2")" >/dev/null
}
$run "$build/tools/publish/veltrane-publish.exe" duty --site "$(winpath "$state/site")" --duty "$(winpath "$state/duty.txt")"
publish a.png a.txt
"$tools/nginx/control.sh" start "$state/nginx" "$port" "$state/site" "$build/content-server/tls"
cp "$child" "$state/ws/sync_child.exe"
# A failed sync says nothing itself; what nginx saw tells why. A stall of Wine's WinHTTP on
# a loaded machine (tests/nginx/nginx_rings_wine_test.sh) gets one more run.
sync_once() {
    $run "$state/ws/sync_child.exe" run && return 0
    echo "the sync failed once; again" >&2
    $run "$state/ws/sync_child.exe" run && return 0
    echo "the sync failed; nginx's access log and error log:" >&2
    tail -n 20 "$state/nginx/access.log" "$state/nginx/error.log" >&2 || true
    return 1
}

# The published set, exactly: the current generation holds set A, the duty roster as given.
check_generation() { # expected set letters
    local gen
    gen=$(cat "$state/ws/Veltrane_Desktop.current")
    for set in "$@"; do
        if cmp -s "$state/ws/Content/$gen/Veltrane_Desktop.png" "$state/$set.png" &&
            cmp -s "$state/ws/Content/$gen/Veltrane_Desktop.txt" "$state/$set.txt"; then return 0; fi
    done
    echo "generation $gen is not one published set ($*)" >&2
    return 1
}
sync_once
check_generation a
cmp "$state/ws/Veltrane_Desktop.duty.txt" "$state/duty.txt"

# Sets published over and over while the workstation syncs.
(while true; do publish b.png b.txt && echo b >>"$state/published"; publish a.png a.txt && echo a >>"$state/published"; done) &
publisher=$!
for _ in 1 2 3 4; do
    sync_once
    check_generation a b
done
kill "$publisher"; wait "$publisher" 2>/dev/null || true; publisher=
[ "$(wc -l <"$state/published")" -ge 2 ] || { echo "the publisher did not publish during the syncs" >&2; exit 1; }
echo "nginx sync: every generation was one published set, byte for byte ($(wc -l <"$state/published") publications meanwhile)"

# The fleet report on the log nginx wrote: the workstation, its last sync and the build its
# user agent names.
report=$($run "$build/tools/publish/veltrane-publish.exe" fleet --log "$(winpath "$state/nginx/access.log")")
grep -q "^address 127\.0\.0\.1, no identity  last sync 20.* UTC  build 20261019\.230507\.0  last update check never  ring all" <<<"$report" ||
    { echo "fleet report without the workstation's sync and build:" >&2; echo "$report" >&2; exit 1; }
echo "nginx sync: the fleet report names the workstation's last sync and build"
