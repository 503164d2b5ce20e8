#!/usr/bin/env bash
# What a screen reader hears of the settings window: the real application on a virtual display, read
# through AT-SPI in a private session bus, as Orca would read it.
#
#   tests/app/screen-reader-names.sh build/default/bin/kavrel-companion
#   needs: xvfb dbus gnome-keyring at-spi2-core python3-pyatspi
set -euo pipefail
binary=$(realpath "$1")
for tool in Xvfb dbus-run-session gnome-keyring-daemon /usr/libexec/at-spi-bus-launcher; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "skipped: python3-pyatspi is not installed"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export KAVREL_BIN="$binary" KAVREL_READER="$work/read.py"

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
print("applications on the desktop:", *[app.name for app in pyatspi.Registry.getDesktop(0) if app], sep="\n  ")
sys.exit(1)
PY

# In a private display, bus, unlocked keyring and scratch home, so that no unlock prompt holds the
# application up and nothing of another test's session answers. The accessibility bus is up (activated
# and answering) before the application starts, as it is on a desktop.
"$(dirname "$0")/../in-private-session.sh" sh -c '
    dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null
    QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$KAVREL_BIN" 2>"$HOME/application.log" & app=$!
    status=0
    /usr/bin/python3 "$KAVREL_READER" || status=$?
    [ $status -eq 0 ] || { echo "the application said:"; tail -n 20 "$HOME/application.log"; }
    kill -TERM $app 2>/dev/null; wait $app || true
    exit $status' 2>/dev/null
