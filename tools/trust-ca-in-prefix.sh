#!/usr/bin/env bash
# Usage: trust-ca-in-prefix.sh PREFIX CA_DER
# Makes the Wine prefix PREFIX (already initialised with wineboot) trust the
# certificate CA_DER as a root, in that prefix only: the host's trust store is
# never touched. Safe to run again.
#
# crypt32 keeps each certificate of a registry store under its SHA-1 thumbprint
# as a "Blob": a 12-byte property header (id 32 = the encoded certificate,
# 1, byte count; little-endian 32-bit values) followed by the DER bytes.
set -euo pipefail
if [ $# -ne 2 ]; then
    echo "usage: $0 PREFIX CA_DER" >&2
    exit 2
fi
prefix=$1
der=$2
if [ ! -f "$prefix/system.reg" ]; then
    echo "$0: $prefix is not an initialised Wine prefix (no system.reg)" >&2
    exit 1
fi
if [ ! -s "$der" ]; then
    echo "$0: $der: no such certificate" >&2
    exit 1
fi

thumb=$(openssl x509 -inform DER -in "$der" -noout -fingerprint -sha1 | sed 's/^.*=//; s/://g' | tr a-f A-F)
if [ ${#thumb} -ne 40 ]; then
    echo "$0: $der is not a DER certificate" >&2
    exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
reg=$work/trust-ca.reg

/usr/bin/python3 - "$der" "$thumb" "$reg" <<'EOF'
import struct, sys
der_path, thumb, reg_path = sys.argv[1:4]
der = open(der_path, "rb").read()
blob = struct.pack("<III", 32, 1, len(der)) + der
hexes = ["%02x" % b for b in blob]
# Short lines keep the file readable; regedit joins them at the backslash.
lines = [",".join(hexes[i:i + 24]) for i in range(0, len(hexes), 24)]
with open(reg_path, "w", newline="\r\n") as f:
    f.write("REGEDIT4\n\n")
    f.write("[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\%s]\n" % thumb)
    f.write('"Blob"=hex:' + ",\\\n  ".join(lines) + "\n\n")
EOF

export WINEPREFIX=$prefix WINEDEBUG=-all
# regedit takes a Windows path; a bare name relative to its working folder avoids
# converting one.
(cd "$work" && wine regedit /S trust-ca.reg)
wineserver -w

# regedit /S reports nothing on failure, so look for the key ourselves.
if ! wine reg query "HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\$thumb" /v Blob >/dev/null 2>&1; then
    echo "$0: the certificate $thumb did not reach the registry of $prefix" >&2
    exit 1
fi
wineserver -w
