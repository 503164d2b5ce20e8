#!/usr/bin/env bash
# CI: builds the Debian package (scripts/package.sh, which also validates it), installs it with apt,
# which proves that its dependencies resolve, runs the tray test against the installed
# /usr/bin/kavrel-companion, and removes the package again, also when something failed.
# Runs after scripts/test.sh; expects the packages of scripts/install-dependencies.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
fi

rm -f build/release/kavrel-companion_*.deb
scripts/package.sh
cmake --build --preset default --target TrayTests

trap '"${sudo[@]}" apt-get purge -y -qq kavrel-companion >/dev/null || true' EXIT
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ./build/release/kavrel-companion_*.deb
# Bounded like the same test under ctest, so that a hung session cannot hold up CI.
KAVREL_COMPANION=/usr/bin/kavrel-companion timeout 180 tests/in-private-session.sh build/default/bin/TrayTests
