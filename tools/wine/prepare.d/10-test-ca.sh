# Trusts the test CA of this build folder in the fresh prefix, so WinHTTP accepts the
# content-server stand-in's certificate (and still rejects the untrusted one).
set -euo pipefail
"$TOOLS/../content-server/tls.sh" "$BUILD/content-server/tls"
der="$BUILD/content-server/tls/test-ca.der"
wine "$BUILD/tools/wine/veltrane_trust_ca.exe" "Z:${der//\//\\}" </dev/null >/dev/null 2>&1
