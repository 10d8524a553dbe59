#!/usr/bin/env bash
# The minimal host under Wine against the reference data server: it fails
# cleanly while the module is not registered, and once registered (through
# pvthost, as an installer would with regsvr32) prints the published values
# and finds everything released. Also checks that every step marker of the
# example is explained in docs/integration.md at the line it links to. The
# module and the host type library are unregistered at the end, whatever
# happens.
#
# Usage: minimal-host-test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail

. "$2/refhost/tests/host-test-common.sh" "$@"

# run_host NAME: runs the example from its folder, beside varhub2.dll; its
# output (text mode: CR LF line ends) in $work/NAME.out and .err with LF.
run_host() {
    (cd "$build/refhost" && "$wine_run" ./minimal-host.exe </dev/null >"$work/$1.raw" 2>"$work/$1.rawerr")
    rc=$?
    tr -d '\r' <"$work/$1.raw" >"$work/$1.out"
    tr -d '\r' <"$work/$1.rawerr" >"$work/$1.err"
}

"$wine_run" "$pvthost" unregister </dev/null >/dev/null 2>&1
run_host unregistered
[ "$rc" -ne 0 ] || fail "unregistered: exit code 0"
grep -q '^minimal-host: CoCreateInstance failed: 0x80040154$' "$work/unregistered.err" ||
    fail "unregistered: $(cat "$work/unregistered.err")"

"$wine_run" "$pvthost" register </dev/null >"$work/register.out" 2>&1 ||
    fail "register: $(cat "$work/register.out")"
run_host registered
[ "$rc" -eq 0 ] || fail "registered: exit code $rc: $(cat "$work/registered.err")"
cat >"$work/expected.out" <<'END'
overall  553.1
phase 0  125
phase 1  742
phase 2  n/a
released: source back to 1 reference, no server objects
END
diff "$work/expected.out" "$work/registered.out" >"$work/diff" || fail "output: $(cat "$work/diff")"

# Every "[@step](../examples/minimal-host/MinimalHost.cpp#LN)" in the guide
# lands on the line of that step's marker, and every marker is linked.
example="$source_dir/examples/minimal-host/MinimalHost.cpp"
guide="$source_dir/docs/integration.md"
grep -o '\[@[a-z]*\](\.\./examples/minimal-host/MinimalHost\.cpp#L[0-9]*)' "$guide" |
    sed 's/^\[\(@[a-z]*\)\].*#L\([0-9]*\))$/\1 \2/' >"$work/links"
[ -s "$work/links" ] || fail "guide: no links to the example"
while read -r marker line; do
    sed -n "${line}p" "$example" | grep -q -- "$marker\b" ||
        fail "guide: $marker links to line $line: $(sed -n "${line}p" "$example")"
done <"$work/links"
for marker in $(grep -o '@[a-z][a-z]*' "$example" | sort -u); do
    grep -q "^$marker " "$work/links" || fail "guide: $marker not linked"
done

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "minimal host checks passed"
