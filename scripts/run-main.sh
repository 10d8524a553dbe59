#!/usr/bin/env bash
# The main job: installs what is missing, builds, registers the module and
# the host's correlation type library in the build's private Wine prefix,
# and prints what all 26 correlations publish for the sample black-oil
# fluid. Extra arguments go to "pvthost calc", e.g. --format json.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset mingw
cmake --build --preset mingw

# A server that is already running (from an earlier command) is fine: the
# start then reports failure and the running one is used.
build/mingw/wine-run.sh --server-start || true
trap 'build/mingw/wine-run.sh --server-stop >/dev/null 2>&1 || true' EXIT
build/mingw/wine-run.sh build/mingw/refhost/pvthost.exe register </dev/null
build/mingw/wine-run.sh build/mingw/refhost/pvthost.exe calc \
  --fluid refhost/fluids/black-oil.fluid "$@" </dev/null
