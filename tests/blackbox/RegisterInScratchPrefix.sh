#!/usr/bin/env bash
# Registers the built PvtCorrelator.dll with Wine's regsvr32 in a scratch
# prefix of its own and checks what lands in the registry after each step
# with pvt_regcheck.exe (one test suite per step). The prefix is made once
# and reused; every run leaves it as clean as it found it.
#
# Usage: RegisterInScratchPrefix.sh WINE WINESERVER WINEBOOT WINEPATH BIN_DIR
#                                   PREFIX_DIR WORK_DIR SCRIPT_DIR
set -uo pipefail

WINE=$1 WINESERVER=$2 WINEBOOT=$3 WINEPATH=$4
BIN=$5 PREFIX=$6 WORK=$7 SCRIPTS=$8

. "$SCRIPTS/ScratchPrefix.sh"

DLL="$("$WINEPATH" -w "$BIN/PvtCorrelator.dll" 2>/dev/null)"
QUOTED_DIR="$WORK/it's here"
QUOTED_DLL_UNIX="$QUOTED_DIR/PvtCorrelator.dll"
QUOTED_DLL="$("$WINEPATH" -w "$QUOTED_DLL_UNIX" 2>/dev/null)"
CHECKER="$BIN/pvt_regcheck.exe"
CLASS_KEY='HKCR\CLSID\{4DF4A90C-3E4E-4a2e-8186-3C9042C91674}'
PROGID_KEY='HKCR\PvtCorrelator.BubblePtPressure'

regsvr() { wine_quiet regsvr32 /s "$@"; }

# Runs one suite of the checker against the given registered module.
check() {
  local suite=$1 module=$2 out="$WORK/check.out"
  if (cd "$BIN" && PVT_EXPECTED_MODULE="$module" "$WINE" "$CHECKER" \
        --gtest_filter="$suite.*" </dev/null >"$out" 2>&1); then
    note "ok: $suite ($(grep -c '^\[       OK \]' "$out") tests)"
  else
    cat "$out"
    fail "checks $suite"
  fi
}

cleanup() {
  regsvr /u "$DLL"
  [ -f "$QUOTED_DLL_UNIX" ] && regsvr /u "$QUOTED_DLL"
  wine_quiet reg delete "$PROGID_KEY\\AddedByOthers" /f
  wine_quiet reg delete "$CLASS_KEY" /f
  scratch_prefix_stop
}
trap cleanup EXIT

# A run that stopped half-way may have left entries behind.
regsvr /u "$DLL"
wine_quiet reg delete "$PROGID_KEY\\AddedByOthers" /f
wine_quiet reg delete "$CLASS_KEY" /f
check Unregistered "$DLL"

# Register, then read every entry back.
expect_exit 0 "regsvr32 registers" regsvr "$DLL"
check Registered "$DLL"

# Others add subkeys under the class key and under a ProgID key; a second
# registration rebuilds only the class key.
wine_quiet reg add "$CLASS_KEY\\AddedByOthers" /ve /d foreign /f
wine_quiet reg add "$PROGID_KEY\\AddedByOthers" /ve /d foreign /f
expect_exit 0 "regsvr32 registers again" regsvr "$DLL"
check RegisteredAgain "$DLL"
wine_quiet reg delete "$PROGID_KEY\\AddedByOthers" /f

# Unregister, twice.
expect_exit 0 "regsvr32 /u unregisters" regsvr /u "$DLL"
check Unregistered "$DLL"
# The second run finds nothing to remove: every script succeeds, and a type
# library that is no longer registered counts as unregistered.
expect_exit 0 "regsvr32 /u a second time succeeds" regsvr /u "$DLL"
check Unregistered "$DLL"

# A foreign subkey under the class key keeps that key.
expect_exit 0 "regsvr32 registers for the foreign subkey" regsvr "$DLL"
wine_quiet reg add "$CLASS_KEY\\AddedByOthers" /ve /d foreign /f
expect_exit 0 "regsvr32 /u with a foreign subkey" regsvr /u "$DLL"
check ForeignSubkeyKept "$DLL"
wine_quiet reg delete "$CLASS_KEY" /f
check Unregistered "$DLL"

# A module path with a single quote lands in InprocServer32 unchanged.
mkdir -p "$QUOTED_DIR"
cp "$BIN/PvtCorrelator.dll" "$QUOTED_DLL_UNIX"
expect_exit 0 "regsvr32 registers from a path with a quote" regsvr "$QUOTED_DLL"
check Registered "$QUOTED_DLL"
expect_exit 0 "regsvr32 /u from a path with a quote" regsvr /u "$QUOTED_DLL"
check Unregistered "$QUOTED_DLL"

# A scripting client creates a correlation by its ProgID; the data server
# double is found in the current folder.
expect_exit 0 "regsvr32 registers for cscript" regsvr "$DLL"
JS="$("$WINEPATH" -w "$SCRIPTS/CreateByProgId.js" 2>/dev/null)"
(cd "$BIN" && "$WINE" cscript //nologo "$JS" </dev/null >"$WORK/cscript.out" 2>&1)
status=$?
if [ "$status" -eq 0 ]; then note "ok: cscript creates PvtCorrelator.GOR"; else
  cat "$WORK/cscript.out"
  fail "cscript: exit $status"
fi
expect_exit 0 "regsvr32 /u after cscript" regsvr /u "$DLL"
check Unregistered "$DLL"

scratch_prefix_finish "all registration steps passed"
