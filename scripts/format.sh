#!/usr/bin/env bash
# The C++ sources under src, tests, fuzz, bench and tools in the repository's .clang-format style.
#   bash scripts/format.sh           formats every such file in place
#   bash scripts/format.sh --check   changes nothing: names each file that is not formatted and
#                                    exits 1 when there is one (CI)
# Installs clang-format with apt-get when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

check=false
case "${1:-}" in
    "") ;;
    --check) check=true ;;
    *)
        echo "usage: bash scripts/format.sh [--check]" >&2
        exit 2
        ;;
esac

if ! command -v clang-format >/dev/null; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        clang-format >/dev/null
fi

# Tracked files and new ones not yet added; none that git ignores.
mapfile -t files < <(git ls-files --cached --others --exclude-standard -- src tests fuzz bench tools |
    grep -E '\.(cpp|cc|h|hpp)$' | while read -r f; do [ -f "$f" ] && echo "$f"; done)
if ! $check; then
    clang-format -i "${files[@]}"
    exit 0
fi

# One clang-format for all of them; it names each file it would change.
mapfile -t unformatted < <(clang-format --dry-run "${files[@]}" 2>&1 |
    sed -n 's/^\(.*\):[0-9]*:[0-9]*: warning: code should be clang-formatted.*/\1/p' | sort -u)
if [ ${#unformatted[@]} -ne 0 ]; then
    echo "format: not in the style of .clang-format (bash scripts/format.sh formats them):" >&2
    printf '  %s\n' "${unformatted[@]}" >&2
    exit 1
fi
echo "format: ${#files[@]} files in the style of .clang-format"
