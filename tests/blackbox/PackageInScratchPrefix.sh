#!/usr/bin/env bash
# The installable package: cpack makes PvtCorrelator-<version>-win64.zip in
# a scratch folder, twice with the same bytes; unpacked, it holds the expected layout, a stripped module
# with its symbols in a debug file beside it, the reference data server (not
# the tests' double); regsvr32 registers the module from it in the scratch
# prefix, and pvthost from it calculates a sample fluid from it, finding the
# module and the type library through its default paths.
#
# Usage: PackageInScratchPrefix.sh WINE WINESERVER WINEBOOT WINEPATH CPACK
#            OBJDUMP BUILD_DIR VERSION PREFIX_DIR WORK_DIR SCRIPT_DIR
set -uo pipefail

WINE=$1 WINESERVER=$2 WINEBOOT=$3 WINEPATH=$4 CPACK=$5 OBJDUMP=$6
BUILD=$7 VERSION=$8 PREFIX=$9 WORK=${10} SCRIPTS=${11}

rm -rf "$WORK"
. "$SCRIPTS/ScratchPrefix.sh"

NAME="PvtCorrelator-$VERSION-win64"
ROOT="$WORK/unpacked/$NAME"
DLL="$("$WINEPATH" -w "$ROOT/bin/PvtCorrelator.dll" 2>/dev/null)"
PVTHOST="$ROOT/refhost/pvthost.exe"

regsvr() { wine_quiet regsvr32 /s "$@"; }

cleanup() {
  regsvr /u "$DLL"
  scratch_prefix_stop
}
trap cleanup EXIT

# --- Make and unpack the package --------------------------------------------

if ! (cd "$BUILD" && "$CPACK" -G ZIP --config CPackConfig.cmake -B "$WORK/package") \
      >"$WORK/cpack.out" 2>&1; then
  cat "$WORK/cpack.out"
  fail "cpack"
  scratch_prefix_finish ""
fi
[ -f "$WORK/package/$NAME.zip" ] || fail "no $NAME.zip: $(ls "$WORK/package")"
# Made again (every file installed anew, with new times): the same bytes.
sleep 1
if (cd "$BUILD" && "$CPACK" -G ZIP --config CPackConfig.cmake -B "$WORK/again") \
      >"$WORK/cpack-again.out" 2>&1 && cmp "$WORK/package/$NAME.zip" "$WORK/again/$NAME.zip"; then
  note "ok: the same package twice"
else
  fail "a second package differs from the first"
fi
mkdir -p "$WORK/unpacked"
(cd "$WORK/unpacked" && cmake -E tar xf "$WORK/package/$NAME.zip") || fail "unpacking"

cat >"$WORK/expected.files" <<'LIST'
README.md
bin/HostCorrelation.tlb
bin/PvtCorrelator.dll
bin/PvtCorrelator.dll.debug
docs/behaviour.md
docs/integration.md
examples/minimal-host/CMakeLists.txt
examples/minimal-host/MinimalHost.cpp
include/HostCorrelation.h
include/HostCorrelation.idl
include/HostInterfaces.h
include/PvtCorrelatorClasses.h
lib/cmake/PvtCorrelator/PvtCorrelatorConfig.cmake
lib/cmake/PvtCorrelator/PvtCorrelatorConfigVersion.cmake
refhost/README.md
refhost/fluids/black-oil.fluid
refhost/fluids/no-water.fluid
refhost/pvthost.exe
refhost/varhub2.dll
LIST
(cd "$ROOT" && find . -type f | sed 's#^\./##' | LC_ALL=C sort) >"$WORK/actual.files"
if cmp -s "$WORK/expected.files" "$WORK/actual.files"; then note "ok: layout"; else
  diff "$WORK/expected.files" "$WORK/actual.files"
  fail "layout"
fi
cmp -s "$ROOT/refhost/varhub2.dll" "$BUILD/refhost/varhub2.dll" ||
  fail "refhost/varhub2.dll is not the reference data server"

# The module has no symbols and names its debug file, which has them.
before=$failures
"$OBJDUMP" -h "$ROOT/bin/PvtCorrelator.dll" >"$WORK/sections.out"
"$OBJDUMP" -t "$ROOT/bin/PvtCorrelator.dll" >"$WORK/symbols.out"
"$OBJDUMP" -t "$ROOT/bin/PvtCorrelator.dll.debug" >"$WORK/debug-symbols.out"
grep -q '\.gnu_debuglink' "$WORK/sections.out" || fail "module: no debug link"
grep -q '\.debug_' "$WORK/sections.out" && fail "module: debug sections left"
grep -q 'DllInstall' "$WORK/symbols.out" && fail "module: symbols left"
grep -q 'DllInstall' "$WORK/debug-symbols.out" || fail "debug file: no symbols"
[ "$failures" -eq "$before" ] && note "ok: stripped module with its debug file"

# --- Run it -------------------------------------------------------------------

"$WINE" "$PVTHOST" --version </dev/null >"$WORK/version.out" 2>>"$LOG"
[ "$(cat "$WORK/version.out")" = "pvthost $VERSION" ] ||
  fail "pvthost --version: $(cat "$WORK/version.out")"

regsvr /u "$DLL"  # left by a run that stopped half-way
expect_exit 0 "regsvr32 registers the packaged module" regsvr "$DLL"
"$WINE" "$PVTHOST" calc --fluid "$ROOT/refhost/fluids/black-oil.fluid" --format csv \
  </dev/null >"$WORK/calc.out" 2>>"$LOG"
status=$?
if [ "$status" -ne 0 ]; then fail "pvthost calc: exit $status"; fi
# Every expected class, each with the values of the sample fluid.
classes=$(grep -c '^PVT_EXPECTED_CLASS(' "$SCRIPTS/../support/ExpectedCatalogue.inc")
[ "$(tail -n +2 "$WORK/calc.out" | wc -l)" -eq "$classes" ] || fail "pvthost calc: not $classes rows"
for row in \
  'BubblePtPressure,Bubble Point Pressure,2,18250,,18250,' \
  'GOR,Gas Oil Ratio,88,95,,,' \
  'MassDensity,Mass Density,16,553.1,125,742,1012' \
  'MassFlowRate,Mass Flow Rate,4,50,4,36,10'; do
  grep -qxF "$row" "$WORK/calc.out" || fail "pvthost calc: no row \"$row\""
done
note "ok: pvthost calc on the packaged sample fluid"

# pvthost's default paths lead to the packaged module and type library.
expect_exit 0 "pvthost unregister with its default paths" \
  wine_quiet "$PVTHOST" unregister
grep -qF "Unregistered module $DLL" "$LOG" || fail "pvthost unregister: not the packaged module"

scratch_prefix_finish "all package steps passed"
