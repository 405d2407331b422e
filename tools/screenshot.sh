#!/bin/sh
# Runs the desktop program on the virtual reader under a virtual X server and saves pictures of
# its windows: the main window once the reader is ready (docs/main-window.png), the swipe window
# during a Read (docs/swipe-window.png), the virtual reader's window (docs/virtual-reader.png), the
# Inspector on a card swiped backwards (docs/inspector.png) and on a damaged track
# (docs/inspector-parity.png), the Fields pane of a bank card (docs/fields.png), and Verify after
# write on a weak card (docs/verify-swipe.png, docs/verify-failed.png), and Setup with the Raw
# type's formats (docs/setup.png).
# Usage: tools/screenshot.sh [path/to/tollwick-screenshots] [output directory]
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
program=${1:-}
if [ -z "$program" ]; then
    for preset in release debug app-debug; do
        if [ -x "$here/build/$preset/tools/tollwick-screenshots" ]; then
            program="$here/build/$preset/tools/tollwick-screenshots"
            break
        fi
    done
fi
program=${program:-"$here/build/release/tools/tollwick-screenshots"}
output=${2:-"$here/docs"}

if [ ! -x "$program" ]; then
    echo "screenshot: no program at $program (build it first)" >&2
    exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$output"

# A fresh profile and the sample deck, so that nothing of this machine changes the pictures. The
# program drives itself and quits when the pictures are saved.
QT_QPA_PLATFORM=xcb timeout 60 xvfb-run -a -s "-screen 0 1920x1080x24 -dpi 96 -br" \
    "$program" "$work/Tollwick.ini" "$work" >/dev/null

for picture in main-window.png swipe-window.png virtual-reader.png inspector.png \
    inspector-parity.png fields.png verify-swipe.png verify-failed.png setup.png \
    issue-window.png; do
    cp "$work/$picture" "$output/$picture"
    echo "screenshot: $output/$picture"
done
