#!/usr/bin/env bash
# "pvthost blend" under Wine: on the sample fluid, one printed point of each
# regime of the viscosity blend equals the blend's formula, worked out here
# from the fluid file's densities and viscosities and the printed mass
# fractions; bad input ends with a message and a non-zero exit. The module
# and the host type library are unregistered at the end, whatever happens.
#
# Usage: pvthost-blend.sh BUILD_DIR SOURCE_DIR
set -uo pipefail

. "$2/refhost/tests/host-test-common.sh" "$@"
fluid="$source_dir/refhost/fluids/black-oil.fluid"

run() {  # NAME ARGS...: output in $work/NAME.out and .err, exit code in $rc
    local name=$1
    shift
    "$wine_run" "$pvthost" "$@" </dev/null >"$work/$name.out" 2>"$work/$name.err"
    rc=$?
}

"$wine_run" "$pvthost" register </dev/null >"$work/register.out" 2>&1 ||
    fail "register: $(cat "$work/register.out")"

run csv blend --fluid "$fluid" --points 11
[ "$rc" -eq 0 ] || fail "csv: exit code $rc: $(cat "$work/csv.err")"
[ "$(head -1 "$work/csv.out")" = "f,x1,x2,mu1,mu2,blend" ] || fail "csv: header"
[ "$(wc -l <"$work/csv.out")" -eq 12 ] || fail "csv: not 11 points"

# The formula, from the fluid's values of phases 1 and 2 (columns 3 and 4),
# at the point of each regime nearest its middle. Every number is printed
# with all its digits, so the comparison is exact.
awk -v fluid="$fluid" -F, '
    BEGIN {
        while ((getline line < fluid) > 0) {
            sub(/#.*/, "", line)
            split(line, w, " ")
            if (w[1] == "mass_density") { rho1 = w[3] + 0; rho2 = w[4] + 0 }
            if (w[1] == "viscosity") { m1 = w[3] + 0; m2 = w[4] + 0 }
        }
    }
    function distance(a, b) { return a > b ? a - b : b - a }
    NR == 1 { next }
    {
        x1 = $2 + 0; x2 = $3 + 0
        if (x1 + x2 != 1) { print "row " NR ": x1 + x2 = " x1 + x2; bad = 1 }
        f = (x1 / rho1) / ((x2 / rho2) + (x1 / rho1))
        mt = ((((m2 * 0.4) + m1) / (m2 + m1)) * (f * 2.5) + 1.0) * m2
        me = exp((1.0 - f) * 3.6) * m1
        if (f < 0.33) { regime = "dispersed-in-2"; middle = 0.165; r = mt }
        else if (f > 0.5) { regime = "dispersed-in-1"; middle = 0.75; r = me }
        else {
            regime = "interpolated"; middle = 0.415
            weight = (f - 0.33) / (0.5 - 0.33); r = ((1.0 - weight) * mt) + (weight * me)
        }
        if ((regime in best) && distance(f, middle) >= best[regime]) next
        best[regime] = distance(f, middle)
        report[regime] = sprintf("%s: printed f=%s blend=%s, formula f=%.17g blend=%.17g", regime, $1, $6, f, r)
        wrong[regime] = ($1 + 0 != f || $4 + 0 != m1 || $5 + 0 != m2 || $6 + 0 != r)
    }
    END {
        found = 0
        for (regime in report) {
            found++
            print report[regime] (wrong[regime] ? "  DIFFERS" : "")
            if (wrong[regime]) bad = 1
        }
        if (found != 3) { print "not every regime has a point"; bad = 1 }
        exit bad
    }' "$work/csv.out" >"$work/formula" || fail "blend differs from the formula: $(cat "$work/formula")"
# All phase 1, then all phase 2: the blend is mu1, then mu2.
[ "$(sed -n 2p "$work/csv.out")" = "1,1,0,0.85,0.42,0.85" ] || fail "first point: $(sed -n 2p "$work/csv.out")"
[ "$(tail -1 "$work/csv.out")" = "0,0,1,0.85,0.42,0.42" ] || fail "last point: $(tail -1 "$work/csv.out")"

# JSON: the same points, and the viscosity's unit from the fluid file.
run json blend --fluid "$fluid" --points 11 --format json
[ "$rc" -eq 0 ] || fail "json: exit code $rc"
grep -q '^{"viscosityUnit": "mPa s", "points": \[$' "$work/json.out" || fail "json: unit"
sed -n 's/^  {"f": \([^,]*\), "x1": \([^,]*\), "x2": \([^,]*\), "mu1": \([^,]*\), "mu2": \([^,]*\), "blend": \([^}]*\)}.*/\1,\2,\3,\4,\5,\6/p' \
    "$work/json.out" >"$work/json.rows"
tail -n +2 "$work/csv.out" | cmp -s - "$work/json.rows" || fail "json: points differ from csv"

# Bad input: NAME EXIT_CODE TEXT ARGS...
bad() {
    local name=$1 code=$2 text=$3
    shift 3
    run "$name" blend "$@"
    [ "$rc" -eq "$code" ] || fail "$name: exit code $rc, expected $code"
    grep -qF -- "$text" "$work/$name.err" || fail "$name: stderr lacks \"$text\": $(cat "$work/$name.err")"
    [ -s "$work/$name.out" ] && fail "$name: printed points"
}
sed 's/^viscosity .*/viscosity 0.018 n\/a 0.42 n\/a 0.62/' "$fluid" >"$work/no-mu1.fluid"
sed 's/^mass_density .*/mass_density 125 742 0 n\/a 553.1/' "$fluid" >"$work/zero-rho2.fluid"
printf 'unit viscosity cP\n' | cat "$fluid" - >"$work/two-units.fluid"
bad unknown-option 1 'blend: unknown option "--colour"' --fluid "$fluid" --colour
bad no-fluid 1 'blend: --fluid FILE is required' --points 5
bad one-point 1 'blend: --points "1" is not a whole number from 2 to 10001' --fluid "$fluid" --points 1
bad table 1 'blend: unknown format "table"; use csv or json' --fluid "$fluid" --format table
bad missing-file 2 'cannot read fluid file' --fluid "$work/nowhere.fluid"
bad no-water 2 'no-water.fluid: phase 2 (water in the samples) is absent' \
    --fluid "$source_dir/refhost/fluids/no-water.fluid"
bad no-mu1 2 'no-mu1.fluid: viscosity of phase 1 is not available (n/a)' --fluid "$work/no-mu1.fluid"
bad zero-rho2 2 'zero-rho2.fluid: mass_density of phase 2 is 0; the blend needs a positive number' \
    --fluid "$work/zero-rho2.fluid"
bad two-units 2 'unit of "viscosity" already given on line' --fluid "$work/two-units.fluid"
run help blend --help
grep -q '^Usage: pvthost blend --fluid FILE' "$work/help.out" || fail "blend --help"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
cat "$work/formula"
echo "all blend checks passed"
