#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
# Warnings fail the build here; scripts/heap-check.sh configures the same
# build folder with the same value, so that it rebuilds nothing.
cmake --preset mingw -DPVT_WARNINGS_AS_ERRORS=ON
cmake --build --preset mingw

# One persistent wineserver for the whole run: each test program then starts
# in a fraction of a second instead of waiting for a new server.
build/mingw/wine-run.sh --server-start
trap 'build/mingw/wine-run.sh --server-stop >/dev/null 2>&1 || true' EXIT
ctest --preset mingw "$@"
