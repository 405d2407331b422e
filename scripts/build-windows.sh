#!/usr/bin/env bash
# Builds Tollwick's command-line tool for 64-bit Windows on Debian 12: the mingw-w64 cross build
# of the `windows-cli` preset (the libraries, tollwick-cli.exe and the portable tests, all linked
# statically), and prints the path of tollwick-cli.exe.
#   bash scripts/build-windows.sh [TARGET...]   only these targets (default: all of the preset)
#
# Installs what it needs with apt-get (as root, or through sudo). The Windows dependencies go to
# build/windows-deps and are kept there for the next build:
# - CLI11, nlohmann/json and SimpleIni (header-only) and GoogleTest's sources from Debian's
#   packages, copied so that no Linux header is on the Windows include path;
# - hidapi, libsodium and SQLite from Debian's source packages of bookworm, fetched through a
#   private apt source list in build/windows-deps/apt (the machine's apt configuration is left
#   alone), pinned below and checked: apt checks the signed index and every file against it, this
#   script the .dsc against its pinned SHA-256, dpkg-source each file against the .dsc.
set -euo pipefail
cd "$(dirname "$0")/.."

# Pinned sources. A Debian point release that replaces one of them removes it from the archive:
# then pin the new version and the SHA-256 of its .dsc.
hidapi_version=0.13.1-1
hidapi_dsc_sha256=92ddd3bada49c1f58eef14fdd9172d0ac15abcfe216777890fae325ca4513ab0
sodium_version=1.0.18-1+deb12u1
sodium_dsc_sha256=2c23c57b5a9385dab5a1916014c9b5f2cdd7dadeb8a35b28c1bfb603ce7095c4
sqlite_version=3.40.1-2+deb12u2
sqlite_dsc_sha256=ee3459ae9d00939741c7708fc1b8ce1bde12d8c3fb1dfa005bbbc8651d884e23

deps=$PWD/build/windows-deps
prefix=$deps/prefix
toolchain=$PWD/cmake/mingw-w64-x86_64.cmake
host=x86_64-w64-mingw32
jobs=$(nproc)

say() { echo "build-windows: $*" >&2; }

install_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    say "installing ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
}

# apt on a source list of its own, with its own lists and cache, all below build/windows-deps.
private_apt() {
    local apt=$deps/apt
    mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/sources.list.d" \
        "$apt/preferences.d"
    echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg]" \
        "http://deb.debian.org/debian bookworm main" >"$apt/sources.list"
    local options=(
        -o "Dir::Etc::SourceList=$apt/sources.list" -o "Dir::Etc::SourceParts=$apt/sources.list.d"
        -o "Dir::Etc::Preferences=$apt/preferences" -o "Dir::Etc::PreferencesParts=$apt/preferences.d"
        -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o Debug::NoLocking=1
    )
    # Downloads into this folder as the user who runs the script (apt's own user cannot write here).
    [ "$(id -u)" -eq 0 ] && options+=(-o APT::Sandbox::User=root)
    apt-get "${options[@]}" "$@"
}

# Fetches and unpacks one pinned source package into $deps/src/NAME.
fetch_source() {
    local name=$1 version=$2 sha256=$3
    local dsc="${name}_${version#*:}.dsc"
    mkdir -p "$deps/src"
    (cd "$deps/src" && private_apt -qq source --download-only "$name=$version" >/dev/null)
    echo "$sha256  $deps/src/$dsc" | sha256sum --check --quiet ||
        { say "$dsc is not the pinned one"; exit 1; }
    rm -rf "$deps/src/$name"
    # Checks every file against the .dsc. The uploader's signature on it needs debian-keyring;
    # the trust comes from apt's signed index and the pin.
    dpkg-source -x "$deps/src/$dsc" "$deps/src/$name" >"$deps/$name-unpack.log" 2>&1 ||
        { cat "$deps/$name-unpack.log" >&2; say "$dsc: its files do not match it"; exit 1; }
}

build_googletest() {
    say "GoogleTest"
    cmake -S /usr/src/googletest -B "$deps/build/googletest" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
    cmake --build "$deps/build/googletest" -j "$jobs" >/dev/null
    cmake --install "$deps/build/googletest" >/dev/null
}

build_hidapi() {
    say "hidapi (its Windows backend)"
    cmake -S "$deps/src/hidapi" -B "$deps/build/hidapi" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DBUILD_SHARED_LIBS=OFF -DHIDAPI_BUILD_HIDTEST=OFF \
        -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
    cmake --build "$deps/build/hidapi" -j "$jobs" >/dev/null
    cmake --install "$deps/build/hidapi" >/dev/null
}

build_libsodium() {
    say "libsodium (minimal: what the password hash needs)"
    # autoreconf, not the package's autogen.sh: that one downloads config.sub.
    (
        cd "$deps/src/libsodium"
        autoreconf -fi >/dev/null 2>&1
        ./configure --host="$host" CC="$host-gcc-posix" --prefix="$prefix" \
            --disable-shared --enable-static --enable-minimal --disable-dependency-tracking \
            >"$deps/libsodium-configure.log" 2>&1 ||
            { say "libsodium: configure failed (see $deps/libsodium-configure.log)"; exit 1; }
        make -j "$jobs" >/dev/null 2>&1
        make install >/dev/null
    )
}

build_sqlite3() {
    say "SQLite (the amalgamation, thread-safe, static)"
    # The source tree makes its one-file amalgamation with the host's tclsh; that file is then
    # compiled for Windows. SQLite calls the Windows API itself: no pthreads, no DLL.
    (
        mkdir -p "$deps/build/sqlite3" && cd "$deps/build/sqlite3"
        "$deps/src/sqlite3/configure" --disable-tcl >"$deps/sqlite3-configure.log" 2>&1 ||
            { say "sqlite3: configure failed (see $deps/sqlite3-configure.log)"; exit 1; }
        make sqlite3.c >"$deps/sqlite3-amalgamation.log" 2>&1 ||
            { say "sqlite3: no amalgamation (see $deps/sqlite3-amalgamation.log)"; exit 1; }
        "$host-gcc-posix" -c -O2 -DSQLITE_THREADSAFE=1 -DSQLITE_OMIT_LOAD_EXTENSION \
            -o sqlite3.o sqlite3.c
        mkdir -p "$prefix/lib" && rm -f "$prefix/lib/libsqlite3.a"
        "$host-ar" rcs "$prefix/lib/libsqlite3.a" sqlite3.o
        cp sqlite3.h sqlite3ext.h "$prefix/include/"
    )
}

build_dependencies() {
    rm -rf "$prefix"
    mkdir -p "$prefix/include" "$prefix/share/cmake"
    say "header-only libraries from Debian's packages"
    cp -a /usr/include/CLI /usr/include/nlohmann /usr/include/SimpleIni.h "$prefix/include/"
    cp -a /usr/share/cmake/CLI11 /usr/share/cmake/nlohmann_json "$prefix/share/cmake/"

    say "source packages hidapi $hidapi_version, libsodium $sodium_version, sqlite3 $sqlite_version"
    private_apt -qq update
    fetch_source hidapi "$hidapi_version" "$hidapi_dsc_sha256"
    fetch_source libsodium "$sodium_version" "$sodium_dsc_sha256"
    fetch_source sqlite3 "$sqlite_version" "$sqlite_dsc_sha256"

    # The four are built side by side: much of each is a configure script or a single large file
    # (SQLite's, the longest), one core each. Each one's output is in $deps/NAME-build.log.
    say "building SQLite, libsodium, hidapi and GoogleTest side by side"
    local name failed=() names=(sqlite3 libsodium hidapi googletest)
    local -A pid
    for name in "${names[@]}"; do
        ("build_$name") >"$deps/$name-build.log" 2>&1 &
        pid[$name]=$!
    done
    for name in "${names[@]}"; do
        wait "${pid[$name]}" || failed+=("$name")
    done
    if [ ${#failed[@]} -ne 0 ]; then
        for name in "${failed[@]}"; do
            tail -n 20 "$deps/$name-build.log" >&2
        done
        say "failed to build ${failed[*]} (see $deps/NAME-build.log)"
        exit 1
    fi
    echo "$pins" >"$prefix/pins"
}

install_packages g++-mingw-w64-x86-64-posix cmake ninja-build pkg-config make dpkg-dev \
    autoconf automake libtool tcl debian-archive-keyring \
    libcli11-dev nlohmann-json3-dev libsimpleini-dev googletest

# The dependencies are rebuilt when a pin or this script changes.
pins="hidapi=$hidapi_version libsodium=$sodium_version sqlite3=$sqlite_version"
pins+=" $(sha256sum "$0" | cut -c1-16)"
# The build is configured again after them: a cache may hold what an earlier prefix lacked.
if [ "$(cat "$prefix/pins" 2>/dev/null)" != "$pins" ]; then
    build_dependencies
    rm -f build/windows-cli/CMakeCache.txt build/windows-cli/build.ninja
fi

[ -f build/windows-cli/build.ninja ] || cmake --preset windows-cli >/dev/null
if [ $# -gt 0 ]; then
    cmake --build --preset windows-cli --target "$@"
else
    cmake --build --preset windows-cli
fi
echo "$PWD/build/windows-cli/src/cli/tollwick-cli.exe"
