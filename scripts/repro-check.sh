#!/usr/bin/env bash
# Checks that the build is reproducible: builds the module alone a second
# time, from scratch in another folder (build/repro) with the same preset and
# without ccache, so that every object is compiled anew, and compares it byte
# for byte with the module of the first build (default build/mingw, as
# scripts/test.sh leaves it). CI runs it after the test command; about two
# minutes on two cores.
#
# Usage: scripts/repro-check.sh [FIRST_BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

first=${1:-build/mingw}
second=build/repro
module=bin/PvtCorrelator.dll
if [ ! -f "$first/$module" ]; then
  echo "repro check: no $first/$module; build first (scripts/test.sh)"
  exit 1
fi

scripts/install-deps.sh
rm -rf "$second"
# No compiler launcher from the environment, and ccache off even if the
# compiler is reached through one of its links: a genuine second compile.
unset CMAKE_C_COMPILER_LAUNCHER CMAKE_CXX_COMPILER_LAUNCHER
export CCACHE_DISABLE=1
cmake --preset mingw -B "$second" -DPVT_WARNINGS_AS_ERRORS=ON -DBUILD_TESTING=OFF \
  -DCMAKE_C_COMPILER_LAUNCHER= -DCMAKE_CXX_COMPILER_LAUNCHER= >"$second.configure.log"
cmake --build "$second" --target PvtCorrelator -j2 >"$second.build.log"

sha256sum "$first/$module" "$second/$module"
if cmp "$first/$module" "$second/$module"; then
  echo "repro check: $module is byte-identical in $first and $second"
else
  echo "repro check: $module differs between $first and $second"
  exit 1
fi
