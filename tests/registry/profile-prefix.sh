#!/usr/bin/env bash
# Usage: profile-prefix.sh make PREFIX SHARED_PREFIX | remove PREFIX
# A throwaway Wine prefix for the registry tests: a copy of the shared test
# prefix in which dot-names carry no hidden attribute of their own (as on
# Windows), so that the tests see the attributes registration sets and not
# Wine's naming rule for ".tolvin".
set -euo pipefail
action=$1
prefix=$2
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# Whatever still runs in the throwaway prefix belongs to an earlier run.
WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
rm -rf "$prefix"
[ "$action" = remove ] && exit 0

shared=$3
cp -a "$shared" "$prefix"
WINEPREFIX=$prefix wine reg add 'HKCU\Software\Wine' /v ShowDotFiles /d Y /f >/dev/null
WINEPREFIX=$prefix wineserver -w
