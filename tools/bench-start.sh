#!/usr/bin/env bash
# Usage: tools/bench-start.sh HOST:PORT BEFORE.exe AFTER.exe [ROUNDS]
# Starts two builds of the installer and a bare window program side by side,
# ROUNDS times each (default 11), the three in a rotating order, and times
# from just before `wine` starts a program:
#  - launch to visible: until the centre of the screen, where both windows
#    open, first shows something else than before the start. Read from the X
#    server (XGetImage of the root every 2 ms) rather than from a probe inside
#    Wine: what the display shows is what the user sees, and a window that
#    Wine has mapped but not yet painted shows nothing there (checked: the
#    first change already is the painted picture). The bare window
#    (tools/bare_window.cpp, built here) is the yardstick;
#  - first request (the installers only): until the server's log shows it.
# Both must be built with TOLVIN_DOWNLOAD_HOST=HOST:PORT. The local HTTPS
# server listens on that port and trickles the setup program at 1 byte/s; once
# both are seen the program is killed.
# Runs in the Wine prefix and test CA of TOLVIN_BENCH_DIR (default
# build/test, made by tools/test.sh), whose user has no proxy settings: a
# missing value reads as auto-detection on, as on a fresh Windows.
# Prints each figure's median with its spread (min-max), the per-round ratios
# to the bare window and differences (AFTER - BEFORE), and the load average
# before and after the rounds.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -lt 3 ]; then
    echo "usage: $0 HOST:PORT BEFORE.exe AFTER.exe [ROUNDS]" >&2
    exit 2
fi
port=${1##*:}
before=$(realpath "$2")
after=$(realpath "$3")
rounds=${4:-11}
build=$(realpath -m "${TOLVIN_BENCH_DIR:-$root/build/test}")
export WINEPREFIX=$build/wineprefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
cd "$root"
cmake --build "$build" --target bare_window >/dev/null
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
mkdir "$out/before" "$out/after" "$out/bare"
cp "$before" "$out/before/tolvin-installer.exe"
cp "$after" "$out/after/tolvin-installer.exe"
# Under the installer's name, so the prefix's settings for that name apply to both.
cp "$build/bare_window.exe" "$out/bare/tolvin-installer.exe"

/usr/bin/python3 - "$root" "$build" "$out" "$port" "$rounds" <<'PY'
import ctypes, os, statistics, subprocess, sys, time
root, build, out, port, rounds = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5])
log = os.path.join(out, "requests.log")
port_file = os.path.join(out, "port")
load_before = open("/proc/loadavg").read().strip()
server = subprocess.Popen(["/usr/bin/python3", os.path.join(root, "tools/download_server.py"), "--cert-dir",
                           os.path.join(build, "test-ca"), "--port", str(port), "--log", log, "--port-file",
                           port_file, "--rate", "1", "--watch-pid", str(os.getpid())])


class XImage(ctypes.Structure):
    _fields_ = [(name, ctypes.c_int) for name in ("width", "height", "xoffset", "format")] + \
               [("data", ctypes.c_void_p)] + \
               [(name, ctypes.c_int) for name in ("byte_order", "bitmap_unit", "bitmap_bit_order", "bitmap_pad",
                                                  "depth", "bytes_per_line", "bits_per_pixel")]


x11 = ctypes.CDLL("libX11.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XDefaultRootWindow.restype = ctypes.c_ulong
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XGetImage.restype = ctypes.POINTER(XImage)
x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                          ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
x11.XFree.argtypes = [ctypes.c_void_p]
x11.XDisplayWidth.argtypes = x11.XDisplayHeight.argtypes = [ctypes.c_void_p, ctypes.c_int]
display = x11.XOpenDisplay(None)
if not display:
    sys.exit("cannot open the display")
screen_root = x11.XDefaultRootWindow(display)
# 32 x 32 pixels at the screen's centre: inside both windows, which open centred.
centre = (x11.XDisplayWidth(display, 0) // 2 - 16, x11.XDisplayHeight(display, 0) // 2 - 16, 32, 32)


def screen_centre():
    image = x11.XGetImage(display, screen_root, *centre, 0xFFFFFFFF, 2)  # AllPlanes, ZPixmap
    if not image:
        sys.exit("XGetImage failed")
    data = ctypes.string_at(image.contents.data, image.contents.bytes_per_line * image.contents.height)
    x11.XFree(image.contents.data)
    x11.XFree(image)
    return data


def lines():
    try:
        with open(log) as f:
            return sum(1 for _ in f)
    except FileNotFoundError:
        return 0


def launch(name):
    """Milliseconds to the first change at the screen's centre and, for an installer, to its request."""
    idle = screen_centre()
    seen = lines()
    work = os.path.join(out, name)
    visible = request = None
    start = time.monotonic()
    proc = subprocess.Popen(["wine", os.path.join(work, "tolvin-installer.exe")], cwd=work,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        while visible is None or (request is None and name != "bare"):
            now = (time.monotonic() - start) * 1000.0
            if visible is None and screen_centre() != idle:
                visible = now
            if request is None and lines() != seen:
                request = now
            if proc.poll() is not None:
                sys.exit("%s: ended with %d before it was seen" % (name, proc.returncode))
            if now > 60000:
                sys.exit("%s: not seen within 60 s" % name)
            time.sleep(0.002)
        return visible, request
    finally:
        proc.kill()
        proc.wait()
        # The killed installer's half-written file must not hold up the next
        # round, nor its window the next one's look at the screen.
        time.sleep(0.5)
        for entry in os.listdir(work):
            if entry != "tolvin-installer.exe":
                os.remove(os.path.join(work, entry))
        deadline = time.monotonic() + 10
        while screen_centre() != idle and time.monotonic() < deadline:
            time.sleep(0.05)


names = ("bare", "before", "after")
try:
    while not os.path.exists(port_file):
        if server.poll() is not None:
            sys.exit("download server did not start")
        time.sleep(0.05)
    for name in names:
        launch(name)  # warms the page cache and Wine's services for all three
    visible = {name: [] for name in names}
    request = {"before": [], "after": []}
    for n in range(rounds):
        for name in names[n % 3:] + names[:n % 3]:
            shown, asked = launch(name)
            visible[name].append(shown)
            if name != "bare":
                request[name].append(asked)
        print("round %d: visible bare %.0f, before %.0f, after %.0f ms; request before %.0f, after %.0f ms"
              % (n + 1, visible["bare"][-1], visible["before"][-1], visible["after"][-1], request["before"][-1],
                 request["after"][-1]))
finally:
    server.terminate()
    server.wait()


def summary(values, unit=" ms", digits=0):
    return "%.*f%s (%.*f-%.*f)" % (digits, statistics.median(values), unit, digits, min(values), digits, max(values))


def ratios(name):
    return [a / b for a, b in zip(visible[name], visible["bare"])]


print("launch to visible, bare window: %s" % summary(visible["bare"]))
print("launch to visible, before:      %s" % summary(visible["before"]))
print("launch to visible, after:       %s" % summary(visible["after"]))
print("before / bare, per round:       %s" % summary(ratios("before"), "", 3))
print("after / bare, per round:        %s" % summary(ratios("after"), "", 3))
print("first request, before:          %s" % summary(request["before"]))
print("first request, after:           %s" % summary(request["after"]))
print("after - before, per round:      %s" % summary([a - b for a, b in zip(request["after"], request["before"])]))
print("load average: %s before, %s after" % (load_before, open("/proc/loadavg").read().strip()))
PY
