#!/usr/bin/env bash
# Per-user registration in the scratch prefix: "regsvr32 /n /i:user" and
# "pvthost register --user" write the module's classes and type library (and
# pvthost the host's type library) beneath HKEY_CURRENT_USER\Software\Classes
# and nothing in the machine's classes; unregistering leaves both exactly as
# they were, compared as exported by "reg export". Command texts other than
# "user" are refused and change nothing. (Wine creates objects from the
# machine's classes only, so this cannot create an object from the per-user
# keys.)
#
# Usage: PerUserInScratchPrefix.sh WINE WINESERVER WINEBOOT WINEPATH BIN_DIR
#                                  REFHOST_DIR PREFIX_DIR WORK_DIR SCRIPT_DIR
set -uo pipefail

WINE=$1 WINESERVER=$2 WINEBOOT=$3 WINEPATH=$4
BIN=$5 REFHOST=$6 PREFIX=$7 WORK=$8 SCRIPTS=$9

. "$SCRIPTS/ScratchPrefix.sh"

DLL="$("$WINEPATH" -w "$BIN/PvtCorrelator.dll" 2>/dev/null)"
CHECKER="$BIN/pvt_regcheck.exe"
PVTHOST="$REFHOST/pvthost.exe"
HOST_LIBRARY='TypeLib\{2D54FBF0-5A42-11D3-A69B-00A0C9DF4274}'
MACHINE='HKLM\Software\Classes'
USER='HKCU\Software\Classes'

regsvr() { wine_quiet regsvr32 /s "$@"; }
pvthost() { wine_quiet "$PVTHOST" "$@"; }

# snapshot NAME [machine] [user]: the machine's and the user's classes (by
# default both) as "reg export" writes them, in $WORK/NAME-machine.reg and
# $WORK/NAME-user.reg (UTF-8). The machine's take a few seconds each.
snapshot() {
  local name=$1 which key
  shift
  [ $# -eq 0 ] && set -- machine user
  for which in "$@"; do
    key=$MACHINE
    [ "$which" = user ] && key=$USER
    rm -f "$WORK/export.reg"
    (cd "$WORK" && wine_quiet reg export "$key" export.reg /y)
    if [ -f "$WORK/export.reg" ]; then
      iconv -f UTF-16 -t UTF-8 "$WORK/export.reg" | tr -d '\r' >"$WORK/$name-$which.reg"
    else
      fail "reg export $key"
      : >"$WORK/$name-$which.reg"
    fi
  done
}

# same WHAT A B: the two exports are equal.
same() {
  if cmp -s "$WORK/$2" "$WORK/$3"; then note "ok: $1"; else
    diff "$WORK/$2" "$WORK/$3" | head -20
    fail "$1"
  fi
}

# Runs checker suites (a gtest filter) against the module registered from
# $DLL; with "user" first, on the user's classes key.
check() {
  local root="" out="$WORK/check.out"
  if [ "$1" = user ]; then root=user; shift; fi
  if (cd "$BIN" && PVT_CLASSES_ROOT="$root" PVT_EXPECTED_MODULE="$DLL" "$WINE" "$CHECKER" \
        --gtest_filter="$1" </dev/null >"$out" 2>&1); then
    note "ok: ${root:-machine} $1 ($(grep -c '^\[       OK \]' "$out") tests)"
  else
    cat "$out"
    fail "checks ${root:-machine} $1"
  fi
}

key_exists() { wine_quiet reg query "$1"; }

cleanup() {
  regsvr /u /n /i:user "$DLL"
  pvthost unregister --user
  scratch_prefix_stop
}
trap cleanup EXIT

# A run that stopped half-way may have left entries behind. Windows always
# has the user's classes key; a new Wine prefix does not have it yet.
regsvr /u /n /i:user "$DLL"
pvthost unregister --user
wine_quiet reg add "$USER" /f
snapshot before

# Command texts other than "user" are refused (regsvr32 exits 5 when the
# call fails) and change nothing.
expect_exit 5 "regsvr32 /n /i:machine is refused" regsvr /n /i:machine "$DLL"
expect_exit 5 "regsvr32 /n /i:users is refused" regsvr /n /i:users "$DLL"
expect_exit 5 "regsvr32 /u /n /i: is refused" regsvr /u /n /i: "$DLL"
# (The machine's classes are compared once all is done.)
snapshot refused user
same "refused: the user's classes unchanged" before-user.reg refused-user.reg

# Register for the user; the command text is compared without regard to case.
expect_exit 0 "regsvr32 /n /i:User registers" regsvr /n /i:User "$DLL"
snapshot registered
same "registered: the machine's classes unchanged" before-machine.reg registered-machine.reg
check user 'Registered.EveryClassHasExactlyItsEntries:Registered.TheTypeLibraryIsFoundWithItsAttributes:Registered.TheTypeLibraryVersionKeyCarriesTheLibrarysDescription'
check 'Unregistered.*'
# Under the user's classes: only the module's keys were added.
grep '^\[' "$WORK/before-user.reg" | sort >"$WORK/before-user.keys"
grep '^\[' "$WORK/registered-user.reg" | sort >"$WORK/registered-user.keys"
comm -13 "$WORK/before-user.keys" "$WORK/registered-user.keys" |
  grep -Eiv '\\Classes\\(PvtCorrelator\.|CLSID\\\{|TypeLib\\\{DEEC13C7-7766-4086-8C1B-434FBF176F1C\}|Interface\\\{|CLSID\]|TypeLib\]|Interface\])' \
    >"$WORK/foreign.keys"
if [ -s "$WORK/foreign.keys" ]; then
  cat "$WORK/foreign.keys"
  fail "registered: keys beyond the module's under the user's classes"
fi

expect_exit 0 "regsvr32 /u /n /i:user unregisters" regsvr /u /n /i:user "$DLL"
snapshot unregistered user
same "unregistered: the user's classes as before" before-user.reg unregistered-user.reg

# The reference host: the module and the host's type library, both per user.
expect_exit 0 "pvthost register --user" pvthost register --user
key_exists "$USER\\$HOST_LIBRARY" || fail "pvthost register --user: no host type library for the user"
key_exists "$MACHINE\\$HOST_LIBRARY" && fail "pvthost register --user: host type library for the machine"
check user 'Registered.EveryClassHasExactlyItsEntries'
snapshot host machine
same "pvthost register --user: the machine's classes unchanged" before-machine.reg host-machine.reg
expect_exit 0 "pvthost unregister --user" pvthost unregister --user
snapshot host-unregistered
same "all unregistered: the machine's classes as before" before-machine.reg host-unregistered-machine.reg
same "pvthost unregister --user: the user's classes as before" before-user.reg host-unregistered-user.reg

scratch_prefix_finish "all per-user registration steps passed"
