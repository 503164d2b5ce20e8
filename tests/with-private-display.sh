#!/bin/sh
# Runs a command on an X display of its own, and ends the display with it. Xvfb picks a free display
# number itself and names it once it accepts connections (-displayfd): xvfb-run's guess from lock files
# can hand out a number whose previous server is still going away, when tests start and end together.
#
#   tests/with-private-display.sh [-screen WxHxD] COMMAND [ARGUMENT...]     needs: xvfb
set -eu
screen=1280x800x24
if [ "${1:-}" = -screen ]; then
    screen=$2
    shift 2
fi
ready=$(mktemp -d)
mkfifo "$ready/display"
Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp 3>"$ready/display" 2>/dev/null &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null; rm -rf "$ready"' EXIT
trap 'exit 143' TERM INT
read -r number <"$ready/display" || { echo "Xvfb did not start" >&2; exit 1; }
status=0
DISPLAY=":$number" "$@" || status=$?
exit $status
