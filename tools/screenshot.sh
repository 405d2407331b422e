#!/bin/sh
# Runs the desktop program under a virtual X server and saves a picture of its main window in
# docs/main-window.png. Usage: tools/screenshot.sh [path/to/tollwick] [output.png]
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
program=${1:-}
if [ -z "$program" ]; then
    for preset in debug release app-debug; do
        if [ -x "$here/build/$preset/src/app/tollwick" ]; then
            program="$here/build/$preset/src/app/tollwick"
            break
        fi
    done
fi
program=${program:-"$here/build/debug/src/app/tollwick"}
output=${2:-"$here/docs/main-window.png"}

if [ ! -x "$program" ]; then
    echo "screenshot: no program at $program (build it first)" >&2
    exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$(dirname "$output")"

# A fresh profile, so that stored settings of this machine do not change the picture.
cat >"$work/run.sh" <<SCRIPT
#!/bin/sh
"$program" --profile "$work/Tollwick.ini" &
pid=\$!
sleep 3
import -window root -trim +repage "$work/shot.png"
kill \$pid
wait \$pid 2>/dev/null || true
SCRIPT
chmod +x "$work/run.sh"

QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96 -br" "$work/run.sh"
cp "$work/shot.png" "$output"
echo "screenshot: $output"
