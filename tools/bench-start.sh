#!/usr/bin/env bash
# Usage: tools/bench-start.sh HOST:PORT BEFORE.exe AFTER.exe [ROUNDS]
# Time from process start to the first request for two builds of the
# installer side by side, ROUNDS times each (default 9), their order swapped
# every other round. Both must be built with TOLVIN_DOWNLOAD_HOST=HOST:PORT.
# The local HTTPS server listens on that port and trickles the setup program
# at 1 byte/s; the time is taken from just before `wine` starts the installer
# until the server's log shows its request, then the installer is killed.
# Runs in the Wine prefix and test CA of TOLVIN_BENCH_DIR (default
# build/test, made by tools/test.sh), whose user has no proxy settings: a
# missing value reads as auto-detection on, as on a fresh Windows.
# Prints each build's median with its spread (min-max) and the median of the
# per-round differences (AFTER - BEFORE).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -lt 3 ]; then
    echo "usage: $0 HOST:PORT BEFORE.exe AFTER.exe [ROUNDS]" >&2
    exit 2
fi
port=${1##*:}
before=$(realpath "$2")
after=$(realpath "$3")
rounds=${4:-9}
build=$(realpath -m "${TOLVIN_BENCH_DIR:-$root/build/test}")
export WINEPREFIX=$build/wineprefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
cd "$root"
# The display first: the first Wine program starts the prefix's desktop on it.
# shellcheck source=tools/xvfb.sh
. tools/xvfb.sh
start_private_display
out=$(mktemp -d "$build/bench-start.XXXXXX")
cleanup() {
    rm -rf "$out"
    wineserver -k 2>/dev/null || true
    kill "$TOLVIN_XVFB_PID" 2>/dev/null || true
}
trap cleanup EXIT
# A running wineserver and services, so no round pays for starting them.
wineserver -p 2>/dev/null || true  # fails when one is already up
wine wineboot </dev/null >/dev/null 2>&1 || true
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections'
if wine reg query "$key" /v DefaultConnectionSettings >/dev/null 2>&1; then
    echo "$0: the prefix's user has proxy settings; the bench wants none" >&2
    exit 1
fi
mkdir "$out/before" "$out/after"
cp "$before" "$out/before/tolvin-installer.exe"
cp "$after" "$out/after/tolvin-installer.exe"

/usr/bin/python3 - "$root" "$build" "$out" "$port" "$rounds" <<'PY'
import os, statistics, subprocess, sys, time
root, build, out, port, rounds = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5])
log = os.path.join(out, "requests.log")
port_file = os.path.join(out, "port")
server = subprocess.Popen(["/usr/bin/python3", os.path.join(root, "tools/download_server.py"), "--cert-dir",
                           os.path.join(build, "test-ca"), "--port", str(port), "--log", log, "--port-file",
                           port_file, "--rate", "1", "--watch-pid", str(os.getpid())])

def lines():
    try:
        with open(log) as f:
            return sum(1 for _ in f)
    except FileNotFoundError:
        return 0

def first_request(name):
    seen = lines()
    work = os.path.join(out, name)
    start = time.monotonic()
    proc = subprocess.Popen(["wine", os.path.join(work, "tolvin-installer.exe")], cwd=work,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        while lines() == seen:
            if proc.poll() is not None:
                sys.exit("%s: ended with %d before its request" % (name, proc.returncode))
            if time.monotonic() - start > 60:
                sys.exit("%s: no request within 60 s" % name)
            time.sleep(0.002)
        return (time.monotonic() - start) * 1000.0
    finally:
        proc.kill()
        proc.wait()
        # The killed installer's half-written file must not hold up the next round.
        time.sleep(0.5)
        for entry in os.listdir(work):
            if entry != "tolvin-installer.exe":
                os.remove(os.path.join(work, entry))

try:
    while not os.path.exists(port_file):
        if server.poll() is not None:
            sys.exit("download server did not start")
        time.sleep(0.05)
    first_request("before")  # warms the page cache and Wine's services for both
    first_request("after")
    times = {"before": [], "after": []}
    for n in range(rounds):
        for name in (("before", "after") if n % 2 == 0 else ("after", "before")):
            times[name].append(first_request(name))
        print("round %d: before %.0f ms, after %.0f ms" % (n + 1, times["before"][-1], times["after"][-1]))
finally:
    server.terminate()
    server.wait()

def summary(values):
    return "%.0f ms (%.0f-%.0f)" % (statistics.median(values), min(values), max(values))

print("before: %s" % summary(times["before"]))
print("after:  %s" % summary(times["after"]))
print("after - before, per round: %s" % summary([a - b for a, b in zip(times["after"], times["before"])]))
print("load average: %s" % open("/proc/loadavg").read().strip())
PY
