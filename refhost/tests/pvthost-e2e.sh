#!/usr/bin/env bash
# End to end under Wine: pvthost registers the module in the build's prefix,
# runs every correlation on the sample fluids in every output format and
# checks the printed values against the fluid files (the derived rows by
# their formulas), then checks the error handling of bad input. The module
# and the host type library are unregistered again at the end, whatever
# happens, so that tests expecting them unregistered are unaffected.
#
# Usage: pvthost-e2e.sh BUILD_DIR SOURCE_DIR
set -uo pipefail

. "$2/refhost/tests/host-test-common.sh" "$@"
fluids="$source_dir/refhost/fluids"

# run NAME ARGS...: runs pvthost with no inherited handles; output in
# $work/NAME.out and $work/NAME.err, exit code in $rc.
run() {
    local name=$1
    shift
    "$wine_run" "$pvthost" "$@" </dev/null >"$work/$name.out" 2>"$work/$name.err"
    rc=$?
}

expect_rc() {  # NAME EXPECTED
    if [ "$rc" -ne "$2" ]; then
        fail "$1: exit code $rc, expected $2"
        sed 's/^/    /' "$work/$1.out" "$work/$1.err" | head -20
    fi
}

expect_err() {  # NAME TEXT: stderr holds TEXT
    grep -qF -- "$2" "$work/$1.err" || fail "$1: stderr lacks \"$2\": $(head -3 "$work/$1.err")"
}

# --- The fluid files as numbers --------------------------------------------

# The fluid file's property of each slot of the block, by slot number.
slot_properties=(bubble_point_pressure bubble_point_temperature viscosity_coefficient_a
    viscosity_coefficient_b reserved_4 reserved_5 gas_oil_ratio heat_capacity heat_capacity_ratio
    reserved_9 mass_density mass_enthalpy mass_entropy mass_flow_rate mass_fraction
    net_heating_value oil_formation_volume_factor oil_viscosity solution_gas_oil_ratio
    std_liquid_mass_density surface_tension thermal_conductivity thermal_conductivity_mass_blend
    thermal_conductivity_vol_blend viscosity reserved_25 volume_fraction watson_k z_factor)

# The tests' expected classes in class-table order, one "name publication
# slot" line each.
expected_classes() {
    sed -n 's/^PVT_EXPECTED_CLASS(\([A-Za-z0-9_]*\),.*, *\([A-Za-z]*\), *\(-\{0,1\}[0-9]*\))$/\1 \2 \3/p' \
        "$source_dir/tests/support/ExpectedCatalogue.inc"
}
class_count=$(expected_classes | wc -l)
[ "$class_count" -gt 0 ] || fail "no expected classes in tests/support/ExpectedCatalogue.inc"

# expected FLUID: one line per class "Class overall p0 p1 p2", with -32767
# for "not available", computed from the fluid file: phase values of absent
# phases are -32767, and the derived rows follow their formulas.
expected() {
    local fluid=$1
    # "Class=property" for a common publication, "Class=Publication" for a
    # derived one.
    local mapping="" c publication slot
    while read -r c publication slot; do
        if [ "$publication" = Common ]; then
            mapping+="$c=${slot_properties[$slot]} "
        else
            mapping+="$c=$publication "
        fi
    done < <(expected_classes)
    awk -v mapping="$mapping" '
        function value(name, i) { return (name in v) ? v[name, i] : E }
        # Index 0..3 is a phase (not available when absent), 4 the overall value.
        function get(name, i) { return (i < 4 && !present[i]) ? E : ((name SUBSEP i) in v ? v[name, i] : E) }
        function show(c, a, b, d, e) { printf "%s %.17g %.17g %.17g %.17g\n", c, a, b, d, e }
        function massflow(c,   M, p, m) {
            M = get("mass_flow_rate", 4)
            for (p = 0; p < 3; p++) {
                x = get("mass_fraction", p)
                m[p] = (M == E || x == E) ? E : M * x
            }
            show(c, M, m[0], m[1], m[2])
        }
        function volflow(c,   rho, M, Q, p, q, x, r) {
            rho = get("mass_density", 4); M = get("mass_flow_rate", 4)
            Q = (rho == 0) ? 0 : ((M == E || rho == E) ? E : M / rho)
            for (p = 0; p < 3; p++) {
                r = get("mass_density", p); x = get("mass_fraction", p)
                q[p] = (r == 0) ? E : ((M == E || x == E || r == E) ? E : (M * x) / r)
            }
            show(c, Q, q[0], q[1], q[2])
        }
        function viscosity(c,   mu, mu1, mu2, x1, x2, r1, r2, x0, f, mt, me, w, r) {
            mu = get("viscosity", 4); mu1 = get("viscosity", 1); mu2 = get("viscosity", 2)
            x1 = get("mass_fraction", 1); x2 = get("mass_fraction", 2)
            r1 = get("mass_density", 1); r2 = get("mass_density", 2); x0 = get("mass_fraction", 0)
            r = mu
            if (mu1 != E && mu2 != E && x0 < 5e-05) {
                f = (x1 / r1) / ((x2 / r2) + (x1 / r1))
                mt = ((((mu2 * 0.4) + mu1) / (mu2 + mu1)) * (f * 2.5) + 1.0) * mu2
                me = exp((1.0 - f) * 3.6) * mu1
                if (f < 0.33) r = mt
                else if (f > 0.5) r = me
                else { w = (f - 0.33) / (0.5 - 0.33); r = ((1.0 - w) * mt) + (w * me) }
            }
            show(c, r, get("viscosity", 0), mu1, mu2)
        }
        BEGIN { E = -32767 }
        { sub(/#.*/, "") }
        NF == 0 { next }
        $1 == "present" { for (i = 0; i < 4; i++) present[i] = ($(i + 2) == "1"); next }
        { for (i = 0; i < 5; i++) v[$1, i] = ($(i + 2) == "n/a") ? E : $(i + 2) + 0 }
        END {
            n = split(mapping, pairs, " ")
            for (k = 1; k <= n; k++) {
                split(pairs[k], kv, "=")
                c = kv[1]; name = kv[2]
                if (name == "MassFlowRate") massflow(c)
                else if (name == "VolFlowRate") volflow(c)
                else if (name == "Viscosity") viscosity(c)
                else show(c, get(name, 4), get(name, 0), get(name, 1), get(name, 2))
            }
        }' "$fluid"
}

# --- What pvthost printed, as the same lines -------------------------------

# Values: n/a (table), null (json), empty (csv) become -32767.
from_table() {
    awk 'NR > 2 {
        n = NF
        printf "%s %s %s %s %s\n", $1, $(n-3), $(n-2), $(n-1), $n
    }' "$1" | sed 's#n/a#-32767#g'
}
from_json() {
    sed -n 's/.*"class": "\([^"]*\)".*"overall": \([^,]*\), "phases": \[\([^,]*\), \([^,]*\), \([^]]*\)\].*/\1 \2 \3 \4 \5/p' "$1" |
        sed 's/null/-32767/g'
}
from_csv() {
    awk -F, 'NR > 1 {
        for (i = 4; i <= 7; i++) if ($i == "") $i = -32767
        printf "%s %s %s %s %s\n", $1, $4, $5, $6, $7
    }' "$1"
}

# compare NAME EXPECTED ACTUAL TOLERANCE: same classes in the same order,
# values equal (within a relative tolerance for the rounded table).
compare() {
    local name=$1 tolerance=$4
    if ! paste -d' ' "$2" "$3" | awk -v tol="$tolerance" -v count="$class_count" '
        function differ(a, b) {
            if (a == b) return 0
            d = a - b; if (d < 0) d = -d
            m = (a < 0 ? -a : a)
            return d > tol * m
        }
        NF != 10 || $1 != $6 { print "row " NR ": " $0; bad = 1; next }
        { for (i = 2; i <= 5; i++) if (differ($i + 0, $(i + 5) + 0)) { print "row " NR ": " $0; bad = 1 } }
        END { if (NR != count) { print NR " rows instead of " count; bad = 1 } exit bad }'; then
        fail "$name: values differ from the fluid file"
    fi
}

check_fluid() {  # LABEL FLUID
    local label=$1 fluid=$2
    expected "$fluid" >"$work/$label.expected"
    run "$label-table" calc --fluid "$fluid"
    expect_rc "$label-table" 0
    from_table "$work/$label-table.out" >"$work/$label-table.rows"
    compare "$label table" "$work/$label.expected" "$work/$label-table.rows" 1e-9
    run "$label-json" calc --fluid "$fluid" --format json
    expect_rc "$label-json" 0
    from_json "$work/$label-json.out" >"$work/$label-json.rows"
    compare "$label json" "$work/$label.expected" "$work/$label-json.rows" 0
    run "$label-csv" calc --fluid "$fluid" --format csv
    expect_rc "$label-csv" 0
    from_csv "$work/$label-csv.out" >"$work/$label-csv.rows"
    compare "$label csv" "$work/$label.expected" "$work/$label-csv.rows" 0
}

# --- Not registered, then registered ---------------------------------------

run unregister-first unregister
expect_rc unregister-first 0
run calc-unregistered calc --fluid "$fluids/black-oil.fluid"
expect_rc calc-unregistered 3
expect_err calc-unregistered 'not registered; run "pvthost register"'
run list-unregistered list
expect_rc list-unregistered 3

run register register
expect_rc register 0
grep -q "Registered module .*PvtCorrelator.dll" "$work/register.out" || fail "register: no report"
grep -q "Registered type library .*HostCorrelation.tlb" "$work/register.out" || fail "register: no type library"

run list list
expect_rc list 0
[ "$(tail -n +3 "$work/list.out" | wc -l)" -eq "$class_count" ] || fail "list: not $class_count classes"
grep -q '^PvtCorrelator.BubblePtPressure  *{4DF4A90C-3E4E-4A2E-8186-3C9042C91674}  *Bubble Point Pressure  *2$' \
    "$work/list.out" || fail "list: BubblePtPressure row"

# --- Values ------------------------------------------------------------------

check_fluid black-oil "$fluids/black-oil.fluid"
check_fluid no-water "$fluids/no-water.fluid"
# Without water, phase 2 is not available in every row.
awk -F, 'NR > 1 && $7 != "" { exit 1 }' "$work/no-water-csv.out" || fail "no-water: a phase 2 value"
[ "$(grep -c 'n/a$' "$work/no-water-table.out")" -eq "$class_count" ] ||
    fail "no-water: table phase 2 not n/a"
grep -q '"class": "GOR", .*"phases": \[null, null, null\]' "$work/no-water-json.out" ||
    fail "no-water: GOR phases not null"

# A gas-free fluid takes the emulsion branch of the viscosity blend.
sed -e 's/^present .*/present 0 1 1 0/' -e 's/^viscosity .*/viscosity 0.02 6.5 0.45 n\/a 3.1/' \
    -e 's/^mass_fraction .*/mass_fraction 0 0.4 0.6 n\/a 1/' "$fluids/black-oil.fluid" >"$work/no-gas.fluid"
check_fluid no-gas "$work/no-gas.fluid"
grep -q '^Viscosity 3.1 ' "$work/no-gas-json.rows" && fail "no-gas: viscosity not blended"

# Display names and kind codes as the module reports them, in list order.
tail -n +3 "$work/list.out" | awk '{ sub(/^PvtCorrelator\./, "", $1); print $1, $NF }' >"$work/list.kinds"
sed -n 's/.*"class": "\([^"]*\)".*"kind": \([-0-9]*\),.*/\1 \2/p' "$work/black-oil-json.out" >"$work/calc.kinds"
cmp -s "$work/list.kinds" "$work/calc.kinds" || fail "calc: classes or kind codes differ from list"
grep -q '^VolFlowRate,Volumetric Flow Rate,5,' "$work/black-oil-csv.out" || fail "csv: VolFlowRate identity"

# Selected classes, in the order given, names case-insensitive.
run select calc --fluid "$fluids/black-oil.fluid" --class zfactor --class GOR --format csv
expect_rc select 0
[ "$(cut -d, -f1 "$work/select.out" | tr '\n' ' ')" = "class ZFactor GOR " ] || fail "select: rows"

# --- Bad input -----------------------------------------------------------------

bad_fluid() {  # NAME EXPECTED_TEXT CONTENT
    printf '%s\n' "$3" >"$work/$1.fluid"
    run "$1" calc --fluid "$work/$1.fluid"
    expect_rc "$1" 2
    expect_err "$1" "$2"
    [ -s "$work/$1.out" ] && fail "$1: printed results"
}
bad_fluid unknown-property ':3: unknown property "density"' $'# x\npresent 1 1 1 0\ndensity 1 2 3 4 5'
bad_fluid missing-value ':2: property "z_factor" needs 5 values (phases 0 to 3, then overall), found 4' \
    $'present 1 1 1 0\nz_factor 1 2 3 4'
bad_fluid extra-value 'found 6' $'present 1 1 1 0\nz_factor 1 2 3 4 5 6'
bad_fluid not-a-number ':3: value 2 of "watson_k", "12,5", is not a number or n/a' \
    $'present 1 1 1 0\n\nwatson_k 1 12,5 3 4 5'
bad_fluid duplicate ':4: property "gas_oil_ratio" already given on line 2' \
    $'present 1 1 1 0\ngas_oil_ratio 1 2 3 4 5\n# again\ngas_oil_ratio 1 2 3 4 5'
bad_fluid no-presence 'no "present" line' 'z_factor 1 2 3 4 5'
bad_fluid bad-presence ':1: presence flag "2" is not 0 or 1' 'present 1 2 1 0'
bad_fluid twice-presence ':2: presence flags already given on line 1' $'present 1 1 1 0\npresent 1 1 1 0'

run missing-file calc --fluid "$work/does-not-exist.fluid"
expect_rc missing-file 2
expect_err missing-file 'cannot read fluid file'
expect_err missing-file '0x80070002'

run unknown-class calc --fluid "$fluids/black-oil.fluid" --class Density
expect_rc unknown-class 1
expect_err unknown-class 'unknown class "Density"; valid names: BubblePtPressure, BubblePtTemperature'
expect_err unknown-class 'VolFlowRate'
run typelib-only-class calc --fluid "$fluids/black-oil.fluid" --class OilGravity
expect_rc typelib-only-class 1
run bad-format calc --fluid "$fluids/black-oil.fluid" --format xml
expect_rc bad-format 1
expect_err bad-format 'unknown format "xml"'
run no-fluid calc
expect_rc no-fluid 1
expect_err no-fluid '--fluid FILE is required'
run bad-option calc --fluid "$fluids/black-oil.fluid" --colour
expect_rc bad-option 1
expect_err bad-option 'unknown option "--colour"'
run bad-command frobnicate
expect_rc bad-command 1
run missing-module register --module "$work/nowhere/PvtCorrelator.dll"
expect_rc missing-module 4
expect_err missing-module 'cannot load module'
run not-a-module register --module "$build/refhost/varhub2.dll"
expect_rc not-a-module 4
expect_err not-a-module 'does not export DllRegisterServer'

for command in register unregister list calc; do
    run "help-$command" "$command" --help
    expect_rc "help-$command" 0
    grep -q "^Usage: pvthost $command" "$work/help-$command.out" || fail "$command --help"
done

# A pvthost without the data server beside it: the module cannot create
# its variables, so every creation fails with the platform's message.
mkdir "$work/alone"
cp "$pvthost" "$work/alone/"
(cd "$work/alone" &&
    "$wine_run" ./pvthost.exe calc --fluid "$fluids/black-oil.fluid" --class GOR \
        </dev/null >"$work/alone.out" 2>"$work/alone.err")
rc=$?
expect_rc alone 5
expect_err alone 'PvtCorrelator.GOR: CoCreateInstance failed: 0x80004005 ('

# --- Unregistered again --------------------------------------------------------

run unregister unregister
expect_rc unregister 0
grep -q "Unregistered type library" "$work/unregister.out" || fail "unregister: type library"
run calc-after calc --fluid "$fluids/black-oil.fluid"
expect_rc calc-after 3
# Unregistering what is not registered succeeds and says so.
run unregister-again unregister
expect_rc unregister-again 0
grep -q "^Module .* was not registered" "$work/unregister-again.out" || fail "unregister again: module"
grep -q "^Type library .* was not registered" "$work/unregister-again.out" ||
    fail "unregister again: type library"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all pvthost checks passed"
