#!/usr/bin/env bash
# Usage: reproducible_test.sh WORK
# tools/check-reproducible.sh on this tree, then its comparison on a copy of
# the first build whose link time differs, which it must catch and name.
set -euo pipefail
work=$(realpath -m "$1")
root=$(cd "$(dirname "$0")/../.." && pwd)
TOLVIN_REPRODUCIBLE_DIR=$work "$root/tools/check-reproducible.sh"

exe=$work/first/tolvin-installer.exe
changed=$work/changed.exe
cp "$exe" "$changed"
stamp=$(( $(od -An -tu4 -j60 -N4 "$exe") + 8 ))
printf '\x01' | dd of="$changed" bs=1 seek="$stamp" conv=notrunc status=none
if out=$("$root/tools/pe_diff.py" "$exe" "$changed"); then
    echo "FAIL: pe_diff.py found no difference in the link time"
    exit 1
fi
grep -q "first difference at offset $stamp .*: COFF header TimeDateStamp" <<<"$out" || {
    echo "FAIL: the link time difference was not named: $out"
    exit 1
}
rm -rf "$work"
echo "ok: reproducible"
