#!/usr/bin/env bash
# Usage: sign-test-setups.sh CA_DIR PROGRAM.exe OUTDIR
# Makes the signed variants of a stand-in setup program that the publisher
# check is tested with, from the certificates of tools/make-test-ca.sh:
#   NAME-signed.exe     signed by "Tolvin Test Publisher" under the test CA
#   NAME-other.exe      signed by "Tolvin Other Publisher" under the test CA
#   NAME-untrusted.exe  signed by "Tolvin Test Publisher" under a CA nobody trusts,
#                       that CA's certificate included as a self-made one would be
#   NAME-notyet.exe     signed by "Tolvin Test Publisher" under the test CA with a
#                       certificate not valid yet
#   NAME-tampered.exe   NAME-signed.exe with one byte of its code changed after signing
set -euo pipefail
if [ $# -ne 3 ]; then
    echo "usage: $0 CA_DIR PROGRAM.exe OUTDIR" >&2
    exit 2
fi
ca=$1
program=$2
out=$3
name=$(basename "$program" .exe)
mkdir -p "$out"

sign() {
    local cert=$1 target=$2 chain=$ca/$1.pem
    rm -f "$target.tmp"
    if [ $# -ge 3 ]; then
        chain=$target.chain.pem
        cat "$ca/$cert.pem" "$ca/$3.pem" >"$chain"
    fi
    osslsigncode sign -certs "$chain" -key "$ca/$cert.key" -h sha256 \
        -n "Tolvin test setup" -i "https://localhost/" -in "$program" -out "$target.tmp" >/dev/null
    mv -f "$target.tmp" "$target"
    [ $# -lt 3 ] || rm -f "$chain"
}

sign codesign "$out/$name-signed.exe"
sign other-codesign "$out/$name-other.exe"
sign untrusted-codesign "$out/$name-untrusted.exe" untrusted-ca
sign notyet-codesign "$out/$name-notyet.exe"
# Past the 1 KiB of headers lies the code, which the signature's digest covers.
cp "$out/$name-signed.exe" "$out/$name-tampered.exe.tmp"
/usr/bin/python3 - "$out/$name-tampered.exe.tmp" <<'PY'
import sys
with open(sys.argv[1], "r+b") as f:
    f.seek(0x600)
    byte = f.read(1)
    f.seek(0x600)
    f.write(bytes([byte[0] ^ 0xFF]))
PY
mv -f "$out/$name-tampered.exe.tmp" "$out/$name-tampered.exe"
