#!/bin/sh
# Runs a program in a private X display, session bus and unlocked keyring, with a scratch home and XDG
# directories, so that nothing of the user's desktop answers in place of what a test provides.
#
#   tests/in-private-session.sh PROGRAM [ARGUMENT...]     needs: xvfb dbus gnome-keyring
set -eu
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export HOME="$scratch" XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data" \
    XDG_CACHE_HOME="$scratch/cache" XDG_RUNTIME_DIR="$scratch/runtime"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
unset DBUS_SESSION_BUS_ADDRESS XDG_CURRENT_DESKTOP QT_QPA_PLATFORM
"$(dirname "$0")/with-private-display.sh" dbus-run-session -- sh -c '
    eval "$(printf pw | gnome-keyring-daemon --unlock --components=secrets)" >/dev/null
    exec "$@"' sh "$@"
