#!/usr/bin/env bash
# Draws the Viscosity class's oil-water blend for a fluid file as a PNG
# (800 x 500 pixels): the published blend against f, the volume fraction of
# phase 1 in phases 1 and 2, with its two regimes and the interpolation band
# between f = 0.33 and 0.5 marked, and mu1 and mu2 as reference lines. The
# values come from "pvthost blend" running the module under Wine.
#
# Usage: scripts/plot-blend.sh FLUID OUT.png
#
# Installs what is missing and builds first, like scripts/run-main.sh, and
# registers the module in the build's prefix (it stays registered). With
# PVT_BUILD_DIR set, uses that build as it is instead.
set -euo pipefail

if [ $# -ne 2 ] || [ "${1:-}" = "--help" ]; then
    echo "Usage: scripts/plot-blend.sh FLUID OUT.png" >&2
    exit 1
fi
fluid=$(realpath -- "$1")
out=$(realpath -m -- "$2")
[ -f "$fluid" ] || { echo "plot-blend: no fluid file \"$1\"" >&2; exit 2; }
[ -d "$(dirname "$out")" ] || { echo "plot-blend: no folder for \"$2\"" >&2; exit 1; }
scripts=$(cd "$(dirname "$0")" && pwd)

if [ -z "${PVT_BUILD_DIR:-}" ]; then
    cd "$scripts/.."
    scripts/install-deps.sh >&2
    cmake --preset mingw >&2
    cmake --build --preset mingw >&2
    build=$(pwd)/build/mingw
else
    build=$(cd "$PVT_BUILD_DIR" && pwd)
fi

points=$(mktemp)
trap 'rm -f "$points"' EXIT
"$build/wine-run.sh" "$build/refhost/pvthost.exe" register </dev/null >/dev/null
"$build/wine-run.sh" "$build/refhost/pvthost.exe" blend --fluid "$fluid" --points 201 \
    --format json </dev/null >"$points"
# Debian's python3-matplotlib belongs to the system's python3, which another
# python3 earlier on PATH may hide.
python=/usr/bin/python3
[ -x "$python" ] || python=python3
"$python" "$scripts/plot_blend.py" "$points" "$(basename "$fluid")" "$out"
echo "Wrote $out"
