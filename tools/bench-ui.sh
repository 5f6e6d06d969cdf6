#!/usr/bin/env bash
# Usage: tools/bench-ui.sh [ROUNDS] [MiB] [RATE]
# Does showing the splash slow the download down, and what does it cost in CPU?
# Under a private Xvfb display, ui_bench.exe shows the 560 x 310 splash (the
# shipped pictures, PaintSplash) and downloads MiB (default 256) from the local
# HTTPS server with DownloadIntoKeptFile on a worker thread, ROUNDS times (default 7)
# in each of two modes, alternated in one process (a then b in odd rounds, b
# then a in even ones):
#   a) the installer's callback, MakeProgressCallback(hwnd), and its window's
#      paint clock: a step that changes what the splash shows is painted, at
#      most one paint per clock tick
#   b) RecordProgress only: nothing is invalidated, nothing painted
# RATE (bytes per second, default 0 = as fast as it goes) has the server pace
# the body as a slow line would; both modes then take the same wall time and
# the figure that matters is the CPU a costs beyond b.
# Prints per round, then the median, min and max over rounds: MiB/s of each,
# a/b (target >= 0.95 unpaced), the WM_PAINTs handled during a (count, per
# second, mean paint time), the UI thread's CPU time (GetThreadTimes
# kernel+user) as a share of the download's wall time, and the CPU seconds a
# took beyond b in the same round, for the whole process (GetProcessTimes) and
# for the UI plus worker threads. Builds ui_bench in TOLVIN_BENCH_DIR (default
# build/bench).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
rounds=${1:-7}
mib=${2:-256}
rate=${3:-0}
# shellcheck source=tools/bench-env.sh
. tools/bench-env.sh
bench_prepare ui_bench

# The X server's CPU time over the whole run: only mode a draws, so nearly all
# of it belongs to a's downloads.
xvfb_ticks() { awk '{print $14 + $15}' "/proc/$TOLVIN_XVFB_PID/stat"; }
xvfb_before=$(xvfb_ticks)
export BENCH_ROUNDS=$rounds BENCH_OUT=$out BENCH_BUILD=$build BENCH_ROOT=$root BENCH_SIZE=$((mib * 1048576))
export BENCH_RATE=$rate
# Runs inside the server wrapper, which exports TOLVIN_TEST_PORT.
# shellcheck disable=SC2016
tools/with-download-server.sh "$build/test-ca" - -- bash -c '
set -euo pipefail
base=https://localhost:$TOLVIN_TEST_PORT/bytes
url=$base/$BENCH_SIZE
[ "$BENCH_RATE" = 0 ] || url="$url?rate=$BENCH_RATE"
save="Z:$(printf %s "$BENCH_OUT/download.bin" | tr / \\\\)"
"$BENCH_ROOT/tools/wine-run.sh" "$BENCH_BUILD/wineprefix" "$BENCH_BUILD/tests/paint/ui_bench.exe" \
    "$url" "$base/4096" "$save" "$BENCH_ROUNDS" | tr -d "\r"
' >"$out/results.txt"
echo "xvfb_cpu $(( $(xvfb_ticks) - xvfb_before )) $(getconf CLK_TCK)" >>"$out/results.txt"

/usr/bin/python3 - "$out/results.txt" "$BENCH_SIZE" "$rounds" "$rate" <<'EOF'
import statistics, sys
MiB = 1024.0 * 1024.0
size, rounds, rate = int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
runs = {}
xvfb_seconds = None
for line in open(sys.argv[1]):
    f = line.split()
    if len(f) == 3 and f[0] == "xvfb_cpu":
        xvfb_seconds = int(f[1]) / int(f[2])
    if len(f) != 9 or f[1] not in ("a", "b"):
        continue
    seconds, got = float(f[2]), int(f[3])
    if got != size:
        sys.exit("mode %s received %d of %d bytes in round %s" % (f[1], got, size, f[0]))
    runs.setdefault(int(f[0]), {})[f[1]] = {
        "mibs": size / MiB / seconds, "seconds": seconds, "paints": int(f[4]),
        "paint_s": float(f[5]), "ui_cpu": float(f[6]), "worker_cpu": float(f[7]), "cpu": float(f[8])}
if sorted(runs) != list(range(1, rounds + 1)) or any(len(r) != 2 for r in runs.values()):
    sys.exit("expected modes a and b in rounds 1..%d, got %s" % (rounds, sorted(runs)))

# (header, decimals, figure of one round from its a and b runs)
COLUMNS = [
    ("a MiB/s", 2, lambda a, b: a["mibs"]),
    ("b MiB/s", 2, lambda a, b: b["mibs"]),
    ("a/b", 3, lambda a, b: a["mibs"] / b["mibs"]),
    ("paints a", 0, lambda a, b: a["paints"]),
    ("paints/s", 1, lambda a, b: a["paints"] / a["seconds"]),
    ("ms/paint", 3, lambda a, b: 1000.0 * a["paint_s"] / max(a["paints"], 1)),
    ("UI a %", 2, lambda a, b: 100.0 * a["ui_cpu"] / a["seconds"]),
    ("UI b %", 2, lambda a, b: 100.0 * b["ui_cpu"] / b["seconds"]),
    ("paints b", 0, lambda a, b: b["paints"]),
    ("proc a-b s", 3, lambda a, b: a["cpu"] - b["cpu"]),
    ("UI+wrk a-b s", 3, lambda a, b: a["ui_cpu"] + a["worker_cpu"] - b["ui_cpu"] - b["worker_cpu"]),
]
NAMES = [c[0] for c in COLUMNS]
rows = {n: [c[2](runs[n]["a"], runs[n]["b"]) for c in COLUMNS] for n in sorted(runs)}

def Row(label, values):
    cells = ("%*.*f" % (max(len(c[0]), 8), c[1], v) for c, v in zip(COLUMNS, values))
    print("%-8s %s" % (label, " ".join(cells)))

print("%-8s %s" % ("", " ".join("%*s" % (max(len(c[0]), 8), c[0]) for c in COLUMNS)))
for n, values in rows.items():
    Row("round %d" % n, values)
for label, pick in (("median", statistics.median), ("min", min), ("max", max)):
    Row(label, [pick(values[i] for values in rows.values()) for i in range(len(COLUMNS))])
print("(%d MiB per run, %s; UI shares: GetThreadTimes kernel+user over the run's wall time;"
      " a-b: CPU seconds of a minus b in the same round)" % (
          size // 1048576, "paced at %d bytes/s" % rate if rate else "unpaced"))
a_wall = sum(r["a"]["seconds"] for r in runs.values())
print("Xvfb CPU over the whole run: %.2f s, %.1f%% of the wall time of all mode a downloads (%.2f s)" % (
    xvfb_seconds, 100 * xvfb_seconds / a_wall, a_wall))

def Median(name):
    return statistics.median(values[NAMES.index(name)] for values in rows.values())
if not rate:
    print("a/b median %.3f: %s (target >= 0.95)" % (
        Median("a/b"), "met" if Median("a/b") >= 0.95 else "NOT met"))
print("UI thread CPU medians: a %.2f%%, b %.2f%% of the wall time (target <= 5%%)" % (
    Median("UI a %"), Median("UI b %")))
EOF
