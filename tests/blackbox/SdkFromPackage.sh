#!/usr/bin/env bash
# The SDK as an integrator meets it: the ZIP that the test "package" made is
# unpacked into a scratch folder; each SDK header compiles on its own; the
# package's examples/minimal-host is configured and built from the unpacked
# folder alone (find_package, with no folder of the project's source tree on
# any include path); the module is registered from the package with regsvr32
# in the scratch prefix; the example prints the published values and exits 0;
# and a check built against the package's include folder finds every class
# of PvtCorrelatorClasses.h registered and answering as declared.
#
# Usage: SdkFromPackage.sh WINE WINESERVER WINEBOOT WINEPATH CMAKE CXX ZIP
#            SOURCE_DIR PREFIX_DIR WORK_DIR SCRIPT_DIR
set -uo pipefail

WINE=$1 WINESERVER=$2 WINEBOOT=$3 WINEPATH=$4 CMAKE=$5 CXX=$6 ZIP=$7
SOURCE=$8 PREFIX=$9 WORK=${10} SCRIPTS=${11}

rm -rf "$WORK"
. "$SCRIPTS/ScratchPrefix.sh"

NAME=$(basename "$ZIP" .zip)
ROOT="$WORK/unpacked/$NAME"
BUILD="$WORK/minimal-host-build"
DLL="$("$WINEPATH" -w "$ROOT/bin/PvtCorrelator.dll" 2>/dev/null)"

regsvr() { wine_quiet regsvr32 /s "$@"; }
cleanup() {
  regsvr /u "$DLL"
  scratch_prefix_stop
}
trap cleanup EXIT

[ -f "$ZIP" ] || { fail "no package $ZIP (made by the test \"package\")"; scratch_prefix_finish ""; }
mkdir -p "$WORK/unpacked"
(cd "$WORK/unpacked" && "$CMAKE" -E tar xf "$ZIP") || fail "unpacking"

# Each header stands alone.
for header in HostCorrelation.h HostInterfaces.h PvtCorrelatorClasses.h; do
  if printf '#include "%s"\n' "$header" |
      "$CXX" -std=c++17 -Wall -Wextra -Werror -fsyntax-only -x c++ -I "$ROOT/include" - \
        >"$WORK/header.out" 2>&1; then
    note "ok: $header compiles on its own"
  else
    cat "$WORK/header.out"
    fail "$header does not compile on its own"
  fi
done

# The example, from the package alone.
if ! "$CMAKE" -S "$ROOT/examples/minimal-host" -B "$BUILD" -G "Unix Makefiles" \
      -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR=x86_64 \
      -DCMAKE_CXX_COMPILER="$CXX" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_PREFIX_PATH="$ROOT" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
      >"$WORK/configure.out" 2>&1; then
  cat "$WORK/configure.out"
  fail "configuring the example from the package"
  scratch_prefix_finish ""
fi
note "ok: the example configures with find_package(PvtCorrelator)"
# Its compile commands, and the include folders that MinGW's builds pass in
# response files.
flags=("$BUILD/compile_commands.json" "$BUILD/CMakeCache.txt")
mapfile -t -O 2 flags < <(find "$BUILD/CMakeFiles" -name '*.rsp')
grep -q -- "$ROOT/include" "${flags[@]:2}" "$BUILD/compile_commands.json" ||
  fail "the example does not compile against the package's include folder"
# (The scratch folder may lie inside the source tree, so its own folders
# are looked for.)
tree="$SOURCE/(src|refhost|tests|examples|cmake|bench)/"
if grep -Eq -- "$tree" "${flags[@]}"; then
  grep -E -- "$tree" "${flags[@]}" | head -5
  fail "the example's build names the project's source tree"
fi
if "$CMAKE" --build "$BUILD" >"$WORK/build.out" 2>&1; then note "ok: the example builds"; else
  cat "$WORK/build.out"
  fail "building the example"
  scratch_prefix_finish ""
fi

# The classes' identifiers, against the packaged module.
"$CXX" -std=c++17 -O1 -Wall -Wextra -Werror -DUNICODE -D_UNICODE -I "$ROOT/include" \
  "$SCRIPTS/SdkClassesCheck.cpp" -static -lole32 -loleaut32 -luuid \
  -o "$BUILD/sdk-classes-check.exe" >"$WORK/check-build.out" 2>&1 ||
  { cat "$WORK/check-build.out"; fail "building SdkClassesCheck.cpp"; }

regsvr /u "$DLL"  # left by a run that stopped half-way
expect_exit 0 "regsvr32 registers the packaged module" regsvr "$DLL"

# Both run beside the reference data server that the example's build copied.
(cd "$BUILD" && "$WINE" ./minimal-host.exe </dev/null >"$WORK/example.raw" 2>>"$LOG")
status=$?
tr -d '\r' <"$WORK/example.raw" >"$WORK/example.out"
cat "$WORK/example.out"
[ "$status" -eq 0 ] || fail "the example exits $status"
cat >"$WORK/expected.out" <<'END'
overall  553.1
phase 0  125
phase 1  742
phase 2  n/a
released: source back to 1 reference, no server objects
END
if diff "$WORK/expected.out" "$WORK/example.out"; then note "ok: the example prints the published values"; else
  fail "the example's output"
fi

(cd "$BUILD" && "$WINE" ./sdk-classes-check.exe </dev/null >"$WORK/check.raw" 2>>"$LOG")
status=$?
tr -d '\r' <"$WORK/check.raw"
[ "$status" -eq 0 ] || fail "PvtCorrelatorClasses.h against the registered module: exit $status"

scratch_prefix_finish "all SDK steps passed"
