#!/usr/bin/env bash
# Usage: make-test-ca.sh OUTDIR
# Makes (once) the certificates the local download server and the test Wine
# prefixes use; does nothing when OUTDIR already holds them:
#   ca.key ca.pem ca.der            test CA (trusted in test prefixes only)
#   server.pem server.key           localhost / 127.0.0.1, signed by the test CA
#   untrusted-ca.pem                a second CA that nothing trusts
#   untrusted-server.pem/.key       localhost / 127.0.0.1, signed by that CA
#   codesign.pem/.key               code signing, "Tolvin Test Publisher", by the test CA
#   other-codesign.pem/.key         code signing, "Tolvin Other Publisher", by the test CA
#   untrusted-codesign.pem/.key     code signing, "Tolvin Test Publisher", by the untrusted CA
#   notyet-codesign.pem/.key        code signing, "Tolvin Test Publisher", by the test CA, valid
#                                   only from 280 days on (what a clock far behind sees)
# Certificates are backdated a day so a clock a little behind still accepts them.
set -euo pipefail
if [ $# -ne 1 ]; then
    echo "usage: $0 OUTDIR" >&2
    exit 2
fi
out=$1
files="ca.key ca.pem ca.der server.pem server.key untrusted-ca.pem untrusted-server.pem untrusted-server.key
    codesign.pem codesign.key other-codesign.pem other-codesign.key untrusted-codesign.pem untrusted-codesign.key
    notyet-codesign.pem notyet-codesign.key"

all_present() {
    local f
    for f in $files; do
        [ -s "$out/$f" ] || return 1
    done
}

all_present && exit 0
mkdir -p "$out"
# Tests running in parallel may all ask for the same folder.
exec 9>"$out/.lock"
flock 9
all_present && exit 0

# Built next to the results so the final moves are plain renames.
work=$(mktemp -d "$out/.work.XXXXXX")
trap 'rm -rf "$work"' EXIT

# openssl ca is the only way in OpenSSL 3.0 to set notBefore explicitly.
start=$(date -u -d '-1 day' +%y%m%d%H%M%SZ)
ca_end=$(date -u -d '+3649 days' +%y%m%d%H%M%SZ)
# 300 days in all, well under the 398 days clients accept for server certificates.
server_end=$(date -u -d '+299 days' +%y%m%d%H%M%SZ)
notyet_start=$(date -u -d '+280 days' +%y%m%d%H%M%SZ)

cat >"$work/openssl.cnf" <<'EOF'
[ca]
default_ca = test_ca

[test_ca]
database = $ENV::CA_WORK/index.txt
new_certs_dir = $ENV::CA_WORK
serial = $ENV::CA_WORK/serial
default_md = sha256
policy = any_policy
unique_subject = no
copy_extensions = none
email_in_dn = no

[any_policy]
organizationName = optional
commonName = supplied

[req]
distinguished_name = req_dn
prompt = no

[req_dn]

[ca_ext]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash

[server_ext]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
# Wine's crypt32 matches only dNSName entries against the host, even when the
# host is an IP address, so 127.0.0.1 is listed both ways.
subjectAltName = DNS:localhost, IP:127.0.0.1, DNS:127.0.0.1
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid

[codesign_ext]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EOF

# make_ca NAME SUBJECT: NAME.key and NAME.pem, self-signed.
make_ca() {
    local name=$1 subject=$2
    export CA_WORK=$work/$name.db
    mkdir -p "$CA_WORK"
    : >"$CA_WORK/index.txt"
    openssl rand -hex 16 >"$CA_WORK/serial"
    openssl genrsa -out "$work/$name.key" 2048 2>/dev/null
    openssl req -new -config "$work/openssl.cnf" -key "$work/$name.key" \
        -subj "$subject" -out "$work/$name.csr"
    openssl ca -batch -notext -config "$work/openssl.cnf" -selfsign \
        -keyfile "$work/$name.key" -extensions ca_ext \
        -startdate "$start" -enddate "$ca_end" \
        -in "$work/$name.csr" -out "$work/$name.pem" 2>/dev/null
}

# make_leaf CA_NAME OUT_NAME EXTENSIONS SUBJECT [START]: OUT_NAME.key and
# OUT_NAME.pem, signed by CA_NAME.
make_leaf() {
    local ca=$1 name=$2 extensions=$3 subject=$4 from=${5:-$start}
    export CA_WORK=$work/$ca.db
    openssl genrsa -out "$work/$name.key" 2048 2>/dev/null
    openssl req -new -config "$work/openssl.cnf" -key "$work/$name.key" \
        -subj "$subject" -out "$work/$name.csr"
    openssl ca -batch -notext -config "$work/openssl.cnf" \
        -cert "$work/$ca.pem" -keyfile "$work/$ca.key" -extensions "$extensions" \
        -startdate "$from" -enddate "$server_end" \
        -in "$work/$name.csr" -out "$work/$name.pem" 2>/dev/null
}

make_ca ca "/O=Tolvin Test/CN=Tolvin Test CA"
make_leaf ca server server_ext "/O=Tolvin Test/CN=localhost"
make_ca untrusted-ca "/O=Tolvin Untrusted Test/CN=Tolvin Untrusted Test CA"
make_leaf untrusted-ca untrusted-server server_ext "/O=Tolvin Test/CN=localhost"
make_leaf ca codesign codesign_ext "/O=Tolvin Test/CN=Tolvin Test Publisher"
make_leaf ca other-codesign codesign_ext "/O=Tolvin Test/CN=Tolvin Other Publisher"
make_leaf untrusted-ca untrusted-codesign codesign_ext "/O=Tolvin Test/CN=Tolvin Test Publisher"
make_leaf ca notyet-codesign codesign_ext "/O=Tolvin Test/CN=Tolvin Test Publisher" "$notyet_start"
openssl x509 -in "$work/ca.pem" -outform DER -out "$work/ca.der"

chmod 600 "$work"/*.key
# Readers that skip the lock look for every file, so they only ever see a
# complete set.
for f in $files; do
    mv -f "$work/$f" "$out/$f"
done
