#!/usr/bin/env bash
# Makes the test certificates once per build folder: a test CA that the Wine prefix trusts,
# a server certificate for 127.0.0.1 and localhost signed by it, and a "rogue" pair signed by
# a CA that nobody trusts.   tls.sh FOLDER
set -euo pipefail
dir=$1
[ -f "$dir/.done" ] && exit 0
mkdir -p "$dir"
cd "$dir"
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
