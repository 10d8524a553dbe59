#!/usr/bin/env bash
# Installs what is missing, builds the instrumented preset (mingw-check:
# coverage counters, undefined-behaviour traps, libstdc++ assertions, no
# optimisation) and runs the whole test suite on it under Wine, the unit,
# server and hardening tests with Wine's heap checking on. Writes the
# coverage report of src/ to build/mingw-check/coverage/index.html.
#
# Fails when a test fails, when a trap fires (an illegal instruction under
# Wine) or when Wine reports a heap error. Its last line, on success:
#   coverage src/: lines N.N%, functions N.N%, branches N.N%
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/install-deps.sh lcov
build=build/mingw-check
cmake --preset mingw-check >/dev/null
cmake --build --preset mingw-check

# The counters are plain, not atomic (-fprofile-update=atomic made the
# hardening tests several times slower): the threads of the concurrency test
# may lose an increment, which can skew a count but not whether a line ran,
# since every path they take also runs on one thread elsewhere.
# Counters of an earlier run would add up: every run starts from zero.
find "$build" -name '*.gcda' -delete
rm -rf "$build/coverage" "$build/Testing/Temporary"
mkdir -p "$build/coverage"

# gcov writes each counter file to its object's absolute Linux path. In a
# Windows process that path is relative to the current drive; Z: is Wine's
# drive for the Linux root, so the files land in the build folder whichever
# drive a test runs from (the scratch prefixes, regsvr32).
export GCOV_PREFIX=Z:

"$build/wine-run.sh" --server-start
trap '"$build/wine-run.sh" --server-stop >/dev/null 2>&1 || true' EXIT

heap_tests='^(unit|server|hardening|unwind)$'
heap_log=$build/coverage/heap-check.log
rest_log=$build/coverage/tests.log
status=0
echo "instrumented tests, heap-checked: unit, server, hardening"
# The registrar fuzzing runs 10000 cases here instead of 100000: at -O0,
# with counters and heap checking, the full run alone would take minutes;
# the release build of scripts/test.sh runs them all.
WINEDEBUG=warn+heap PVT_FUZZ_CASES=10000 ctest --preset mingw-check -R "$heap_tests" -V \
  >"$heap_log" 2>&1 || status=$?
grep -E '^[0-9]+/[0-9]+ Test|tests passed|tests failed' "$heap_log" || true
echo "instrumented tests: the rest"
ctest --preset mingw-check -E "$heap_tests" --output-log "$rest_log" || status=$?
# Counters are written when each process ends; the prefix's server goes now
# so that nothing still runs while they are read.
"$build/wine-run.sh" --server-stop >/dev/null 2>&1 || true
trap - EXIT

failure=""
# A trap is an illegal instruction; Wine reports it on the program's error
# output, which the logs hold, also where a test only checks an exit code.
if grep -rIl --include='*.log' -e 'Unhandled illegal instruction' \
     -e 'illegal instruction in 64-bit code' "$build" >"$build/coverage/traps.txt"; then
  sed 's/^/  trap reported in /' "$build/coverage/traps.txt"
  failure="an undefined-behaviour trap fired"
fi
if grep -E ':heap:' "$heap_log"; then
  failure="Wine reported heap errors (whole output in $heap_log)"
fi
if [ "$status" -ne 0 ] && [ -z "$failure" ]; then
  tail -n 40 "$heap_log"
  failure="a test failed (output in $heap_log and $rest_log)"
fi

# The report: the MinGW gcov reads the MinGW counters, and lcov finds each
# source from the folder the compiler ran in. Only the files of src/ count
# (not the tests, the doubles, the reference host or the generated sources).
# Exception edges are left out of the branches: every call that may throw
# has one, and they say nothing about the tests. The lcov warnings are
# noise (its Perl modules load twice; "12-posix" is no version it parses).
gcov_tool=$(command -v x86_64-w64-mingw32-gcov-posix || command -v x86_64-w64-mingw32-gcov)
rc=(--rc lcov_branch_coverage=1 --rc geninfo_no_exception_branch=1)
lcov_log=$build/coverage/lcov.log
quietly() { "$@" 2>>"$lcov_log" || { grep -v 'redefined at' "$lcov_log"; return 1; }; }
quietly lcov --quiet --capture --directory "$build" --gcov-tool "$gcov_tool" "${rc[@]}" \
  --output-file "$build/coverage/all.info"
quietly lcov --quiet --extract "$build/coverage/all.info" "$root/src/*" "${rc[@]}" \
  --output-file "$build/coverage/src.info"
quietly genhtml --quiet --branch-coverage --prefix "$root" --title "PvtCorrelator src/" \
  --output-directory "$build/coverage" "$build/coverage/src.info"
echo "coverage report: $build/coverage/index.html"

summary=$(lcov --summary "$build/coverage/src.info" "${rc[@]}" 2>&1)
percent() { sed -n "s/^ *$1\.*: *\([0-9.]*\)%.*/\1/p" <<<"$summary"; }
line="coverage src/: lines $(percent lines)%, functions $(percent functions)%, branches $(percent branches)%"

if [ -n "$failure" ]; then
  echo "$line"
  echo "coverage.sh: $failure"
  exit 1
fi
echo "$line"
