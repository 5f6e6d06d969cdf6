#!/usr/bin/env bash
# Usage: tools/bench-ui.sh [ROUNDS] [MiB]
# Does showing the splash slow the download down? Under a private Xvfb display,
# ui_bench.exe shows the 560 x 310 splash (the shipped pictures, PaintSplash)
# and downloads MiB (default 256) from the local HTTPS server with DownloadFile
# on a worker thread, ROUNDS times (default 5) in each of two modes, alternated
# in one process (a then b in odd rounds, b then a in even ones):
#   a) the installer's callback, MakeProgressCallback(hwnd): the UI thread repaints
#   b) RecordProgress only: nothing is invalidated, nothing painted
# Prints per round and median: MiB/s of each, a/b (target >= 0.95), the
# WM_PAINTs handled during a (count, per second, mean paint time), and the UI
# thread's CPU time (GetThreadTimes kernel+user) as a share of the download's
# wall time. Builds ui_bench in TOLVIN_BENCH_DIR (default build/bench).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
rounds=${1:-5}
mib=${2:-256}
# shellcheck source=tools/bench-env.sh
. tools/bench-env.sh
bench_prepare ui_bench

# The X server's CPU time over the whole run: only mode a draws, so nearly all
# of it belongs to a's downloads.
xvfb_ticks() { awk '{print $14 + $15}' "/proc/$TOLVIN_XVFB_PID/stat"; }
xvfb_before=$(xvfb_ticks)
export BENCH_ROUNDS=$rounds BENCH_OUT=$out BENCH_BUILD=$build BENCH_ROOT=$root BENCH_SIZE=$((mib * 1048576))
# Runs inside the server wrapper, which exports TOLVIN_TEST_PORT.
# shellcheck disable=SC2016
tools/with-download-server.sh "$build/test-ca" - -- bash -c '
set -euo pipefail
url=https://localhost:$TOLVIN_TEST_PORT/bytes/$BENCH_SIZE
save="Z:$(printf %s "$BENCH_OUT/download.bin" | tr / \\\\)"
"$BENCH_ROOT/tools/wine-run.sh" "$BENCH_BUILD/wineprefix" "$BENCH_BUILD/tests/paint/ui_bench.exe" \
    "$url" "${url%/*}/4096" "$save" "$BENCH_ROUNDS" | tr -d "\r"
' >"$out/results.txt"
echo "xvfb_cpu $(( $(xvfb_ticks) - xvfb_before )) $(getconf CLK_TCK)" >>"$out/results.txt"

/usr/bin/python3 - "$out/results.txt" "$BENCH_SIZE" "$rounds" <<'EOF'
import statistics, sys
MiB = 1024.0 * 1024.0
size, rounds = int(sys.argv[2]), int(sys.argv[3])
runs = {}
xvfb_seconds = None
for line in open(sys.argv[1]):
    f = line.split()
    if len(f) == 3 and f[0] == "xvfb_cpu":
        xvfb_seconds = int(f[1]) / int(f[2])
    if len(f) != 8 or f[1] not in ("a", "b"):
        continue
    seconds, got = float(f[2]), int(f[3])
    if got != size:
        sys.exit("mode %s received %d of %d bytes in round %s" % (f[1], got, size, f[0]))
    runs.setdefault(int(f[0]), {})[f[1]] = {
        "mibs": size / MiB / seconds, "seconds": seconds, "paints": int(f[4]),
        "paint_s": float(f[5]), "ui_cpu": float(f[6]), "worker_cpu": float(f[7])}
if sorted(runs) != list(range(1, rounds + 1)) or any(len(r) != 2 for r in runs.values()):
    sys.exit("expected modes a and b in rounds 1..%d, got %s" % (rounds, sorted(runs)))

def Figures(r):
    a, b = r["a"], r["b"]
    return [a["mibs"], b["mibs"], a["mibs"] / b["mibs"], a["paints"], a["paints"] / a["seconds"],
            1000.0 * a["paint_s"] / max(a["paints"], 1), a["paint_s"] / a["seconds"],
            a["ui_cpu"] / a["seconds"], b["ui_cpu"] / b["seconds"], b["paints"],
            a["worker_cpu"] / a["seconds"], b["worker_cpu"] / b["seconds"]]

print("%-8s %8s %8s %6s | %7s %8s %9s %10s | %9s %9s %8s | %8s %8s" % (
    "", "a MiB/s", "b MiB/s", "a/b", "paints", "paints/s", "ms/paint", "paint/wall",
    "UI cpu a", "UI cpu b", "paints b", "wrk cpu a", "wrk cpu b"))
rows = {n: Figures(runs[n]) for n in sorted(runs)}
def Row(label, x):
    print("%-8s %8.1f %8.1f %6.3f | %7d %8.1f %9.2f %9.1f%% | %8.1f%% %8.1f%% %8d | %8.1f%% %8.1f%%" % (
        label, x[0], x[1], x[2], x[3], x[4], x[5], 100 * x[6], 100 * x[7], 100 * x[8], x[9],
        100 * x[10], 100 * x[11]))
for n, x in rows.items():
    Row("round %d" % n, x)
Row("median", [statistics.median(x[i] for x in rows.values()) for i in range(12)])
print("(median row: medians of the per-round figures; %d MiB per run; CPU shares are"
      " GetThreadTimes kernel+user over the run's wall time)" % (size // 1048576))
a_wall = sum(r["a"]["seconds"] for r in runs.values())
print("Xvfb CPU over the whole run: %.2f s, %.1f%% of the wall time of all mode a downloads (%.2f s)" % (
    xvfb_seconds, 100 * xvfb_seconds / a_wall, a_wall))
ratio = statistics.median(x[2] for x in rows.values())
print("a/b median %.3f: %s (target >= 0.95)" % (ratio, "met" if ratio >= 0.95 else "NOT met"))
EOF
