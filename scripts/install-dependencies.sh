#!/usr/bin/env bash
# Installs, from Debian 12's own packages, everything the build, the tests and the benchmarks need.
set -euo pipefail

packages=(
    # toolchain
    build-essential cmake ninja-build pkg-config clang-14 clang-format
    # libraries
    libsimdjson-dev liburiparser-dev uuid-dev libsecret-1-dev libsystemd-dev
    qt6-base-dev qt6-declarative-dev
    # tests and benchmarks
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    # a real Secret Service for the secret-store integration test
    dbus dbus-daemon gnome-keyring libsecret-tools
)

if [ "$(id -u)" -ne 0 ]; then
    exec sudo "$0" "$@"
fi

export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${packages[@]}"
