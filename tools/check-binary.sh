#!/usr/bin/env bash
# Usage: check-binary.sh tolvin-installer.exe [MAX_BYTES]
# Checks what the shipped file must be: a 64-bit GUI program whose import table
# names only DLLs that are KnownDLLs on every Windows from 7 on (so none can be
# planted beside it; the others are delay-loaded from System32), with the
# administrator manifest and its pictures.
set -euo pipefail
exe=$1
dump=$(x86_64-w64-mingw32-objdump -p "$exe")
fail() { echo "FAIL: $*"; exit 1; }
grep -q 'Magic.*020b' <<<"$dump" || fail "not PE32+"
grep -q 'Subsystem.*(Windows GUI)' <<<"$dump" || fail "not a GUI program"
known='advapi32 comdlg32 gdi32 imagehlp imm32 kernel32 msctf msvcrt normaliz nsi ole32 oleaut32 psapi rpcrt4
       sechost setupapi shell32 shlwapi user32 wldap32 ws2_32'
for dll in $(grep 'DLL Name:' <<<"$dump" | awk '{print $3}'); do
    base=$(tr 'A-Z' 'a-z' <<<"${dll%.*}")
    [[ " $(echo $known) " == *" $base "* ]] || fail "imports $dll, which is not a KnownDLL on every supported Windows"
done
grep -aq 'requireAdministrator' "$exe" || fail "no administrator manifest"
size=$(stat -c %s "$exe")
rsrc=$(( 16#$(x86_64-w64-mingw32-objdump -h "$exe" | awk '$2 == ".rsrc" {print $3}') ))
# Bitmap 102 alone is 520,840 bytes.
[ "${rsrc:-0}" -gt 520840 ] || fail "resources too small (${rsrc:-0} bytes): pictures missing"
# Only the stripped release has a size budget (1.8 MiB); test builds carry debug info.
if [ $# -ge 2 ]; then
    [ "$size" -le "$2" ] || fail "$size bytes, over $2"
fi
echo "ok: $exe, $size bytes, resources $rsrc bytes, $(grep -c 'DLL Name:' <<<"$dump") system DLLs"
