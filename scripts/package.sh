#!/usr/bin/env bash
# Builds the installable package: installs what is missing, builds, and runs
# cpack, which writes build/mingw/PvtCorrelator-<version>-win64.zip (the
# layout of "cmake --install", with the module stripped and its symbols in
# a debug file beside it).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset mingw
cmake --build --preset mingw
(cd build/mingw && cpack -G ZIP --config CPackConfig.cmake)
