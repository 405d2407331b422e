#!/usr/bin/env bash
# The Windows build, tried on Linux: the portable test suite under wine (headless), then
# tollwick-cli.exe through a --simulate session compared with the Linux build's tollwick-cli
# (scripts/compare-windows.sh), then every source of the desktop program compiled for Windows in
# syntax-only mode against Debian's Qt headers, so that its Windows-only branches are compiled.
#   bash scripts/test-windows.sh
# Needs the windows-cli build (scripts/build-windows.sh) and the release build (scripts/build.sh);
# installs wine and Qt's headers when missing. Wine keeps its prefix in build/wine.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS

say() { echo "test-windows: $*" >&2; }

missing=()
for p in wine wine64 qt6-base-dev qt6-svg-dev; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
fi

# Headless: no display, no debug chatter, a prefix of our own kept between runs, and one wine
# server for all the programs (each start would otherwise pay for its own).
export WINEDEBUG=-all WINEPREFIX="$PWD/build/wine" WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$WINEPREFIX"
wineserver -p 2>/dev/null || true  # already running for this prefix: fine
trap 'wineserver -k 2>/dev/null || true' EXIT
wineboot --init >/dev/null 2>&1
say "wine ready after $((SECONDS - start)) s"

echo "== Windows: the portable suite under wine ==" >&2
# Wine schedules threads less evenly than Windows: a test program that overruns 5 minutes is
# stopped and, like one that failed, tried once more before the suite fails.
ctest --preset windows-cli -j "$(nproc)" --timeout 300 --repeat until-pass:2

echo "== Windows: tollwick-cli.exe against the Linux build ==" >&2
bash scripts/compare-windows.sh build/release/src/cli/tollwick-cli \
    build/windows-cli/src/cli/tollwick-cli.exe

echo "== Windows: the desktop program's sources, syntax only ==" >&2
qt=/usr/include/x86_64-linux-gnu/qt6
generated=build/release/src/app/generated
[ -f "$generated/app_icon_svg.h" ] || { say "no release build of the desktop program"; exit 1; }
flags=(-fsyntax-only -std=c++20 -Wall -Wextra -Wpedantic -Werror
    -DUNICODE -D_UNICODE -DNOMINMAX -DWIN32_LEAN_AND_MEAN -D_WIN32_WINNT=0x0A00
    -DQT_CORE_LIB -DQT_GUI_LIB -DQT_WIDGETS_LIB -DQT_SVG_LIB -DQT_NO_DEBUG
    -Isrc -I"$generated" -Ibuild/release/src/version/generated
    -isystem build/windows-deps/prefix/include
    -isystem "$qt" -isystem "$qt/QtCore" -isystem "$qt/QtGui" -isystem "$qt/QtWidgets"
    -isystem "$qt/QtSvg")
# In the groups of the release build's unity sources where it has them (Qt's headers are most of
# each file's cost), every other source on its own.
units=()
grouped=" "
for unity in build/release/src/app/CMakeFiles/*/Unity/unity_*.cxx; do
    [ -f "$unity" ] || continue
    units+=("$unity")
    grouped+="$(sed -n 's/^#include "\(.*\)"$/\1/p' "$unity" | xargs -r -n1 basename | tr '\n' ' ')"
done
for source in src/app/*.cpp; do
    [[ "$grouped" == *" $(basename "$source") "* ]] || units+=("$source")
done
printf '%s\n' "${units[@]}" |
    xargs -P "$(nproc)" -I{} x86_64-w64-mingw32-g++-posix "${flags[@]}" {}
say "$(ls src/app/*.cpp | wc -l) sources of src/app compiled for Windows, in ${#units[@]} units"
say "done in $((SECONDS - start)) s"
