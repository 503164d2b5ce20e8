#!/usr/bin/env bash
# Installs, from Debian 12's own packages, everything the build, the tests and the benchmarks need.
set -euo pipefail

packages=(
    # toolchain
    build-essential cmake ninja-build pkg-config clang-14 clang-format
    # the sanitizer and libFuzzer runtimes of clang 14 (only recommended by clang-14)
    libclang-rt-14-dev
    # libraries
    libsimdjson-dev liburiparser-dev uuid-dev libsecret-1-dev libsystemd-dev
    qt6-base-dev qt6-declarative-dev
    # what the settings window loads at run time
    qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-layouts qml6-module-qtquick-window
    qml6-module-qtquick-templates qml6-module-qtqml-workerscript qt6-qpa-plugins libqt6svg6
    # tests and benchmarks
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    # a real Secret Service for the secret-store integration test
    dbus dbus-daemon gnome-keyring libsecret-tools
    # a real MPRIS player for the music-source test: mpv with its MPRIS plugin, and a tagged tone to play
    mpv mpv-mpris sox flac
    # MPD: its client library to build, the server and mpc for the tests against a real one
    mpd mpc libmpdclient-dev
    # a real window: bench/startup.sh (with a tray host), the screen-reader check and the tray test run
    # the application on a virtual display
    xvfb xdotool trayer at-spi2-core python3-pyatspi
    # the package: icons drawn from the SVG, the Debian package and its validators
    librsvg2-bin dpkg-dev file lintian appstream desktop-file-utils
    # players that keep favourites, tested on a display of their own (rhythmbox-plugins holds its MPRIS
    # interface)
    rhythmbox rhythmbox-plugins quodlibet
)

if [ "$(id -u)" -ne 0 ]; then
    exec sudo "$0" "$@"
fi

export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${packages[@]}"
