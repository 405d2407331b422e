#!/usr/bin/env bash
# Runs Tollwick: on the VK3300S when one is plugged in, else on the virtual reader.
#   bash scripts/run.sh [ARGS...]       the desktop program, tollwick (ARGS go to it)
#   bash scripts/run.sh --cli ARGS...   the command-line tool, tollwick-cli
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh release >/dev/null

reader_present() {
    local d
    for d in /sys/bus/usb/devices/*; do
        [ -f "$d/idVendor" ] || continue
        case "$(cat "$d/idVendor"):$(cat "$d/idProduct")" in
            0801:0005 | 0802:0005) return 0 ;;
        esac
    done
    return 1
}

simulate=()
if ! reader_present; then
    echo "No VK3300S plugged in: using the virtual reader." >&2
    simulate=(--simulate --deck "${XDG_DATA_HOME:-$HOME/.local/share}/Tollwick/deck.json")
fi

if [ "${1:-}" = "--cli" ]; then
    shift
    cli=build/release/src/cli/tollwick-cli
    if [ $# -eq 0 ]; then
        exec "$cli" "${simulate[@]}" info
    fi
    exec "$cli" "${simulate[@]}" "$@"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display for the desktop program: run it in a desktop session, or use" >&2
    echo "  bash scripts/run.sh --cli info      (the command-line tool)" >&2
    exit 1
fi
exec build/release/src/app/tollwick "${simulate[@]}" "$@"
