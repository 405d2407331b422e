#!/usr/bin/env bash
# Runs Tollwick: on the VK3300S when one is plugged in, else on the virtual reader.
# Without arguments it connects and shows the reader; with arguments they go to tollwick-cli.
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

cli=build/release/src/cli/tollwick-cli
simulate=()
if ! reader_present; then
    echo "No VK3300S plugged in: using the virtual reader." >&2
    simulate=(--simulate --deck "${XDG_DATA_HOME:-$HOME/.local/share}/Tollwick/deck.json")
fi
if [ $# -eq 0 ]; then
    exec "$cli" "${simulate[@]}" info
fi
exec "$cli" "${simulate[@]}" "$@"
