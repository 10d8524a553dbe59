#!/usr/bin/env bash
# Signing at install time: without a certificate the installed binaries are
# not signed; with a throwaway code-signing certificate made here by openssl
# (PVT_SIGNING_PFX, PVT_SIGNING_PASSWORD) "cmake --install" signs the module,
# pvthost.exe and varhub2.dll, "osslsigncode verify" accepts each against
# that certificate, the signed module is the unsigned one with the signature
# added, and the signed module still registers with regsvr32 in the scratch
# prefix and publishes through the signed pvthost.
#
# Usage: SignedInstall.sh WINE WINESERVER WINEBOOT WINEPATH CMAKE OPENSSL
#            OSSLSIGNCODE BUILD_DIR PREFIX_DIR WORK_DIR SCRIPT_DIR
set -uo pipefail

WINE=$1 WINESERVER=$2 WINEBOOT=$3 WINEPATH=$4 CMAKE=$5 OPENSSL=$6 OSSLSIGNCODE=$7
BUILD=$8 PREFIX=$9 WORK=${10} SCRIPTS=${11}

rm -rf "$WORK"
. "$SCRIPTS/ScratchPrefix.sh"

SIGNED="$WORK/signed"
DLL="$("$WINEPATH" -w "$SIGNED/bin/PvtCorrelator.dll" 2>/dev/null)"
FILES=(bin/PvtCorrelator.dll refhost/pvthost.exe refhost/varhub2.dll)

regsvr() { wine_quiet regsvr32 /s "$@"; }
cleanup() {
  regsvr /u "$DLL"
  scratch_prefix_stop
}
trap cleanup EXIT

install_to() {
  "$CMAKE" --install "$BUILD" --prefix "$1" >"$WORK/install.out" 2>&1 ||
    { cat "$WORK/install.out"; fail "cmake --install into $1"; }
}
verify() { "$OSSLSIGNCODE" verify -CAfile "$WORK/cert.pem" -in "$1" >"$WORK/verify.out" 2>&1; }

# Without a certificate: nothing signed.
unset PVT_SIGNING_PFX PVT_SIGNING_PASSWORD PVT_SIGNING_TIMESTAMP_URL
install_to "$WORK/unsigned"
for file in "${FILES[@]}"; do
  verify "$WORK/unsigned/$file" && fail "unsigned install: $file carries a signature"
done
note "ok: without a certificate nothing is signed"

# A throwaway certificate for code signing, valid for a day.
"$OPENSSL" req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=PvtCorrelator test signer" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$WORK/key.pem" -out "$WORK/cert.pem" \
  >"$WORK/openssl.out" 2>&1 || { cat "$WORK/openssl.out"; fail "openssl req"; }
"$OPENSSL" pkcs12 -export -inkey "$WORK/key.pem" -in "$WORK/cert.pem" -out "$WORK/cert.pfx" \
  -passout pass:throwaway >>"$WORK/openssl.out" 2>&1 || { cat "$WORK/openssl.out"; fail "openssl pkcs12"; }

PVT_SIGNING_PFX="$WORK/cert.pfx" PVT_SIGNING_PASSWORD=throwaway install_to "$SIGNED"
grep -c '^-- Signed: ' "$WORK/install.out" | grep -qx 3 || fail "install did not sign 3 files"
grep -q throwaway "$WORK/install.out" && fail "the password shows in the install's output"
[ -e "$BUILD/signing/password" ] && fail "the password file was left behind"
for file in "${FILES[@]}"; do
  if verify "$SIGNED/$file"; then note "ok: $file verifies"; else
    cat "$WORK/verify.out"
    fail "osslsigncode verify $file"
  fi
done
cmp -s "$WORK/unsigned/bin/PvtCorrelator.dll.debug" "$SIGNED/bin/PvtCorrelator.dll.debug" ||
  fail "signing changed the debug file"
# The signed module is the unsigned one with the signature added, as the
# README's check of a shipped module against a commit relies on.
if "$OSSLSIGNCODE" extract-signature -in "$SIGNED/bin/PvtCorrelator.dll" -out "$WORK/module.sig" \
      >"$WORK/attach.out" 2>&1 &&
    "$OSSLSIGNCODE" attach-signature -sigin "$WORK/module.sig" -CAfile "$WORK/cert.pem" \
      -in "$WORK/unsigned/bin/PvtCorrelator.dll" -out "$WORK/reattached.dll" >>"$WORK/attach.out" 2>&1 &&
    cmp -s "$WORK/reattached.dll" "$SIGNED/bin/PvtCorrelator.dll"; then
  note "ok: the signed module is the unsigned one with its signature"
else
  cat "$WORK/attach.out"
  fail "the signature moved onto the unsigned module does not give the signed one"
fi

# The signed module still registers and publishes.
regsvr /u "$DLL"  # left by a run that stopped half-way
expect_exit 0 "regsvr32 registers the signed module" regsvr "$DLL"
"$WINE" "$SIGNED/refhost/pvthost.exe" calc --fluid "$SIGNED/refhost/fluids/black-oil.fluid" \
  --class MassDensity --format csv </dev/null >"$WORK/calc.out" 2>>"$LOG"
status=$?
[ "$status" -eq 0 ] || fail "signed pvthost calc: exit $status"
if grep -qxF 'MassDensity,Mass Density,16,553.1,125,742,1012' "$WORK/calc.out"; then
  note "ok: the signed module publishes"
else
  cat "$WORK/calc.out"
  fail "signed pvthost calc: no MassDensity row"
fi

scratch_prefix_finish "all signing steps passed"
