#!/usr/bin/env bash
# Installs what is needed, builds the application with the stand-in connector and starts it on its
# built-in defaults (it needs a desktop session: a display, and a Secret Service for its key).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-dependencies.sh
cmake --preset release
cmake --build --preset release
exec build/release/bin/kavrel-companion "$@"
