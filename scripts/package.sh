#!/usr/bin/env bash
# Builds the Debian package: the release preset, then `cpack -G DEB`.
#   bash scripts/package.sh           prints the path of build/release/package/tollwick_*.deb
#   bash scripts/package.sh --check   also runs lintian, desktop-file-validate and
#                                     appstreamcli on it, and fails on any error
# Installs what it needs when missing: the build's packages (scripts/deps.sh), dpkg-dev and file
# for cpack's dependency list, and with --check the three checkers.
set -euo pipefail
cd "$(dirname "$0")/.."

check=false
case "${1:-}" in
    "") ;;
    --check) check=true ;;
    *)
        echo "usage: bash scripts/package.sh [--check]" >&2
        exit 2
        ;;
esac

tools=(dpkg-dev file)
$check && tools+=(lintian desktop-file-utils appstream)
bash scripts/deps.sh "${tools[@]}"
bash scripts/build.sh release >/dev/null

out=build/release/package
rm -f "$out"/tollwick_*.deb
(cd build/release && cpack -G DEB >/dev/null)
debs=("$out"/tollwick_*.deb)
deb=${debs[0]}
[ -f "$deb" ] || { echo "package: cpack made no package" >&2; exit 1; }

if $check; then
    tree=$(mktemp -d)
    trap 'rm -rf "$tree"' EXIT
    dpkg-deb -x "$deb" "$tree"
    echo "== lintian" >&2
    status=0
    lintian --fail-on error --display-info "$deb" >"$tree.lintian" 2>&1 || status=$?
    grep -v "running with root privileges" "$tree.lintian" >&2 || true
    rm -f "$tree.lintian"
    [ "$status" -eq 0 ] || { echo "package: lintian found errors" >&2; exit 1; }
    echo "== desktop-file-validate" >&2
    desktop-file-validate "$tree"/usr/share/applications/*.desktop >&2
    echo "== appstreamcli validate-tree --no-net" >&2
    appstreamcli validate-tree --no-net "$tree" >&2
fi
echo "$deb"
