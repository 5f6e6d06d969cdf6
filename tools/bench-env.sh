# Sourced by the benchmark scripts: builds TARGET in the bench build folder,
# makes its Wine prefix, starts a private display and a scratch folder, and
# cleans all of it up when the sourcing shell exits. Sets `build` and `out`.
# Usage: bench_prepare TARGET   (folder: TOLVIN_BENCH_DIR, default build/bench)
bench_prepare() {
    local target=$1
    build=$(realpath -m "${TOLVIN_BENCH_DIR:-$root/build/bench}")
    tools/setup.sh
    cmake --preset test -B "$build" >/dev/null
    cmake --build "$build" -j2 --target "$target" >/dev/null
    tools/make-wine-prefix.sh "$build/wineprefix" "$build/test-ca"

    # shellcheck source=tools/xvfb.sh
    . tools/xvfb.sh
    start_private_display

    out=$(mktemp -d "$build/bench-out.XXXXXX")
    trap bench_cleanup EXIT
}

bench_cleanup() {
    rm -rf "$out"
    WINEPREFIX=$build/wineprefix wineserver -k 2>/dev/null || true
    if [ -n "${TOLVIN_XVFB_PID:-}" ]; then
        kill "$TOLVIN_XVFB_PID" 2>/dev/null || true
    fi
}
