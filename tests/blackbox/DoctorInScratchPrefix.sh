#!/usr/bin/env bash
# pvthost doctor in the scratch prefix. A healthy registration (a copy of
# the module and of the host's type library, registered with pvthost) gives
# exit 0 and no finding; then each case plants one fault, expects exit 1
# with exactly the findings it names, and the registration is made healthy
# again. --user checks a per-user registration; a bad command line exits 2.
#
# Usage: DoctorInScratchPrefix.sh WINE WINESERVER WINEBOOT WINEPATH PYTHON
#            BIN_DIR REFHOST_DIR PREFIX_DIR WORK_DIR SCRIPT_DIR
set -uo pipefail

WINE=$1 WINESERVER=$2 WINEBOOT=$3 WINEPATH=$4 PYTHON=$5
BIN=$6 REFHOST=$7 PREFIX=$8 WORK=$9 SCRIPTS=${10}

rm -rf "$WORK"
. "$SCRIPTS/ScratchPrefix.sh"

PVTHOST="$REFHOST/pvthost.exe"
MODULE="$WORK/module/PvtCorrelator.dll"
TYPELIB="$WORK/module/HostCorrelation.tlb"
winpath() { "$WINEPATH" -w "$1" 2>/dev/null; }
mkdir -p "$WORK/module" "$WORK/x86" "$WORK/lonely"
cp "$BIN/PvtCorrelator.dll" "$BIN/HostCorrelation.tlb" "$WORK/module/"
DLL=$(winpath "$MODULE")
MASS_DENSITY='{35C881E9-482E-4F5A-AEBA-95C014E71C7E}'
MACHINE='HKLM\Software\Classes'

regsvr() { wine_quiet regsvr32 /s "$@"; }
pvthost() { wine_quiet "$PVTHOST" "$@"; }

# The healthy state, also after each case.
healthy() {
  [ -f "$MODULE" ] || cp "$BIN/PvtCorrelator.dll" "$MODULE"
  [ -f "$TYPELIB" ] || cp "$BIN/HostCorrelation.tlb" "$TYPELIB"
  regsvr /u /n /i:user "$DLL"
  pvthost register --module "$DLL" --typelib "$(winpath "$TYPELIB")" ||
    fail "pvthost register: see $LOG"
}

cleanup() {
  [ -f "$MODULE" ] || cp "$BIN/PvtCorrelator.dll" "$MODULE"
  regsvr /u /n /i:user "$DLL"
  pvthost unregister --module "$DLL" --typelib "$(winpath "$TYPELIB")"
  scratch_prefix_stop
}
trap cleanup EXIT

# doctor NAME [PVTHOST] ARGS...: runs the doctor; $WORK/NAME.out, $status.
doctor() {
  local name=$1 host=$PVTHOST
  shift
  if [ "${1:-}" = --host ]; then host=$2; shift 2; fi
  "$WINE" "$host" doctor "$@" </dev/null >"$WORK/$name.out" 2>"$WORK/$name.err"
  status=$?
}

# The sorted checks named by the findings of a JSON report.
checks_of() {
  "$PYTHON" -c 'import json, sys
report = json.load(open(sys.argv[1]))
print(" ".join(sorted(set(f["check"] for f in report["findings"]))))' "$1"
}

# --- The faults ------------------------------------------------------------

plant_dll_deleted() { rm -f "$MODULE"; }
plant_stale_path() {
  wine_quiet reg add "$MACHINE\\CLSID\\$MASS_DENSITY\\InprocServer32" /ve \
    /d 'C:\old\PvtCorrelator.dll' /f
}
plant_typelib_missing() {
  wine_quiet reg delete "$MACHINE\\TypeLib\\{DEEC13C7-7766-4086-8C1B-434FBF176F1C}" /f
}
plant_host_typelib_missing() { rm -f "$TYPELIB"; }
plant_per_user_shadow() { regsvr /n /i:user "$DLL"; }
# A copy of the module whose header says i386: a 32-bit file as far as a
# loader (and the doctor) can tell.
plant_32bit_file() {
  local copy="$WORK/x86/PvtCorrelator.dll" offset
  cp "$BIN/PvtCorrelator.dll" "$copy"
  offset=$(od -An -t u4 -j 60 -N 4 "$copy" | tr -d ' ')
  printf '\x4c\x01' | dd of="$copy" bs=1 seek=$((offset + 4)) conv=notrunc status=none
  wine_quiet reg add "$MACHINE\\CLSID\\$MASS_DENSITY\\InprocServer32" /ve \
    /d "$(winpath "$copy")" /f
}
# pvthost alone in a folder: the data server cannot be loaded by name.
plant_no_data_server() { cp "$PVTHOST" "$WORK/lonely/pvthost.exe"; }

# name | plant | pvthost to run | expected checks | text in a finding
cases=(
  "DLL deleted|plant_dll_deleted|$PVTHOST|module typelib|InprocServer32 names a missing file"
  "stale path|plant_stale_path|$PVTHOST|module|names a missing file C:\\\\old\\\\PvtCorrelator.dll"
  "type library missing|plant_typelib_missing|$PVTHOST|typelib|not registered"
  "host type library file missing|plant_host_typelib_missing|$PVTHOST|host-typelib|is missing"
  "per-user shadow|plant_per_user_shadow|$PVTHOST|per-user|shadows the machine's"
  "32-bit file in InprocServer32|plant_32bit_file|$PVTHOST|module|names a 32-bit file"
  "no data server|plant_no_data_server|$WORK/lonely/pvthost.exe|data-server|cannot be loaded"
)

# --- Healthy -----------------------------------------------------------------

healthy
doctor healthy
cat "$WORK/healthy.out"
[ "$status" -eq 0 ] || fail "healthy: exit $status"
grep -q '^No findings' "$WORK/healthy.out" || fail "healthy: $(cat "$WORK/healthy.out")"
doctor healthy-json --format json
[ "$status" -eq 0 ] || fail "healthy, json: exit $status"
[ -z "$(checks_of "$WORK/healthy-json.out")" ] || fail "healthy, json: $(cat "$WORK/healthy-json.out")"
grep -q '"healthy": true' "$WORK/healthy-json.out" || fail "healthy, json: not healthy"
[ "$failures" -eq 0 ] && note "ok: a healthy registration gives exit 0 and no finding"

# --- One fault at a time -----------------------------------------------------

for row in "${cases[@]}"; do
  IFS='|' read -r name plant host expected text <<<"$row"
  before=$failures
  $plant
  doctor case --host "$host" --format json
  [ "$status" -eq 1 ] || fail "$name: exit $status, expected 1: $(cat "$WORK/case.err")"
  found=$(checks_of "$WORK/case.out")
  [ "$found" = "$expected" ] || fail "$name: findings of \"$found\", expected \"$expected\""
  grep -qF -- "$text" "$WORK/case.out" || fail "$name: no finding saying \"$text\""
  if [ "$failures" -ne "$before" ]; then cat "$WORK/case.out"; else note "ok: $name"; fi
  if [ "$name" = "DLL deleted" ]; then  # the table, for the log
    doctor case-table
    cat "$WORK/case-table.out"
  fi
  healthy
done

doctor again
[ "$status" -eq 0 ] || { cat "$WORK/again.out"; fail "healthy again after the cases: exit $status"; }

# --user checks the user's registration alone: healthy once registered there,
# findings once it is removed.
pvthost unregister --module "$DLL" --typelib "$(winpath "$TYPELIB")"
pvthost register --user --module "$DLL" --typelib "$(winpath "$TYPELIB")"
doctor user --user
[ "$status" -eq 0 ] || { cat "$WORK/user.out"; fail "doctor --user, registered for the user: exit $status"; }
pvthost unregister --user --module "$DLL" --typelib "$(winpath "$TYPELIB")"
doctor user --user --format json
[ "$status" -eq 1 ] && [ "$(checks_of "$WORK/user.out")" = "classes host-typelib typelib" ] ||
  fail "doctor --user, nothing registered: exit $status, $(cat "$WORK/user.out")"
[ "$failures" -eq 0 ] && note "ok: --user checks the user's registration"

# --- Bad usage -----------------------------------------------------------------

doctor usage --bogus
[ "$status" -eq 2 ] || fail "doctor --bogus: exit $status, expected 2"
doctor usage --format xml
[ "$status" -eq 2 ] || fail "doctor --format xml: exit $status, expected 2"
[ "$failures" -eq 0 ] && note "ok: a bad command line exits 2"

scratch_prefix_finish "all doctor cases passed"
