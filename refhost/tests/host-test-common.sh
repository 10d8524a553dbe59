# Shared by the end-to-end tests that drive pvthost.exe under Wine: the
# paths, a scratch folder, a failure count, and a clean-up that unregisters
# the module and the host type library again, whatever happens, so that
# tests expecting them unregistered are unaffected.
#
# Usage, from a test script: . SOURCE_DIR/refhost/tests/host-test-common.sh BUILD_DIR SOURCE_DIR

build=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)
wine_run="$build/wine-run.sh"
pvthost="$build/refhost/pvthost.exe"
work=$(mktemp -d)
failures=0

cleanup() {
    "$wine_run" "$pvthost" unregister </dev/null >"$work/cleanup.out" 2>&1 ||
        { echo "cleanup: unregister failed:"; cat "$work/cleanup.out"; }
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
