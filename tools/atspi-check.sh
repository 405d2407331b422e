#!/bin/sh
# Checks the desktop program through a real AT-SPI accessibility bus, as a screen reader sees and
# drives it: runs it on the virtual reader under a virtual X server with its own session bus and
# accessibility bus, then runs tools/atspi_check.py against it. Not part of the test suite.
# Needs: xvfb, dbus, at-spi2-core, python3-pyatspi (Debian packages).
# Usage: tools/atspi-check.sh [path/to/tollwick]
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
program=${1:-"$here/build/release/src/app/tollwick"}
if [ ! -x "$program" ]; then
    echo "atspi-check: no program at $program (build it first)" >&2
    exit 1
fi
launcher=/usr/libexec/at-spi-bus-launcher
if [ ! -x "$launcher" ] || ! /usr/bin/python3 -c "import pyatspi" 2>/dev/null; then
    echo "atspi-check: needs at-spi2-core and python3-pyatspi" >&2
    exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/session.sh" <<SESSION
#!/bin/sh
$launcher --launch-immediately >"$work/bus.log" 2>&1 &
bus=\$!
QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \\
    "$program" --profile "$work/Tollwick.ini" --simulate >"$work/program.log" 2>&1 &
app=\$!
/usr/bin/python3 "$here/tools/atspi_check.py"
result=\$?
kill \$app \$bus 2>/dev/null
exit \$result
SESSION
chmod +x "$work/session.sh"
timeout 120 xvfb-run -a -s "-screen 0 1024x768x24" dbus-run-session -- "$work/session.sh"
