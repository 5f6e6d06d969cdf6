#!/usr/bin/env bash
# Usage: signing_test.sh CA_DIR WORK [-DNAME=VALUE ...]
# tools/release.sh with the test CA's throwaway code-signing certificate: a
# first release from --cert/--key, replaced by one from a PKCS#12 file, each
# checked the way a user would; then refusals (a certificate file that lists
# another certificate before the signer's, no certificate, a build date ahead
# of the clock, a wrong password, a signature that does not chain to --ca)
# that must keep that release whole.
# WORK/dist ends up holding the PKCS#12 release, which the binary, publisher
# and end-to-end tests run.
set -euo pipefail
ca=$1
work=$(realpath -m "$2")
shift 2
root=$(cd "$(dirname "$0")/../.." && pwd)
export TOLVIN_RELEASE_BUILD_DIR=$work/build TOLVIN_DIST_DIR=$work/dist
dist=$TOLVIN_DIST_DIR
log=$work/release.log
fail() {
    echo "FAIL: $*"
    [ ! -f "$log" ] || sed 's/^/  release.sh: /' "$log"
    exit 1
}

"$root/tools/make-test-ca.sh" "$ca"
mkdir -p "$work"
rm -rf "$dist" "$log"
p12=$work/codesign.p12
openssl pkcs12 -export -in "$ca/codesign.pem" -inkey "$ca/codesign.key" \
    -passout pass:test-password -out "$p12"

# release PASSWORD ARGS...: tools/release.sh, its output in $log; its exit code.
release() {
    local password=$1
    shift
    env TOLVIN_SIGN_PASSWORD="$password" "$root/tools/release.sh" "$@" >"$log" 2>&1
}

check_release() {
    (cd "$dist" && sha256sum --check --strict SHA256SUMS) || fail "SHA256SUMS does not match"
    osslsigncode verify -in "$dist/tolvin-installer.exe" -CAfile "$ca/ca.pem" >"$work/verify.log" 2>&1 ||
        fail "osslsigncode verify: $(cat "$work/verify.log")"
    grep -q "URL description: https://${support_host}/\$" "$work/verify.log" || fail "no support URL in the signature"
    grep -q "Text description: tolvin" "$work/verify.log" || fail "no description in the signature"
    grep -q "WARNING: no --timestamp" "$log" || fail "no warning about the missing time stamp"
    grep -qx "TOLVIN_SETUP_PUBLISHER:STRING=Tolvin Test Publisher" "$TOLVIN_RELEASE_BUILD_DIR/CMakeCache.txt" ||
        fail "the release does not check for the signing certificate's publisher"
    # The build folder keeps the unsigned exe, and signing added nothing but the signature.
    rm -f "$work/unsigned.exe"
    osslsigncode remove-signature -in "$dist/tolvin-installer.exe" -out "$work/unsigned.exe" >/dev/null
    cmp "$work/unsigned.exe" "$TOLVIN_RELEASE_BUILD_DIR/tolvin-installer.exe" ||
        fail "the release is not the build output plus a signature, or the build output was signed"
    [ -z "$(find "$work" -maxdepth 1 -name '.dist.new.*')" ] || fail "staging folder left next to dist"
}

# refused WHAT PATTERN PASSWORD ARGS...: exit code 2, a message matching
# PATTERN, the release in dist as it was and nothing left beside it.
refused() {
    local what=$1 pattern=$2 before after code=0
    shift 2
    before=$(cd "$dist" && ls -A && sha256sum -- *)
    release "$@" || code=$?
    [ "$code" = 2 ] || fail "$what: exit code $code, expected 2"
    grep -Eq "$pattern" "$log" || fail "$what: no message matching '$pattern'"
    after=$(cd "$dist" && ls -A && sha256sum -- *)
    [ "$before" = "$after" ] || fail "$what: dist changed"
    [ -z "$(find "$work" -maxdepth 1 -name '.dist.new.*')" ] || fail "$what: staging folder left next to dist"
    echo "refused as expected: $what"
}

support_host=$(printf '%s\n' "$@" | sed -n 's/^-DTOLVIN_SUPPORT_HOST=//p')
support_host=${support_host:-support.tolvin.com}

release "" --cert "$ca/codesign.pem" --key "$ca/codesign.key" --ca "$ca/ca.pem" "$@" ||
    fail "release with --cert/--key: exit code $?"
check_release
first=$(sha256sum "$dist/tolvin-installer.exe")
# The signer is the certificate that matches the key, wherever the file lists it.
cat "$ca/other-codesign.pem" "$ca/codesign.pem" >"$work/other-first.pem"
refused "a certificate file that lists another certificate first" 'signed by "Tolvin Test Publisher"' "" \
    --cert "$work/other-first.pem" --key "$ca/codesign.key" --ca "$ca/ca.pem" "$@"
release test-password --pkcs12 "$p12" --ca "$ca/ca.pem" "$@" || fail "release with --pkcs12: exit code $?"
check_release
[ "$(sha256sum "$dist/tolvin-installer.exe")" != "$first" ] || fail "the second release did not replace the first"

refused "no certificate" "no signing certificate" "" --ca "$ca/ca.pem" "$@"
SOURCE_DATE_EPOCH=$(($(date +%s) + 2 * 86400)) refused "a build date two days ahead" "later than this machine's clock" \
    test-password --pkcs12 "$p12" --ca "$ca/ca.pem" "$@"
refused "a wrong password" "wrong TOLVIN_SIGN_PASSWORD" not-the-password --pkcs12 "$p12" --ca "$ca/ca.pem" "$@"
refused "a certificate from another CA" "does not verify" "" \
    --cert "$ca/untrusted-codesign.pem" --key "$ca/untrusted-codesign.key" --ca "$ca/ca.pem" "$@"
rm -f "$log"
echo "ok: signed release in $dist"
