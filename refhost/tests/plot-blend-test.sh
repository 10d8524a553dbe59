#!/usr/bin/env bash
# scripts/plot-blend.sh on the sample fluid writes a PNG of 800 x 500
# pixels; on a fluid whose fractions cannot be varied it fails with
# pvthost's message and writes nothing. The module and the host type library
# are unregistered at the end, whatever happens.
#
# Usage: plot-blend-test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail

build=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)
work=$(mktemp -d)
failures=0

cleanup() {
    "$build/wine-run.sh" "$build/refhost/pvthost.exe" unregister </dev/null \
        >"$work/cleanup.out" 2>&1 || { echo "cleanup: unregister failed:"; cat "$work/cleanup.out"; }
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

export PVT_BUILD_DIR="$build"
plot="$source_dir/scripts/plot-blend.sh"
fluids="$source_dir/refhost/fluids"

"$plot" "$fluids/black-oil.fluid" "$work/blend.png" >"$work/plot.out" 2>&1 ||
    fail "plot: exit code $?: $(cat "$work/plot.out")"
# The signature, then the IHDR chunk: width and height, 4 bytes each, big-endian.
signature=$(od -An -tx1 -N8 "$work/blend.png" 2>/dev/null | tr -d ' \n')
[ "$signature" = "89504e470d0a1a0a" ] || fail "plot: not a PNG ($signature)"
size=$(od -An -tu1 -j16 -N8 "$work/blend.png" 2>/dev/null |
    awk '{ printf "%dx%d", (($1 * 256 + $2) * 256 + $3) * 256 + $4, (($5 * 256 + $6) * 256 + $7) * 256 + $8 }')
[ "$size" = "800x500" ] || fail "plot: size $size, expected 800x500"

"$plot" "$fluids/no-water.fluid" "$work/no-water.png" >"$work/no-water.out" 2>&1
rc=$?
[ "$rc" -eq 2 ] || fail "no-water: exit code $rc, expected 2"
grep -q 'phase 2 (water in the samples) is absent' "$work/no-water.out" ||
    fail "no-water: $(cat "$work/no-water.out")"
[ -e "$work/no-water.png" ] && fail "no-water: wrote a PNG"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "plot checks passed ($size)"
