# Sourced by the scripts that run Wine programs in the scratch prefix of the
# registration tests. Expects WINE, WINESERVER, WINEBOOT, PREFIX and WORK to
# be set; makes the prefix once (it is reused by every run), starts a
# persistent wineserver for it, and gives the helpers below. A script ends
# with scratch_prefix_finish, and its cleanup calls scratch_prefix_stop.

# The scratch prefix's variables, for the Wine commands of the script only.
export WINEPREFIX="$PREFIX"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d"
export WINEARCH=win64
export DISPLAY=""

mkdir -p "$WORK"
LOG="$WORK/wine.log"
: >"$LOG"
failures=0

note() { printf '%s\n' "$*"; }
fail() {
  note "FAILED: $*"
  failures=$((failures + 1))
}

# Every Wine process runs with no handle on the test runner's output: what
# it prints goes to the log.
wine_quiet() { "$WINE" "$@" </dev/null >>"$LOG" 2>&1; }

expect_exit() {
  local expected=$1 what=$2
  shift 2
  "$@"
  local status=$?
  if [ "$status" -eq "$expected" ]; then note "ok: $what"; else fail "$what: exit $status, expected $expected"; fi
}

if [ ! -f "$PREFIX/system.reg" ]; then
  (
    flock 9
    if [ ! -f "$PREFIX/system.reg" ]; then
      note "making the scratch prefix $PREFIX"
      "$WINEBOOT" -i </dev/null >/dev/null 2>&1
      "$WINESERVER" -w
    fi
  ) 9>"$PREFIX.lock"
fi

"$WINESERVER" -p </dev/null >/dev/null 2>&1
wine_quiet cmd /c exit 0

scratch_prefix_stop() {
  "$WINESERVER" -k >/dev/null 2>&1
  "$WINESERVER" -w >/dev/null 2>&1
}

scratch_prefix_finish() {
  if [ "$failures" -ne 0 ]; then
    note "$failures step(s) failed; Wine's output is in $LOG"
    exit 1
  fi
  note "$1"
  exit 0
}
