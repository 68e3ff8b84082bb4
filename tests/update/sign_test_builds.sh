#!/usr/bin/env bash
# Test code signing for the update tests, made at every run because the test certificates
# last 30 days: the test CA trusted in the build's Wine prefix, and each program given as
# NAME.signed.exe (the test hospital's certificate) and NAME.other.exe (another hospital's)
# in OUT, signed with osslsigncode as the publishing tool signs releases.
#   sign_test_builds.sh BUILD OUT PROGRAM.exe...
set -Eeuo pipefail
trap 'echo "sign_test_builds.sh: failed at line $LINENO: $BASH_COMMAND" >&2' ERR
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$1 out=$2
shift 2
rm -rf "$out"
mkdir -p "$out"
"$root/tests/publish/code_signing_certs.sh" "$out"
openssl x509 -in "$out/ca.pem" -outform DER -out "$out/ca.der"
"$root/tools/wine/wine-run.sh" "$build" "$build/tools/wine/veltrane_trust_ca.exe" "Z:${out//\//\\}\\ca.der"
for program; do
    name=$(basename "$program" .exe)
    osslsigncode sign -pkcs12 "$out/signing.p12" -readpass "$out/password" -h sha256 -in "$program" \
        -out "$out/$name.signed.exe" >/dev/null
    osslsigncode sign -pkcs12 "$out/other.p12" -readpass "$out/password" -h sha256 -in "$program" \
        -out "$out/$name.other.exe" >/dev/null
done
