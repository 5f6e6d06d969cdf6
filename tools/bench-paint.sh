#!/usr/bin/env bash
# Times the splash paint under Wine: the median of many paints into a memory
# context with the shipped pictures, then the same into a window on a private
# virtual display, at 100 % and at 200 % (192 DPI).
# Usage: tools/bench-paint.sh [paints]   (default 2000)
# The build folder is TOLVIN_BUILD_DIR (default build/paint).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=$(realpath -m "${TOLVIN_BUILD_DIR:-$root/build/paint}")
cmake --preset test -B "$build" >/dev/null
cmake --build "$build" -j2 --target paint_bench
# The prefix (font substitute for "Microsoft YaHei") comes from the tests' fixture.
ctest --test-dir "$build" -R '^wine_prefix$' --timeout 900 >/dev/null
# shellcheck source=tools/xvfb.sh
. tools/xvfb.sh
start_private_display
status=0
tools/wine-run.sh "$build/wineprefix" "$build/tests/paint/paint_bench.exe" "$@" || status=$?
WINEPREFIX=$build/wineprefix wineserver -k 2>/dev/null || true
exit $status
