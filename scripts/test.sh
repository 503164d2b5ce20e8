#!/usr/bin/env bash
# Installs what is needed, builds everything from nothing and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-dependencies.sh
cmake --preset default --fresh
cmake --build --preset default --clean-first
ctest --preset default
