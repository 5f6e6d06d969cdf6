#!/usr/bin/env bash
# Usage: make-wine-prefix.sh PREFIX CA_DIR
# Makes (once) a 64-bit Wine prefix for tests and the demo: Chinese UI font
# substitute, the test CA trusted in this prefix only, and a browser that
# records what the installer opens instead of opening it. Idempotent.
set -euo pipefail
prefix=$1
ca_dir=$2
here=$(cd "$(dirname "$0")" && pwd)
stamp=$prefix/.tolvin-prefix-ready

"$here/make-test-ca.sh" "$ca_dir"

ca_sum=$(sha1sum "$ca_dir/ca.der" | cut -d' ' -f1)
if [ -f "$stamp" ]; then
    # A CA made anew (its folder removed) must be trusted again.
    if [ "$(cat "$stamp")" != "$ca_sum" ]; then
        "$here/trust-ca-in-prefix.sh" "$prefix" "$ca_dir/ca.der"
        echo "$ca_sum" > "$stamp"
    fi
    exit 0
fi
rm -rf "$prefix"
mkdir -p "$(dirname "$prefix")"
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineboot -i >/dev/null 2>&1
wineserver -w

# Chinese texts are drawn with "Microsoft YaHei"; map it to a font Debian ships.
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
    /v 'Microsoft YaHei' /d 'WenQuanYi Zen Hei' /f >/dev/null 2>&1
# URLs handed to the shell go to a recorder script (see tools/record-browser.sh).
wine reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /d "$here/record-browser.sh" /f >/dev/null 2>&1
wineserver -w

"$here/trust-ca-in-prefix.sh" "$prefix" "$ca_dir/ca.der"
wineserver -w
echo "$ca_sum" > "$stamp"
