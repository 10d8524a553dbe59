#!/usr/bin/env bash
# Installs what is missing, builds, and runs the unit, server, hardening and unwind
# tests once more with Wine's heap checking on (WINEDEBUG=warn+heap). Fails
# when a test fails or when Wine reports any heap error (a double free, a
# write past a block, a free of memory the heap never gave out).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
# The value scripts/test.sh configures: the same flags, nothing rebuilt.
cmake --preset mingw -DPVT_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build --preset mingw >/dev/null

build/mingw/wine-run.sh --server-start
trap 'build/mingw/wine-run.sh --server-stop >/dev/null 2>&1 || true' EXIT

log=build/mingw/heap-check.log
status=0
WINEDEBUG=warn+heap ctest --preset mingw -R '^(unit|server|hardening|unwind)$' -V >"$log" 2>&1 || status=$?
if grep -E ':heap:' "$log"; then
  echo "heap check: Wine reported heap errors (whole output in $log)"
  exit 1
fi
if [ "$status" -ne 0 ]; then
  tail -n 60 "$log"
  echo "heap check: a test failed (whole output in $log)"
  exit "$status"
fi
echo "heap check: no heap error reported by Wine"
tail -n 4 "$log"
