#!/usr/bin/env bash
# Makes the test certificates once per build folder: a test CA that the Wine prefix trusts,
# a server certificate for 127.0.0.1 and localhost signed by it, and a "rogue" pair signed by
# a CA that nobody trusts.   tls.sh FOLDER
# Several fixtures call it at once on a first run (each Wine runtime's set-up, the servers):
# one makes the set in a scratch folder under a lock and renames it into place, so no caller
# ever sees, trusts or serves a half-made or mixed set.
set -Eeuo pipefail
trap 'echo "tls.sh: failed at line $LINENO: $BASH_COMMAND" >&2' ERR
dir=$1
[ -f "$dir/.done" ] && exit 0
mkdir -p "$(dirname "$dir")"
exec 9>"$dir.lock"
flock 9
[ -f "$dir/.done" ] && exit 0
rm -rf "$dir".new-*
work=$(mktemp -d "$dir.new-XXXXXX")
chmod 755 "$work"
cd "$work"
make_ca() { # name subject
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1-ca.key" -out "$1-ca.pem" -days 3650 \
        -subj "/CN=$2" -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
}
make_leaf() { # ca out
    openssl req -newkey rsa:2048 -nodes -keyout "$2.key" -out "$2.csr" -subj "/CN=127.0.0.1" 2>/dev/null
    printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n' >"$2.ext"
    openssl x509 -req -in "$2.csr" -CA "$1-ca.pem" -CAkey "$1-ca.key" -CAcreateserial -out "$2.pem" -days 825 \
        -extfile "$2.ext" 2>/dev/null
}
make_ca test "Veltrane Test CA"
make_ca rogue "Untrusted Test CA"
make_leaf test server
make_leaf rogue rogue
openssl x509 -in test-ca.pem -outform der -out test-ca.der
touch .done
cd /
rm -rf "$dir"
mv "$work" "$dir"
