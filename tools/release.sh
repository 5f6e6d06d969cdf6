#!/usr/bin/env bash
# Usage: release.sh (--pkcs12 FILE | --cert CERT.pem --key KEY.pem) --ca CA.pem
#                   [--timestamp URL] [-DNAME=VALUE ...]
# Builds the release preset (-D arguments go to CMake), signs a copy of
# tolvin-installer.exe with Authenticode (SHA-256, the product's description,
# the support site as URL), verifies the signature against the root CA.pem and
# only then puts the signed exe and its SHA256SUMS into dist/, both in one
# step. The build folder keeps the unsigned exe. The release starts only a setup
# program signed by the same signer as the installer (TOLVIN_SETUP_PUBLISHER
# from the certificate) unless -DTOLVIN_SETUP_PUBLISHER=... says otherwise; an
# empty value turns that check off, with a warning. A name taken from the
# certificate file must be that of the certificate that signed the exe.
#   TOLVIN_SIGN_PASSWORD      password of the PKCS#12 file (or of an encrypted key)
#   TOLVIN_RELEASE_BUILD_DIR  build folder (default build/release)
#   TOLVIN_DIST_DIR           where the release goes (default dist)
# Exit codes: 0 released; 2 refused (arguments, certificate, password, signing,
# verification, a signer other than the publisher checked for, a build date
# more than a day ahead of this machine's clock); 1 the build
# failed. dist/ changes only on 0.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${TOLVIN_RELEASE_BUILD_DIR:-$root/build/release}")
dist=$(realpath -m "${TOLVIN_DIST_DIR:-$root/dist}")
# Shown by Windows as the program name when it asks for administrator rights.
# osslsigncode stores it as an IA5String, which holds 7-bit ASCII only, so the
# Chinese product name would arrive garbled: the English one goes in instead.
description="tolvin audio format converter installer"

usage() { sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0"; }
refuse() {
    echo "release.sh: $*" >&2
    echo "release.sh: nothing released; $dist is as it was" >&2
    exit 2
}
# Arguments name files relative to the caller's folder.
readable() {
    [ -r "$2" ] && [ -f "$2" ] || refuse "$1 $2: no such readable file"
    realpath "$2"
}

pkcs12= cert= key= ca= timestamp= publisher=
defines=()
while [ $# -gt 0 ]; do
    case $1 in
        --pkcs12 | --cert | --key | --ca | --timestamp)
            [ $# -ge 2 ] || refuse "$1 needs a value"
            case $1 in
                --pkcs12) pkcs12=$(readable "$1" "$2") ;;
                --cert) cert=$(readable "$1" "$2") ;;
                --key) key=$(readable "$1" "$2") ;;
                --ca) ca=$(readable "$1" "$2") ;;
                --timestamp) timestamp=$2 ;;
            esac
            shift 2
            ;;
        -D?*) defines+=("$1"); shift ;;
        -h | --help) usage; exit 0 ;;
        *) usage >&2; refuse "unknown argument: $1" ;;
    esac
done

if [ -z "$pkcs12" ] && [ -z "$cert$key" ]; then
    refuse "no signing certificate: give --pkcs12 FILE (password in TOLVIN_SIGN_PASSWORD) or --cert CERT.pem --key KEY.pem"
fi
[ -z "$pkcs12" ] || [ -z "$cert$key" ] || refuse "give either --pkcs12 or --cert and --key, not both"
[ -n "$pkcs12" ] || { [ -n "$cert" ] && [ -n "$key" ]; } || refuse "--cert and --key go together"
if [ -n "$pkcs12" ] && [ -z "${TOLVIN_SIGN_PASSWORD+set}" ]; then
    refuse "TOLVIN_SIGN_PASSWORD is not set: it holds the password of $pkcs12"
fi
[ -n "$ca" ] || refuse "no --ca: give the root certificate the signature must chain to"

# The signer name Windows compares (CERT_NAME_SIMPLE_DISPLAY_TYPE): the
# subject's first common name, else its organisational unit, organisation or
# e-mail address. Reads one certificate on stdin.
simple_display_name() {
    local subject attribute name
    subject=$(openssl x509 -noout -subject -nameopt sep_multiline,lname,utf8,-esc_msb 2>/dev/null) || return 1
    for attribute in commonName organizationalUnitName organizationName emailAddress; do
        name=$(sed -n "s/^    $attribute=//p" <<<"$subject" | head -n1)
        if [ -n "$name" ]; then
            printf '%s\n' "$name"
            return 0
        fi
    done
    return 1
}

# The vendor signs the setup program with the installer's certificate, so a
# release checks what it starts against that certificate's own name.
publisher_given=
for define in "${defines[@]}"; do
    if [[ $define =~ ^-DTOLVIN_SETUP_PUBLISHER(:[A-Za-z]+)?=(.*)$ ]]; then
        publisher_given=1
        publisher=${BASH_REMATCH[2]}
    fi
done
if [ -z "$publisher_given" ]; then
    if [ -n "$pkcs12" ]; then
        publisher=$(openssl pkcs12 -in "$pkcs12" -nokeys -clcerts -passin env:TOLVIN_SIGN_PASSWORD 2>/dev/null |
                    simple_display_name) ||
            refuse "cannot read the signer's name from $pkcs12: wrong TOLVIN_SIGN_PASSWORD, or it holds no certificate with a subject name; -DTOLVIN_SETUP_PUBLISHER=NAME gives it"
    else
        publisher=$(simple_display_name <"$cert") ||
            refuse "cannot read the signer's name from $cert; -DTOLVIN_SETUP_PUBLISHER=NAME gives it"
    fi
    defines+=("-DTOLVIN_SETUP_PUBLISHER=$publisher")
elif [ -z "$publisher" ]; then
    echo "release.sh: WARNING: -DTOLVIN_SETUP_PUBLISHER is empty: this release starts whatever setup program it downloads, signed or not" >&2
fi

cd "$root"
# The build date the failure notice compares the computer's clock with (as
# CMake reads it): one ahead of the real time would tell users whose clocks are
# right that theirs is behind. A day's leeway for time zones and clock drift.
built=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || true)}
if [[ $built =~ ^[0-9]+$ ]] && [ "$built" -gt $(($(date +%s) + 86400)) ]; then
    refuse "the build date $(date -u -d "@$built" '+%F %T') UTC (the commit's time, or SOURCE_DATE_EPOCH) is later than this machine's clock by more than a day: fix the commit's date or the clock"
fi
tools/setup.sh
# --fresh: the release gets the preset's and this command's settings only,
# never -D values an earlier configuration of the folder left in its cache.
if ! { cmake --preset release --fresh -B "$build" "${defines[@]}" >/dev/null && cmake --build "$build" -j2; }; then
    echo "release.sh: the build failed; nothing released" >&2
    exit 1
fi
support_host=$(sed -n 's/^TOLVIN_SUPPORT_HOST:STRING=//p' "$build/CMakeCache.txt")

# The new release is put together next to dist/, on the same file system, so
# that it replaces the old one by a rename.
parent=$(dirname "$dist")
mkdir -p "$parent"
stage=$(mktemp -d "$parent/.$(basename "$dist").new.XXXXXX")
trap 'rm -rf "$stage"' EXIT
chmod "$(umask -S)" "$stage"
# Anything else a vendor keeps in dist/ stays.
[ ! -d "$dist" ] || cp -a "$dist/." "$stage/"
rm -f "$stage/tolvin-installer.exe" "$stage/SHA256SUMS"

sign=(osslsigncode sign -h sha256 -n "$description" -i "https://$support_host/"
      -in "$build/tolvin-installer.exe" -out "$stage/tolvin-installer.exe")
if [ -n "$pkcs12" ]; then
    sign+=(-pkcs12 "$pkcs12")
else
    sign+=(-certs "$cert" -key "$key")
fi
# The password goes through a pipe, never the command line that ps shows.
[ -z "${TOLVIN_SIGN_PASSWORD:-}" ] || sign+=(-readpass /dev/fd/3)
[ -z "$timestamp" ] || sign+=(-ts "$timestamp")
if ! output=$("${sign[@]}" 2>&1 3< <(printf '%s' "${TOLVIN_SIGN_PASSWORD:-}")); then
    echo "$output" >&2
    if [ -n "$pkcs12" ]; then
        refuse "signing failed: wrong TOLVIN_SIGN_PASSWORD for $pkcs12, or it holds no code-signing key and certificate${timestamp:+, or the time-stamping service $timestamp did not answer}"
    fi
    refuse "signing failed: $key does not open (TOLVIN_SIGN_PASSWORD) or does not belong to $cert${timestamp:+, or the time-stamping service $timestamp did not answer}"
fi

if ! output=$(osslsigncode verify -in "$stage/tolvin-installer.exe" -CAfile "$ca" 2>&1); then
    echo "$output" >&2
    refuse "the signed exe does not verify against $ca"
fi
expiry=$(sed -n 's/^[[:space:]]*notAfter : //p' <<<"$output" | head -n1)

# The name the exe was signed in is that of the certificate that signed it,
# which the --cert or --pkcs12 file need not list first: osslsigncode names it
# by issuer and serial, and the signature carries it among its certificates.
block=$(sed -n "/^Signer's certificate:/,/^\$/p" <<<"$output")
issuer=$(sed -n 's/^[[:space:]]*Issuer : //p' <<<"$block" | head -n1)
serial=$(sed -n 's/^[[:space:]]*Serial : //p' <<<"$block" | head -n1)
scratch=$(mktemp -d)
trap 'rm -rf "$stage" "$scratch"' EXIT
osslsigncode extract-signature -in "$stage/tolvin-installer.exe" -out "$scratch/signature.der" >/dev/null 2>&1 &&
    openssl pkcs7 -inform DER -in "$scratch/signature.der" -print_certs 2>/dev/null |
    awk -v dir="$scratch" '/-----BEGIN CERTIFICATE-----/ { n++ } n { print > (dir "/cert" n ".pem") }' ||
    refuse "cannot read the certificates in the signed exe's signature"
signer=
for certificate in "$scratch"/cert*.pem; do
    [ -f "$certificate" ] || continue
    # osslsigncode writes names as X509_NAME_oneline does; -nameopt compat matches it.
    identity=$(openssl x509 -in "$certificate" -noout -issuer -serial -nameopt compat 2>/dev/null) || continue
    if [ -n "$serial" ] && [ "$identity" = "issuer=$issuer"$'\n'"serial=$serial" ]; then
        signer=$(simple_display_name <"$certificate") || signer=
        break
    fi
done
[ -n "$signer" ] || refuse "cannot find the signing certificate's name in the signed exe"
if [ -n "$publisher" ] && [ "$signer" != "$publisher" ]; then
    [ -n "$publisher_given" ] ||
        refuse "the exe is signed by \"$signer\" but would start only setup programs signed by \"$publisher\", the first certificate in ${cert:-$pkcs12}: put the signing certificate first or give -DTOLVIN_SETUP_PUBLISHER=NAME"
    echo "release.sh: note: signed by \"$signer\"; starts setup programs signed by \"$publisher\", as -DTOLVIN_SETUP_PUBLISHER says" >&2
fi
if [ -z "$timestamp" ]; then
    echo "release.sh: WARNING: no --timestamp: the signature stops validating when the signing certificate expires${expiry:+ ($expiry)}; give an RFC 3161 time-stamping URL to keep it valid after that" >&2
fi

(cd "$stage" && sha256sum tolvin-installer.exe >SHA256SUMS)
if [ -d "$dist" ]; then
    # Both files change together: the folders trade places in one rename
    # (renameat2 RENAME_EXCHANGE), and the old release leaves with the stage.
    if ! /usr/bin/python3 - "$stage" "$dist" <<'EOF'; then
import ctypes, os, sys
libc = ctypes.CDLL(None, use_errno=True)
AT_FDCWD, RENAME_EXCHANGE = -100, 2
if libc.renameat2(AT_FDCWD, os.fsencode(sys.argv[1]), AT_FDCWD, os.fsencode(sys.argv[2]), RENAME_EXCHANGE):
    error = ctypes.get_errno()
    sys.exit(f"cannot exchange the folders: {os.strerror(error)}")
EOF
        # A file system without that: the exe first, the sums right after.
        mv -f "$stage/tolvin-installer.exe" "$dist/tolvin-installer.exe"
        mv -f "$stage/SHA256SUMS" "$dist/SHA256SUMS"
    fi
else
    mv -T "$stage" "$dist"
fi

echo "released, signed by ${signer:-?}; starts setup programs signed by: ${publisher:-anyone (unchecked)}"
echo "  $dist/tolvin-installer.exe"
echo "  $dist/SHA256SUMS: $(cat "$dist/SHA256SUMS")"
