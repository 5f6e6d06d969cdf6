#!/usr/bin/env bash
# Sets up what is missing, builds the test configuration and runs every test
# under Wine on a private virtual display. Extra arguments go to ctest
# (for example: -R net_tests). For work on one module:
#   TOLVIN_BUILD_DIR=build/mine TOLVIN_BUILD_TARGETS="net_tests" tools/test.sh -R net
# Two checkouts testing at once need their own fixed ports for the end-to-end
# tests' installer, given as extra configure settings:
#   TOLVIN_CMAKE_ARGS="-DTOLVIN_DOWNLOAD_HOST=localhost:49443 -DTOLVIN_SUPPORT_HOST=localhost:49444"
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tools/setup.sh
build=$(realpath -m "${TOLVIN_BUILD_DIR:-$root/build/test}")
# shellcheck disable=SC2086
cmake --preset test -B "$build" ${TOLVIN_CMAKE_ARGS:-} >/dev/null
if [ -n "${TOLVIN_BUILD_TARGETS:-}" ]; then
    # shellcheck disable=SC2086
    cmake --build "$build" -j2 --target $TOLVIN_BUILD_TARGETS
else
    cmake --build "$build" -j2
fi
# shellcheck source=tools/xvfb.sh
. tools/xvfb.sh
start_private_display
# Start the prefix's wineserver and Wine's background services here, detached
# from ctest: whichever program starts them hands them its output pipe, and
# ctest would then wait on that test until the services end.
tools/make-wine-prefix.sh "$build/wineprefix" "$build/test-ca"
export WINEPREFIX=$build/wineprefix
wineserver -p
WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wine wineboot </dev/null >/dev/null 2>&1 || true
unset WINEPREFIX
status=0
# A test that fails is run once more before it counts as failed. Seen twice in
# about ten full runs: from one moment on, every page that install_tests asks
# Wine's desktop shell to open fails for the rest of that test process (the
# notice then gives the addresses), while a new process reaches the shell at
# once; the cause is not found (see docs/testing.md). A fault of ours fails
# both runs.
ctest --test-dir "$build" --output-on-failure -j2 --timeout 900 --repeat until-pass:2 "$@" || status=$?
# Leave no Wine processes of this prefix behind.
WINEPREFIX=$build/wineprefix wineserver -k 2>/dev/null || true
exit $status
