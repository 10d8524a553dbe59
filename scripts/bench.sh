#!/usr/bin/env bash
# Installs what is missing, builds, and runs the benchmark under Wine:
# every operation of the module beside the least its job needs, as ratios.
# Extra arguments go to the benchmark, e.g. --json or --only=calculate.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset mingw
cmake --build --preset mingw --target pvt_bench

build/mingw/wine-run.sh --server-start
trap 'build/mingw/wine-run.sh --server-stop >/dev/null 2>&1 || true' EXIT
build/mingw/wine-run.sh build/mingw/bin/pvt_bench.exe "$@"
