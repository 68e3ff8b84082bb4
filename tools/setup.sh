#!/usr/bin/env bash
# Installs everything the two builds and the tests need on Debian 12 (run as root), then
# builds the MinGW libraries into the cache. A second run checks and returns quickly.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

packages=(
    cmake ninja-build make pkg-config g++ python3
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
    libz-mingw-w64-dev
    libpng-dev zlib1g-dev libsodium-dev nlohmann-json3-dev libgtest-dev googletest
    clang-14 libclang-rt-14-dev
    wine wine64 xvfb xauth x11-apps
    fonts-nanum fonts-dejavu-core fontconfig imagemagick openssl nginx tinyproxy osslsigncode
    autoconf automake libtool dpkg-dev
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q >&2
    apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
fi

"$here/build-deps.sh"
