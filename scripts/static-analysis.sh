#!/usr/bin/env bash
# Installs what is missing and runs clang-tidy (the checks of .clang-tidy)
# over every source file of src/, compiled as the build compiles it: the
# commands of build/mingw/compile_commands.json, for the MinGW-w64 target,
# against the MinGW-w64 headers. Fails on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/install-deps.sh clang-tidy
tidy=$(command -v clang-tidy-14 || command -v clang-tidy)

# The build scripts/test.sh configures (same value, nothing rebuilt); the
# module's target makes the generated headers the sources include.
cmake --preset mingw -DPVT_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build --preset mingw --target pvtcore >/dev/null

# clang finds the MinGW-w64 C headers by itself but not the C++ headers of a
# GCC whose version folder carries a suffix ("12-posix"): hand it the
# folders that the build's own compiler searches.
compiler=$(sed -n 's/^ *"command": "\([^ ]*g++[^ ]*\) .*/\1/p' build/mingw/compile_commands.json |
           head -n 1)
extra=(--extra-arg=--target=x86_64-w64-mingw32)
while read -r dir; do
  case "$dir" in */c++|*/c++/*) extra+=("--extra-arg=-isystem$dir") ;; esac
done < <(echo | "$compiler" -x c++ -E -v - 2>&1 |
         sed -n '/#include <...> search starts here:/,/End of search list./p' |
         sed -n 's/^ \(\/.*\)$/\1/p')

mapfile -t files < <(find src -name '*.cpp' | sort)
log=build/mingw/static-analysis.log
status=0
printf '%s\n' "${files[@]}" |
  xargs -P 2 -n 1 "$tidy" -p build/mingw --quiet "${extra[@]}" >"$log" 2>&1 || status=$?
grep -E '(warning|error):' "$log" | sort -u || true
if [ "$status" -ne 0 ]; then
  echo "static analysis: findings in src/ (whole output in $root/$log)"
  exit 1
fi
echo "static analysis: clang-tidy, ${#files[@]} files of src/, no findings"
