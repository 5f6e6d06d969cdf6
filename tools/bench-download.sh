#!/usr/bin/env bash
# Usage: tools/bench-download.sh [ROUNDS]
#        tools/bench-download.sh cut [ROUNDS]
# Downloads a 256 MiB body from the local HTTPS server, ROUNDS times (default
# 5), each round with:
#   a) DownloadIntoKeptFile into a file          } in bench_download.exe under
#   b) a bare WinHTTP loop, 8 KiB reads,         } Wine, one process per round,
#      data dropped                              } the order reversed every
#   w) b plus a WriteFile per chunk into a file  } other round
#   c) curl into a file, for context (Wine's TLS path is the ceiling for a/b)
# The bench process fetches a small body with each loop before timing, so the
# first connection's set-up is charged to none of them.
# and prints MiB/s for each, medians, the ratio a/b (and a/w: w shows how
# much of the time is the file's) and the bench
# process's peak memory as Windows reports it (GetProcessMemoryInfo under Wine).
# With "cut": DownloadIntoKeptFile of a 24 MiB body from a server that honours
# ranges, ROUNDS times (default 7), each round once whole and once with the
# connection dropped at half (continued after the 1 s pause), the order
# reversed every other round, one process each; prints seconds per round, the
# medians with min-max and the extra time of the cut download.
# Builds bench_download in TOLVIN_BENCH_DIR (default build/bench).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
mode="throughput"
if [ "${1:-}" = cut ]; then
    mode="cut"
    shift
fi
if [ "$mode" = cut ]; then rounds=${1:-7}; else rounds=${1:-5}; fi
# shellcheck source=tools/bench-env.sh
. tools/bench-env.sh
bench_prepare bench_download

if [ "$mode" = cut ]; then
    export BENCH_ROUNDS=$rounds BENCH_OUT=$out BENCH_BUILD=$build BENCH_ROOT=$root
    # shellcheck disable=SC2016
    tools/with-download-server.sh "$build/test-ca" - -- bash -c '
    set -euo pipefail
    size=25165824
    base="https://localhost:$TOLVIN_TEST_PORT/bytes/$size?ranges=1"
    exe=$BENCH_BUILD/tests/net/bench_download.exe
    save="Z:$(printf %s "$BENCH_OUT/download.bin" | tr / \\\\)"
    for round in $(seq "$BENCH_ROUNDS"); do
        # The id makes each round a new path, so "once" cuts its first request.
        whole="$base&id=whole$round"
        cut="$base&cut=$((size / 2))&once=1&id=cut$round"
        if [ $((round % 2)) -eq 1 ]; then urls="$whole $cut"; else urls="$cut $whole"; fi
        for url in $urls; do
            kind=whole
            case $url in *cut=*) kind=cut ;; esac
            "$BENCH_ROOT/tools/wine-run.sh" "$BENCH_BUILD/wineprefix" "$exe" "$url" "${url%%/bytes/*}/bytes/4096" \
                "$save" a | tr -d "\r" | sed -n "s/^download /$round $kind /p"
            rm -f "$BENCH_OUT/download.bin"
        done
    done
    ' >"$out/results.txt"

    /usr/bin/python3 - "$out/results.txt" <<'EOF'
import statistics, sys
SIZE = 25165824
rounds = {}
for line in open(sys.argv[1]):
    fields = line.split()
    if int(fields[3]) != SIZE:
        sys.exit("%s received %s bytes in round %s" % (fields[1], fields[3], fields[0]))
    rounds.setdefault(int(fields[0]), {})[fields[1]] = float(fields[2])
print("seconds   whole  cut at half   extra")
extra = []
for n in sorted(rounds):
    r = rounds[n]
    if len(r) != 2:
        sys.exit("round %d is missing a download" % n)
    extra.append(r["cut"] - r["whole"])
    print("round %-3d %5.3f  %11.3f  %6.3f" % (n, r["whole"], r["cut"], extra[-1]))
for kind in ("whole", "cut"):
    values = [r[kind] for r in rounds.values()]
    print("%-5s median %.3f s (min %.3f, max %.3f)" % (kind, statistics.median(values), min(values), max(values)))
print("extra median %.3f s (min %.3f, max %.3f), per round; target <= 1.5 s, the 1 s pause included" % (
    statistics.median(extra), min(extra), max(extra)))
EOF
    exit 0
fi

export BENCH_ROUNDS=$rounds BENCH_OUT=$out BENCH_BUILD=$build BENCH_ROOT=$root
# Runs inside the server wrapper, which exports TOLVIN_TEST_PORT.
# shellcheck disable=SC2016
tools/with-download-server.sh "$build/test-ca" - -- bash -c '
set -euo pipefail
size=268435456
url=https://localhost:$TOLVIN_TEST_PORT/bytes/$size
exe=$BENCH_BUILD/tests/net/bench_download.exe
save="Z:$(printf %s "$BENCH_OUT/download.bin" | tr / \\\\)"
for round in $(seq "$BENCH_ROUNDS"); do
    if [ $((round % 2)) -eq 1 ]; then order=abw; else order=wba; fi
    "$BENCH_ROOT/tools/wine-run.sh" "$BENCH_BUILD/wineprefix" "$exe" "$url" "${url%/*}/4096" "$save" "$order" |
        tr -d "\r" | sed "s/^/$round /"
    curl --silent --show-error --fail --cacert "$BENCH_BUILD/test-ca/ca.pem" -o "$BENCH_OUT/curl.bin" \
        -w "$round curl %{time_total} %{size_download}\n" "$url"
    rm -f "$BENCH_OUT/curl.bin" "$BENCH_OUT/download.bin"
done
' >"$out/results.txt"

/usr/bin/python3 - "$out/results.txt" <<'EOF'
import statistics, sys
MiB = 1024.0 * 1024.0
SIZE = 268435456
kinds = ["download", "bare", "bare+write", "curl"]
rounds, memory = {}, {}
for line in open(sys.argv[1]):
    fields = line.split()
    if len(fields) == 4 and fields[1] in kinds:
        seconds, size = float(fields[2]), int(fields[3])
        if size != SIZE:
            sys.exit("%s received %d bytes in round %s" % (fields[1], size, fields[0]))
        rounds.setdefault(int(fields[0]), {})[fields[1]] = SIZE / MiB / seconds
    elif len(fields) == 3:
        memory.setdefault(fields[1], []).append(int(fields[2]))
for n, r in rounds.items():
    missing = [k for k in kinds if k not in r]
    if missing:
        sys.exit("round %d has no result for %s" % (n, ", ".join(missing)))

print("MiB/s    a) engine  b) bare WinHTTP  w) bare+WriteFile  c) curl"
      "    a/b    a/w")
def Row(label, r, ratios):
    print("%-8s %15.1f  %15.1f  %17.1f  %7.1f  %s" % (
        label, r["download"], r["bare"], r["bare+write"], r["curl"],
        "  ".join("%5.3f" % x for x in ratios)))
def Ratios(r):
    return [r["download"] / r["bare"], r["download"] / r["bare+write"]]
for n in sorted(rounds):
    Row("round %d" % n, rounds[n], Ratios(rounds[n]))
med = {k: statistics.median(r[k] for r in rounds.values()) for k in kinds}
per_round = [Ratios(r) for r in rounds.values()]
Row("median", med, [statistics.median(x[i] for x in per_round) for i in range(2)])
print("(ratios in the median row: medians of the per-round ratios)")
print("a/b from the medians: %.3f (target >= 0.95)" % (med["download"] / med["bare"]))
print("bench process (the whole Wine process, all three loops; max over rounds): "
      "working set at start %.1f MiB, peak working set %.1f MiB, peak pagefile usage %.1f MiB" % (
          max(memory["start_working_set"]) / MiB, max(memory["peak_working_set"]) / MiB,
          max(memory["peak_pagefile"]) / MiB))
EOF
