#!/usr/bin/env bash
# Installs what is needed, builds the application and starts it on its built-in defaults.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-dependencies.sh
cmake --preset release
cmake --build --preset release
exec build/release/bin/kavrel-companion --check "$@"
