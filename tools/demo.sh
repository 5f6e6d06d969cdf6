#!/usr/bin/env bash
# Sets up what is missing, builds the installer pointed at the bundled local
# download server and runs one whole installation under Wine on a private
# virtual display: splash with progress (screenshot saved), setup program
# fetched, started, waited for and deleted. Prints what happened.
# Usage: tools/demo.sh [DPI]   DPI: the display's, 96 (100 %) unless given
# (192 is 200 %); set in the demo prefix for the run and put back after.
set -euo pipefail
dpi=${1:-}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tools/setup.sh
build=$root/build/demo
cmake --preset demo >/dev/null
cmake --build --preset demo
echo "Preparing the Wine prefix (the first time takes a minute)..."
tools/make-wine-prefix.sh "$build/wineprefix" "$build/test-ca"

# shellcheck source=tools/xvfb.sh
. tools/xvfb.sh
start_private_display
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
desktop='HKCU\Control Panel\Desktop'
saved_dpi=
if [ -n "$dpi" ]; then
    saved_dpi=$(wine reg query "$desktop" /v LogPixels 2>/dev/null | awk '$1 == "LogPixels" {print $3}' || true)
    wine reg add "$desktop" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
fi
restore_dpi() {
    [ -n "$dpi" ] || return 0
    if [ -n "$saved_dpi" ]; then
        wine reg add "$desktop" /v LogPixels /t REG_DWORD /d "$((saved_dpi))" /f >/dev/null 2>&1 || true
    else
        wine reg delete "$desktop" /v LogPixels /f >/dev/null 2>&1 || true
    fi
}

run=$build/run
rm -rf "$run"
mkdir -p "$run"
# The prefix's recording browser writes here (tools/record-browser.sh).
browser_log=$WINEPREFIX/browser.log
rm -f "$browser_log"
# The demo installer checks the setup program's publisher, so the server hands
# out the sample signed by the test publisher.
tools/sign-test-setups.sh "$build/test-ca" "$build/sample_setup.exe" "$build/signed"
setup=$build/signed/sample_setup-signed.exe
# Slow enough that the splash shows a download in progress for about 8 seconds.
rate=$(( $(stat -c %s "$setup") / 8 ))
/usr/bin/python3 tools/download_server.py --cert-dir "$build/test-ca" --port 48543 --setup-file "$setup" \
    --rate "$rate" --log "$run/server.log" --port-file "$run/server.port" --watch-pid $$ &
server=$!
trap 'kill $server 2>/dev/null || true; restore_dpi; kill $TOLVIN_XVFB_PID 2>/dev/null || true; wineserver -k 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -f "$run/server.port" ] && break; sleep 0.1; done

echo "Running the installer in $run ..."
(cd "$run" && wine "$build/tolvin-installer.exe"; echo $? > "$run/exit-code") &
installer=$!
# Once the splash is up (Wine names its X window after the title; a loaded
# machine may take several seconds), a few seconds into the download.
for _ in $(seq 60); do xwininfo -root -tree 2>/dev/null | grep -q '"Tolvin Installer"' && break; sleep 0.5; done
sleep 4
import -window root "$build/screenshot.png" && echo "Screenshot during the download: $build/screenshot.png"
for _ in $(seq 120); do kill -0 $installer 2>/dev/null || break; sleep 1; done

echo
echo "Requests the server saw:"; sed 's/^/  /' "$run/server.log"
if [ -f "$run/sample-setup-record.txt" ]; then
    echo "The setup program ran:"; sed 's/^/  /' "$run/sample-setup-record.txt"
else
    echo "The setup program did not run."
fi
[ -e "$run/tolvin-setup.exe" ] && echo "tolvin-setup.exe is still in $run" || echo "tolvin-setup.exe was deleted after the setup program exited."
[ -s "$browser_log" ] && { echo "Browser was asked to open:"; sed 's/^/  /' "$browser_log"; }
profile=$(wine cmd /c echo %USERPROFILE% 2>/dev/null | tr -d '\r')
config=$(winepath -u "$profile\\.tolvin\\config.toml" 2>/dev/null || true)
[ -n "$config" ] && [ -f "$config" ] && { echo "Registered in $config:"; sed 's/^/  /' "$config"; }
code=$(cat "$run/exit-code" 2>/dev/null || echo "none (still running)")
echo "Installer exit code: $code"
[ "$code" = 0 ] && [ -f "$run/sample-setup-record.txt" ] && [ ! -e "$run/tolvin-setup.exe" ]
