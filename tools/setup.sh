#!/usr/bin/env bash
# Installs everything the two builds and the tests need on Debian 12 (run as root) and builds
# the MinGW libraries into the cache; prints the cache folder last. A second run checks and
# returns quickly.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

# What tools/build-deps.sh needs: installed first, so that the MinGW libraries build while
# the rest installs.
deps_packages=(
    cmake ninja-build make
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
    libz-mingw-w64-dev googletest autoconf automake libtool dpkg-dev
)
packages=(
    pkg-config g++ python3
    libpng-dev zlib1g-dev libsodium-dev nlohmann-json3-dev libgtest-dev
    clang-14 libclang-rt-14-dev
    wine wine64 xvfb xauth x11-apps
    fonts-nanum fonts-dejavu-core fontconfig imagemagick openssl ca-certificates nginx tinyproxy osslsigncode
)

updated=false
install_missing() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -gt 0 ] || return 0
    echo "setup: installing ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    if [ "$updated" = false ]; then
        apt-get update -q >&2
        updated=true
    fi
    apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
}

install_missing "${deps_packages[@]}"
# build-deps.sh keeps to an apt configuration of its own, so it may run beside apt-get install.
prefix_file=$(mktemp)
"$here/build-deps.sh" >"$prefix_file" &
deps=$!
trap '[ -z "$deps" ] || kill "$deps" 2>/dev/null || true; rm -f "$prefix_file"' EXIT
install_missing "${packages[@]}"
wait "$deps"
deps=
tail -n 1 "$prefix_file"
