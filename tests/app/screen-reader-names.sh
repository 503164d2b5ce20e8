#!/usr/bin/env bash
# What a screen reader hears of the settings window: the real application on a virtual display, read
# through AT-SPI in a private session bus, as Orca would read it.
#
#   tests/app/screen-reader-names.sh build/default/bin/kavrel-companion
#   needs: xvfb xauth dbus gnome-keyring at-spi2-core python3-pyatspi
set -euo pipefail
binary=$(realpath "$1")
for tool in xvfb-run dbus-run-session gnome-keyring-daemon /usr/libexec/at-spi-bus-launcher; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "skipped: python3-pyatspi is not installed"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" KAVREL_BIN="$binary"

cat > "$work/read.py" <<'PY'
import sys, time
import pyatspi

def heard(node, group=""):   # (role, name, title of the group around it) of everything under node
    for child in filter(None, node):
        inner = child.name if child.getRole() == pyatspi.ROLE_PANEL and child.name else group
        yield (child.getRoleName(), child.name, inner)
        yield from heard(child, inner)

expected = {("text", "Kavrel HTTPS origin", "Connection"), ("text", "Roon host:port", "Connection"),
            ("push button", "Save & connect", "Connection"), ("text", "One-use pairing code", "Pair with Kavrel"),
            ("push button", "Replace pairing…", "Pair with Kavrel"),
            ("check box", "Share what’s playing on this computer", "Music sharing · beta"),
            ("check box", "Start at login", "On this computer")}
for _ in range(300):   # until the window is there; a loaded machine can take a while
    found = {row for app in pyatspi.Registry.getDesktop(0) if app and app.name == "Kavrel Companion"
             for row in heard(app)}
    if expected <= found:
        sys.exit(0)
    time.sleep(0.2)
print("not heard:", *sorted(expected - found), "heard:", *sorted(found), sep="\n  ")
sys.exit(1)
PY

cat > "$work/inside.sh" <<'INSIDE'
set -eu
# An unlocked keyring, so that no unlock prompt holds the application up.
eval "$(printf pw | gnome-keyring-daemon --unlock --components=secrets)" >/dev/null
/usr/libexec/at-spi-bus-launcher --launch-immediately & launcher=$!
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$KAVREL_BIN" >/dev/null 2>&1 & app=$!
status=0
/usr/bin/python3 "$HOME/read.py" || status=$?
kill -TERM $app; wait $app || true
kill $launcher
exit $status
INSIDE
xvfb-run -a -s "-screen 0 1280x800x24" dbus-run-session -- sh "$work/inside.sh" 2>/dev/null
