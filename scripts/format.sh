#!/usr/bin/env bash
# Lays out the C++ sources by .clang-format (clang-format 14, Debian's
# clang-format package; a developer tool, not needed by the build).
#   scripts/format.sh          rewrites the files in place
#   scripts/format.sh --check  changes nothing; fails and names each place
#                              that does not follow the layout
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v clang-format >/dev/null; then
  echo "clang-format not found (apt-get install clang-format)"
  exit 2
fi
mapfile -t files < <(git ls-files -- src tests refhost bench examples | grep -E '\.(cpp|h)$')
if [ "${1:-}" = --check ]; then
  clang-format --dry-run --Werror "${files[@]}"
  echo "format: ${#files[@]} files follow .clang-format"
else
  clang-format -i "${files[@]}"
fi
