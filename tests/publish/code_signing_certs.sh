#!/usr/bin/env bash
# Makes test code-signing material in FOLDER, as a hospital's CA would hand it out: a CA,
# a code-signing certificate with the subject fields an AppLocker publisher rule reads, as
# PKCS#12 (password in FOLDER/password) and as a PEM chain with an encrypted key; the same
# key in an expired certificate, in one without code signing, and in another hospital's
# certificate; a time-stamping certificate.   code_signing_certs.sh FOLDER
set -Eeuo pipefail
trap 'echo "code_signing_certs.sh: failed at line $LINENO: $BASH_COMMAND" >&2' ERR
cd "$1"
printf 'test password\n' >password
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 30 -subj "/CN=Veltrane Test Code Signing CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out signing.key 2>/dev/null
leaf() { # name subject days extended-key-usage
    openssl req -new -key signing.key -out "$1.csr" -subj "$2"
    printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n' "$4" >"$1.ext"
    openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -out "$1.pem" -days "$3" \
        -extfile "$1.ext" 2>/dev/null
    openssl pkcs12 -export -inkey signing.key -in "$1.pem" -certfile ca.pem -passout file:password -out "$1.p12"
}
hospital="/C=KR/ST=Seoul/L=Jongno-gu/O=Test Hospital/CN=Test Hospital"
leaf signing "$hospital" 30 codeSigning
leaf expired "$hospital" -1 codeSigning
leaf server "$hospital" 30 serverAuth
leaf other "/C=KR/ST=Busan/L=Jung-gu/O=Other Hospital/CN=Other Hospital" 30 codeSigning
leaf tsa "/CN=Veltrane Test Time Stamps" 30 critical,timeStamping
cat signing.pem ca.pem >chain.pem
openssl pkey -in signing.key -aes256 -passout file:password -out signing-encrypted.key
printf '[tsa]\ndefault_tsa=t\n[t]\nserial=%s/tsa.serial\nsigner_digest=sha256\ndefault_policy=1.2.3.4.1\ndigests=sha256\ness_cert_id_alg=sha256\n' \
    "$PWD" >tsa.cnf
echo 01 >tsa.serial
