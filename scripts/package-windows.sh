#!/usr/bin/env bash
# Makes the Windows package of the command-line tool,
# build/windows-cli/package/tollwick-cli-<version>-windows-x64.zip: tollwick-cli.exe (stripped),
# README.txt (the README for Windows), LICENSE.txt and licences/ (those of the libraries linked
# into the program, taken from their sources and Debian's copyright files). Builds tollwick-cli.exe
# first (scripts/build-windows.sh); prints the path of the zip.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/build-windows.sh tollwick-cli >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/windows-cli/CMakeCache.txt)
name=tollwick-cli-$version-windows-x64
out=build/windows-cli/package
stage=$out/$name
rm -rf "$stage" "$out/$name.zip"
mkdir -p "$stage/licences"

# Text files with Windows line ends, so that Notepad of any age shows them right.
crlf() { sed 's/\r$//; s/$/\r/' "$1" >"$2"; }

x86_64-w64-mingw32-strip -o "$stage/tollwick-cli.exe" build/windows-cli/src/cli/tollwick-cli.exe
sed "s/@VERSION@/$version/g" packaging/windows/README.txt >"$stage/README.tmp"
crlf "$stage/README.tmp" "$stage/README.txt"
rm "$stage/README.tmp"
crlf LICENSE "$stage/LICENSE.txt"
deps=build/windows-deps/src
crlf "$deps/hidapi/LICENSE-bsd.txt" "$stage/licences/hidapi.txt"
crlf "$deps/libsodium/LICENSE" "$stage/licences/libsodium.txt"
crlf "$deps/sqlite3/debian/copyright" "$stage/licences/SQLite.txt"
crlf /usr/share/doc/libcli11-dev/copyright "$stage/licences/CLI11.txt"
crlf /usr/share/doc/nlohmann-json3-dev/copyright "$stage/licences/nlohmann-json.txt"
crlf /usr/share/doc/libsimpleini-dev/copyright "$stage/licences/SimpleIni.txt"
# The C and C++ runtimes linked in: mingw-w64's (winpthreads included) and GCC's libstdc++
# (GPL with the runtime library exception).
crlf /usr/share/doc/mingw-w64-common/copyright "$stage/licences/mingw-w64-runtime.txt"
crlf /usr/share/doc/gcc-mingw-w64-base/copyright "$stage/licences/gcc-runtime.txt"

(cd "$out" && cmake -E tar cf "$name.zip" --format=zip "$name")
echo "$PWD/$out/$name.zip"
