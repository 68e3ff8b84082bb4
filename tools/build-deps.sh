#!/usr/bin/env bash
# Builds the Windows (MinGW-w64) static libraries the product links: libpng, libsodium and
# GoogleTest, from Debian's source packages, into a cache folder keyed by version. A second
# run finds the stamps and returns at once.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
cache=${VELTRANE_DEPS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/veltrane-deps}
triple=x86_64-w64-mingw32
toolchain=$here/cmake/mingw-w64-x86_64.cmake
jobs=$(nproc)

LIBPNG_VERSION=1.6.39-2+deb12u5
LIBSODIUM_VERSION=1.0.18-1+deb12u1
GTEST_VERSION=$(dpkg-query -W -f='${Version}' googletest)

prefix=$cache/mingw64-png${LIBPNG_VERSION}-sodium${LIBSODIUM_VERSION}-gtest${GTEST_VERSION}
mkdir -p "$prefix" "$cache/src"
# Builds share one cache folder: a second run waits for the first instead of building over it.
exec 9>"$cache/.lock"
flock 9

# The main archive this machine already installs from (deb822 or one-line sources).
debian_archive_uri() {
    local uri
    uri=$(awk '/^URIs:/ {u=$2} /^Suites:/ && / bookworm( |$)/ && u != "" {print u; exit}' \
              /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
    [ -n "$uri" ] || uri=$(awk '$1 == "deb" && $0 ~ / bookworm / {for (i = 2; i <= NF; i++) if ($i ~ /:\/\//) {print $i; exit}}' \
              /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null | head -n 1)
    if [ -z "$uri" ]; then
        echo "build-deps: no Debian bookworm archive found in this machine's apt sources" >&2
        exit 1
    fi
    echo "$uri"
}

# A private apt configuration so the machine's own source list stays untouched.
apt_src() {
    local pkg=$1 version=$2 dir=$cache/src/$1-$2
    if [ -d "$dir/unpacked" ]; then echo "$dir/unpacked"; return; fi
    local aptdir=$cache/apt
    mkdir -p "$aptdir/lists/partial" "$aptdir/archives/partial" "$dir"
    local uri
    uri=$(debian_archive_uri)
    cat > "$aptdir/sources.list" <<SRC
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $uri bookworm main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $uri bookworm-updates main
SRC
    local opts=(-o "Dir::Etc::SourceList=$aptdir/sources.list" -o "Dir::Etc::SourceParts=/dev/null"
                -o "Dir::State::Lists=$aptdir/lists" -o "Dir::Cache::Archives=$aptdir/archives"
                -o "APT::Get::AllowUnauthenticated=false")
    if [ ! -f "$aptdir/updated" ]; then
        apt-get "${opts[@]}" update >&2
        touch "$aptdir/updated"
    fi
    (cd "$dir" && apt-get "${opts[@]}" source --download-only "$pkg=$version" >&2)
    local dsc
    dsc=$(ls "$dir"/*.dsc)
    (cd "$dir" && rm -rf unpacked && dpkg-source -x "$dsc" unpacked >&2)
    echo "$dir/unpacked"
}

build_libpng() {
    [ -f "$prefix/.libpng-done" ] && return
    local src b
    src=$(apt_src libpng1.6 "$LIBPNG_VERSION")
    b=$cache/build/libpng
    rm -rf "$b"
    cmake -S "$src" -B "$b" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
        -DZLIB_LIBRARY=/usr/$triple/lib/libz.a -DZLIB_INCLUDE_DIR=/usr/$triple/include \
        -DSKIP_INSTALL_PROGRAMS=ON >&2
    cmake --build "$b" -j "$jobs" >&2
    cmake --install "$b" >&2
    cp /usr/$triple/lib/libz.a "$prefix/lib/"
    cp /usr/$triple/include/zlib.h /usr/$triple/include/zconf.h "$prefix/include/"
    touch "$prefix/.libpng-done"
}

build_libsodium() {
    [ -f "$prefix/.libsodium-done" ] && return
    local src b
    src=$(apt_src libsodium "$LIBSODIUM_VERSION")
    b=$cache/build/libsodium
    rm -rf "$b"; cp -a "$src" "$b"
    (cd "$b" && [ -x configure ] || ./autogen.sh -s >&2 || ./autogen.sh >&2)
    (cd "$b" && CC=$triple-gcc-posix ./configure --host=$triple --prefix="$prefix" \
        --disable-shared --enable-static --disable-ssp --with-pic=no >&2 \
     && make -j "$jobs" >&2 && make install >&2)
    touch "$prefix/.libsodium-done"
}

build_gtest() {
    [ -f "$prefix/.gtest-done" ] && return
    local b=$cache/build/googletest
    rm -rf "$b"
    cmake -S /usr/src/googletest -B "$b" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
        -Dgtest_disable_pthreads=OFF -DBUILD_GMOCK=OFF \
        -DCMAKE_CXX_FLAGS="-static" >&2
    cmake --build "$b" -j "$jobs" >&2
    cmake --install "$b" >&2
    touch "$prefix/.gtest-done"
}

build_libpng
build_libsodium
build_gtest
echo "$prefix"
